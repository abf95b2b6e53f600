#pragma once
#include "download/IDownloadView.h"

#include <QObject>
#include <QPointer>

#include <atomic>

class IDownloadWindow;

// The main window as the download sees it. Each call is carried whole to the window thread
// while the download waits; progress alone is posted without waiting. Once Close() has run
// (on the window thread, before the window waits for the download) every call is dropped.
class CDownloadView : public IDownloadView {
public:
    // window is the object behind owner (the main window); once owner is gone nothing reaches it.
    CDownloadView(QObject* owner, IDownloadWindow* window);

    void AddStatusLine(const std::string& text, bool isFileLink) override;
    std::string GetStatusText() override;
    void SetStatusText(const std::string& text) override;
    void ClearStatusList() override;
    void MessageBox(const std::string& text) override;
    void ShowProgress(int pairsDone, int pairCount, int records, int recordCount) override;
    void HideProgress() override;
    void EnableDownloadControls() override;
    void HaltProgram(int exitStatus) override;

    void Close() { m_bClosed = true; }

private:
    // Runs fn with the window on the window thread and waits for it; nothing once closed.
    template <typename Fn>
    void Call(Fn fn);

    // Set once; the window waits for the download before it goes, so the download may copy it.
    const QPointer<QObject> m_pOwner;
    IDownloadWindow* const m_pWindow;
    std::atomic<bool> m_bClosed {false};
};
