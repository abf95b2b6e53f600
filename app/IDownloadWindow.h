#pragma once
#include <QString>

// The main window as a download reaches it (through CDownloadView, which carries each call to
// the window's thread). The window implements it; the view knows nothing else of the window
// but the download's progress bar.
class IDownloadWindow {
public:
    virtual ~IDownloadWindow() = default;

    virtual void AddStatusLine(const QString& text, bool isFileLink) = 0;
    virtual QString GetStatusText() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void ClearStatusList() = 0;
    // The download is over: its controls come back.
    virtual void OnDownloadFinished() = 0;
    // Ends the program with exitStatus.
    virtual void HaltProgram(int exitStatus) = 0;
};
