#pragma once
#include "download/CDownloadDriver.h"
#include "download/IDownloadEvents.h"

#include <mutex>
#include <string>
#include <vector>

// A headless front end: records every call of a download, in order, as one text each.
// "line: ...", "link: ...", "box: ...", "text: ...", "clear", and the end as the window takes
// it: "enable" (its controls back) or "halt: N"; progress calls are counted apart, since their
// number depends on timing.
class RecordingView : public IDownloadEvents {
public:
    void AddStatusLine(const std::string& text, bool isFileLink) override
    {
        Record((isFileLink ? "link: " : "line: ") + text);
    }
    std::string GetStatusText() override
    {
        std::lock_guard lock(m_mutex);
        return m_strStatusText;
    }
    void SetStatusText(const std::string& text) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_strStatusText = text;
        }
        Record("text: " + text);
    }
    void ClearStatusList() override { Record("clear"); }
    void Message(const std::string& text) override { Record("box: " + text); }
    void Progress(int pairsDone, int pairCount, int records, int recordCount) override
    {
        std::lock_guard lock(m_mutex);
        ++m_nProgressCalls;
        m_lastProgress = {pairsDone, pairCount, records, recordCount};
        m_bProgressShown = true;
    }
    void ProgressEnded() override
    {
        std::lock_guard lock(m_mutex);
        m_bProgressShown = false;
    }
    void Finished(const DownloadResult& result) override
    {
        Record(result.halted ? "halt: " + std::to_string(CDownloadDriver::kHaltStatus) : "enable");
    }

    std::vector<std::string> Calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    bool ProgressShown() const
    {
        std::lock_guard lock(m_mutex);
        return m_bProgressShown;
    }
    std::vector<int> LastProgress() const
    {
        std::lock_guard lock(m_mutex);
        return m_lastProgress;
    }
    int ProgressCalls() const
    {
        std::lock_guard lock(m_mutex);
        return m_nProgressCalls;
    }
    void Reset()
    {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
        m_nProgressCalls = 0;
        m_bProgressShown = false;
    }
    void SetInitialStatusText(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        m_strStatusText = text;
    }

private:
    void Record(const std::string& call)
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::string m_strStatusText;
    std::vector<int> m_lastProgress;
    int m_nProgressCalls = 0;
    bool m_bProgressShown = false;
};
