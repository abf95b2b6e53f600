#pragma once
#include <QString>

// The main window as a download reaches it (through CDownloadView, which carries each call to
// the window's thread). The window implements it; the view knows nothing else of the window.
class IDownloadWindow {
public:
    virtual ~IDownloadWindow() = default;

    virtual void AddStatusLine(const QString& text, bool isFileLink) = 0;
    virtual QString GetStatusText() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void ClearStatusList() = 0;
    // pairsDone of pairCount port/channel pairs, records of recordCount of the current channel.
    virtual void ShowDownloadProgress(int pairsDone, int pairCount, int records, int recordCount) = 0;
    virtual void HideDownloadProgress() = 0;
    // The download is over: its controls come back.
    virtual void OnDownloadFinished() = 0;
    // Ends the program with exitStatus.
    virtual void HaltProgram(int exitStatus) = 0;
};
