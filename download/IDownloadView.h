#pragma once
#include <string>

// What a download needs of its front end: the main window, or the command line's stderr.
//
// Every call comes from the download's own thread. A front end that owns windows carries each
// call whole to its window thread and blocks the download until it has run there (for a
// message box, until the user has closed it). Texts are bytes as the unit and the settings
// give them.
class IDownloadView {
public:
    virtual ~IDownloadView() = default;

    // One line at the end of the status list; isFileLink when the line names a written file
    // between its first two double quotes.
    virtual void AddStatusLine(const std::string& text, bool isFileLink) = 0;
    virtual std::string GetStatusText() = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // Empties the status list and forgets its file-link marks.
    virtual void ClearStatusList() = 0;
    // An OK-only message box; returns once the user has closed it.
    virtual void MessageBox(const std::string& text) = 0;

    // The progress of the running download: pairsDone of pairCount port/channel pairs are
    // over, and of the current channel records of recordCount are in (recordCount 0 while its
    // status is being asked for). Shown from the first call to HideProgress.
    virtual void ShowProgress(int pairsDone, int pairCount, int records, int recordCount) = 0;
    virtual void HideProgress() = 0;

    // The end of a download: Download, then "Use local timezone", then "Overwrite existed file"
    // are enabled again.
    virtual void EnableDownloadControls() = 0;

    // No socket can be made: the program ends with exitStatus, the way it ends when its window
    // is closed (an open data file is closed). The message has already been shown. The
    // download returns at once after this call.
    virtual void HaltProgram(int exitStatus) = 0;
};
