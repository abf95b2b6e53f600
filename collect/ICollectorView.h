#pragma once
#include "platform/IStatusReporter.h"

// What the collector needs of the main window: its status operations (lamp state 3 also
// after a failed write), the setting inputs, the Start, Stop and Get OID buttons, the status
// list and a parent for the File Name dialog. UI thread only: the collector's workers reach it
// through platform::SendToUi. Tests implement it headless.
class ICollectorView : public IStatusReporter {
public:
    enum class RunButton { Start, Stop, GetOid };
    // What to do with a data file that exists (the File Name dialog's choices); 0 is Cancel.
    static constexpr int kCancel = 0;
    static constexpr int kSaveContinuously = 1;
    static constexpr int kOverwrite = 2;
    static constexpr int kRename = 3;

    // The collector never reads the status text back; a view that shows one overrides this.
    QString GetStatusText() const override { return {}; }

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
