#pragma once
#include "app/CSettings.h"
#include "app/CTrayDialog.h"
#include "app/IDownloadWindow.h"
#include "collect/ColumnsSidecar.h"
#include "collect/ICollectorEvents.h"
#include "download/getdata.h"

#include <memory>
#include <string>
#include <vector>

class CCollector;
class CMainDownload;
class CGifAnimator;
class CIpAddressCtrl;
class CStatusListBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The main window: the unit's address, the community ("Password"), the collection period and
// the data folder with two download options; Start, Stop, Get OID and Download; and the status
// list, status text and status lamp through which every worker reports.
//
// Template 102, laid out in dialog units. Control ids are kept as the widgets' object names
// ("1000", ...), so GetDlgItem finds them.
class CMainDialog : public CTrayDialog, public ICollectorEvents, public IDownloadWindow {
    Q_OBJECT
public:
    enum ControlId {
        IdExit = 2,
        IdIpAddress = 1000,
        IdStatusList = 1001,
        IdPassword = 1002,
        IdPeriod = 1003,
        IdStart = 1004,
        IdGetOid = 1005,
        IdFolder = 1016,
        IdBrowse = 1017,
        IdStop = 1018,
        IdStatusText = 1029,
        IdLamp = 1031,
        IdCheckOverwrite = 1035,
        IdCheckLocalTimezone = 1036,
        IdDownload = 1037,
    };

    explicit CMainDialog(QWidget* parent = nullptr);
    ~CMainDialog() override;

    QWidget* GetDlgItem(int id) const;

    // The status operations (UI thread only), through which the collection's events and a
    // download (IDownloadWindow) reach the status list, text and lamp.
    void AddStatusLine(const QString& text, bool isFileLink) override;
    void SetStatusText(const QString& text) override;
    QString GetStatusText() const override;
    // kLampIdle, kLampCollecting or kLampReadFailed (platform/StatusLamp.h).
    void SetStatusLamp(int state);
    // Empties the status list and forgets its file-link marks.
    void ClearStatusList() override;

    // Enables or disables, in this order, the folder edit, the password edit, the period
    // edit, Browse and the IP address control.
    void EnableSettingInputs(bool enable);

    // ICollectorEvents: the collection as the window shows it (UI thread; a worker's events
    // arrive through platform::SendToUi while the worker waits).
    void RunStarted(const RunStart& start) override;
    void LineWritten(const CollectedLine& line, bool runGoesOn) override;
    void WriteFailed(const CollectedLine& line, const QString& error, bool runGoesOn) override;
    void LineAfterStop(const CollectedLine& line) override;
    void ReadFailed(const ReadFailure& failure) override;
    void RunEnded(RunEnd why) override;
    // The File Name dialog, run modally over the window.
    int AskExistingFile(QString& fileName) override;

    // The controls' values into the record, then the record into the settings file.
    bool SaveSettings();
    // The settings file's values, or the defaults, into the controls and the option flags.
    void LoadSettings();

    const CSettings& Settings() const { return m_settings; }
    const std::vector<std::string>& OidList() const { return m_oidList; }
    bool IsCollecting() const { return m_bCollecting; }
    // Null until the first Start, then kept to the end.
    const CCollector* Collector() const { return m_pCollector.get(); }

    // Ends the program with exitStatus, the way closing the window does.
    void HaltProgram(int exitStatus) override;
    int ExitStatus() const { return m_nExitStatus; }
    // The download's client (tests shorten its waits), and whether a download runs.
    getdata& DatalogClient();
    bool IsDownloading() const;

public slots:
    void OnStart();
    void OnStop();
    void OnGetOid();
    void OnBrowse();
    void OnDownload();
    // The end of a download: Download and the two check boxes are on again.
    void OnDownloadFinished() override;
    // The option flags follow their boxes' state, however it changed.
    void OnCheckOverwrite(bool checked);
    void OnCheckLocalTimezone(bool checked);
    void OnAbout();
    // The background menu's plots: the data file of the address and folder in the window (the
    // running collection's, live), and any data or report file the user picks.
    void OnPlotDataFile();
    void OnPlotFile();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    // Runs the Generate OID dialog for the address and community; on OK takes its OID list.
    void RunOidGenDialog(const std::string& ipAddress, const std::string& community);
    // The unit's address as the address control reads it: the one address of Get OID, Start
    // and Download.
    std::string UnitAddress() const;
    // The checks shared by Get OID and Download; false after the message and focus move.
    bool CheckAddressAndPassword();
    // The folder checks of Start and Download: entered, and without a zero byte.
    bool CheckFolder();
    // The community as it goes to the unit.
    std::string PasswordBytes() const;
    // Message box, then the focus to the control to fix.
    void FailCheck(const QString& message, QWidget* focus);

    // Start, Stop, Get OID and the setting inputs for a run (collecting) or none, and the focus
    // to Stop or Start.
    void SetRunControls(bool collecting);

    std::vector<std::string> m_oidList;
    // The Generate OID dialog's names of the ticked rows, beside m_oidList.
    std::vector<std::string> m_sensorNames;
    // The same rows in full, for the data file's column sidecar.
    std::vector<datafile::Column> m_columns;
    // Made on the first Start, reused by every later one; destroyed before the controls.
    std::unique_ptr<CCollector> m_pCollector;
    QCheckBox* m_checkOverwrite = nullptr;
    QCheckBox* m_checkLocalTimezone = nullptr;
    QPushButton* m_btnDownload = nullptr;
    CGifAnimator* m_animation = nullptr;
    QPushButton* m_btnBrowse = nullptr;
    QPushButton* m_btnGetOid = nullptr;
    QPushButton* m_btnStop = nullptr;
    QLabel* m_staticStatus = nullptr;
    QLineEdit* m_editFolder = nullptr;
    QPushButton* m_btnStart = nullptr;
    CIpAddressCtrl* m_ipAddress = nullptr;
    CStatusListBox* m_listStatus = nullptr;
    QLineEdit* m_editPeriod = nullptr;
    QLineEdit* m_editPassword = nullptr;
    QPushButton* m_btnExit = nullptr;
    CSettings m_settings;
    // The datalog client, report writer, driver, view and progress bar; made with the
    // controls, closed first when the window goes.
    std::unique_ptr<CMainDownload> m_pDownload;
    int m_nExitStatus = 0;
    // A settings text as the file gave it and as its control read right after loading: until
    // the user changes the control's text, the file's bytes go out (to the unit, back into the
    // file) unchanged, whatever they are.
    struct CLoadedText {
        std::string bytes;
        QString shown;
        std::string Bytes(const QString& now) const;
    };
    CLoadedText m_loadedIp, m_loadedPeriod, m_loadedFolder, m_loadedPassword;
    bool m_bCollecting = false;
    bool m_bOverwriteFile = false;
    bool m_bUseLocalTimezone = false;
};
