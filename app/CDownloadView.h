#pragma once
#include "download/IDownloadEvents.h"

#include <QObject>
#include <QPointer>

#include <atomic>

class IDownloadWindow;
class QProgressBar;

// The main window as the download sees it: the download's events turned into the window's status
// list, status text, message boxes, progress bar and controls. Each call is carried whole to
// the window thread while the download waits; progress alone is posted without waiting. Once
// Close() has run (on the window thread, before the window waits for the download) every call
// is dropped.
class CDownloadView : public IDownloadEvents {
public:
    // window is the object behind owner (the main window), progress its bar for the download;
    // once owner is gone nothing reaches them.
    CDownloadView(QObject* owner, IDownloadWindow* window, QProgressBar* progress);

    void AddStatusLine(const std::string& text, bool isFileLink) override;
    std::string GetStatusText() override;
    void SetStatusText(const std::string& text) override;
    void ClearStatusList() override;
    void Message(const std::string& text) override;
    void Progress(int pairsDone, int pairCount, int records, int recordCount) override;
    void ProgressEnded() override;
    // The controls come back (OnDownloadFinished), or the program halts.
    void Finished(const DownloadResult& result) override;

    void Close() { m_bClosed = true; }

private:
    // Runs fn with the window on the window thread and waits for it; nothing once closed.
    template <typename Fn>
    void Call(Fn fn);

    // Set once; the window waits for the download before it goes, so the download may copy it.
    const QPointer<QObject> m_pOwner;
    IDownloadWindow* const m_pWindow;
    const QPointer<QProgressBar> m_pProgress;
    std::atomic<bool> m_bClosed {false};
};
