#pragma once
#include <QString>

// What the collector needs of the main window: its status operations, the setting inputs, the
// Start, Stop and Get OID buttons, the status list and a parent for the File Name dialog.
// UI thread only: the collector's workers reach it through platform::SendToUi. Tests implement
// it headless. The status operations have the same signatures as IStatusReporter's, so one
// override in the main window serves both.
class ICollectorView {
public:
    enum class RunButton { Start, Stop, GetOid };
    // What to do with a data file that exists (the File Name dialog's choices); 0 is Cancel.
    static constexpr int kCancel = 0;
    static constexpr int kSaveContinuously = 1;
    static constexpr int kOverwrite = 2;
    static constexpr int kRename = 3;

    virtual ~ICollectorView() = default;

    virtual void AddStatusLine(const QString& text, bool isFileLink) = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // 1 idle (red), 2 collecting normally (green), 3 the last read or write failed (yellow).
    virtual void SetStatusLamp(int state) = 0;
    // The folder, password and period edits, Browse and the IP address control.
    virtual void EnableSettingInputs(bool enable) = 0;
    virtual void EnableRunButton(RunButton button, bool enable) = 0;
    virtual void FocusRunButton(RunButton button) = 0;
    // Empties the status list and forgets its file-link marks.
    virtual void ClearStatusList() = 0;
    // Asks what to do with the existing data file fileName: the File Name dialog, run modally
    // over the main window (CFileNameDialog::Ask). Returns kCancel or the choice; after a
    // choice fileName holds the edit's text, whatever the choice.
    virtual int RunFileNameDialog(QString& fileName) = 0;
};
