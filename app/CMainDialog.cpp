#include "app/CMainDialog.h"

#include "app/CAboutDialog.h"
#include "app/CFolderChooser.h"
#include "app/CIpAddressCtrl.h"
#include "app/CMainDownload.h"
#include "collect/CCollector.h"
#include "collect/DataFileFormat.h"
#include "download/CDownloadDriver.h"
#include "oidgen/ReadOidDlg.h"
#include "platform/DialogUnits.h"
#include "platform/FileError.h"
#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "platform/Resources.h"
#include "platform/StatusLamp.h"
#include "platform/TextBytes.h"
#include "ui/CGifAnimator.h"
#include "ui/CPlotWindow.h"
#include "ui/CStatusListBox.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

namespace {
constexpr int kMaxStatusLines = 50;
constexpr int kAboutStringId = 105;
constexpr int kIconId = 128;

QString AboutCommandText()
{
    const QString text = platform::LoadStringResource(kAboutStringId);
    return text.isEmpty() ? QStringLiteral("&About Configure...") : text;
}
} // namespace

CMainDialog::CMainDialog(QWidget* parent) : CTrayDialog(parent)
{
    CreateControls();
    OnInitDialog();
}

CMainDialog::~CMainDialog()
{
    // A download still running is cancelled and waited for (its wait ends at once, its calls
    // to this window are dropped), so it never works on a window that is gone.
    m_pDownload->Close();
}

void CMainDialog::OnInitDialog()
{
    setWindowIcon(platform::LoadIconResource(kIconId));
    // The desktop has no system menu to extend: the About command is offered on the dialog's
    // right-click menu and on F1 instead.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &CMainDialog::OnAbout);
    SetTrayIcon(kIconId);
    SetTrayTip(QStringLiteral("VeltraneG"));

    LoadSettings();
    m_checkOverwrite->setChecked(m_bOverwriteFile);
    m_checkLocalTimezone->setChecked(m_bUseLocalTimezone);
    SetStatusLamp(kLampIdle);
    SetStatusText(QStringLiteral("Ready..."));
    m_btnStart->setEnabled(false);
    m_btnStop->setEnabled(false);
    m_oidList.clear();
    m_bCollecting = false;
    connect(m_listStatus, &CStatusListBox::PlotRequested, this,
            [this](const QString& path) { CPlotWindow::Open(path, {}, true, this); });
    m_ipAddress->setFocus();
}

QWidget* CMainDialog::GetDlgItem(int id) const
{
    return DialogItem(this, id);
}

void CMainDialog::AddStatusLine(const QString& text, bool isFileLink)
{
    m_listStatus->setUpdatesEnabled(false);
    m_listStatus->AddString(text);
    if (isFileLink)
        m_listStatus->MarkLastLineAsLink();
    if (m_listStatus->GetCount() > kMaxStatusLines) {
        // The marks are line indexes; rather than shift them, they are all forgotten.
        m_listStatus->ClearLinks();
        while (m_listStatus->GetCount() > kMaxStatusLines)
            m_listStatus->DeleteString(0);
    }
    m_listStatus->SetCurSel(m_listStatus->GetCount() - 1);
    m_listStatus->setUpdatesEnabled(true);
}

void CMainDialog::SetStatusText(const QString& text)
{
    m_staticStatus->setText(text);
}

QString CMainDialog::GetStatusText() const
{
    return m_staticStatus->text();
}

void CMainDialog::SetStatusLamp(int state)
{
    struct Lamp {
        int picture;
        const char* meaning; // what a screen reader says instead of the colour
    };
    static constexpr Lamp kLamps[] = {{146, "Idle"}, {147, "Collecting"}, {148, "Last read failed"}};
    static_assert(kLampCollecting == kLampIdle + 1 && kLampReadFailed == kLampIdle + 2, "kLamps in state order");
    if (state >= kLampIdle && state <= kLampReadFailed) {
        const Lamp& lamp = kLamps[state - kLampIdle];
        m_animation->LoadResourcePicture(lamp.picture, QStringLiteral("GIF"));
        m_animation->setAccessibleDescription(QLatin1String(lamp.meaning));
    }
    m_animation->ShowPicture();
}

void CMainDialog::EnableSettingInputs(bool enable)
{
    m_editFolder->setEnabled(enable);
    m_editPassword->setEnabled(enable);
    m_editPeriod->setEnabled(enable);
    m_btnBrowse->setEnabled(enable);
    m_ipAddress->setEnabled(enable);
}

std::string CMainDialog::CLoadedText::Bytes(const QString& now) const
{
    return now == shown ? bytes : platform::BytesFromText(now);
}

void CMainDialog::LoadSettings()
{
    if (ReadSettingsFile(&m_settings)) {
        m_ipAddress->SetAddressText(platform::TextFromBytes(m_settings.m_strIpAddress));
        m_editPeriod->setText(platform::TextFromBytes(m_settings.m_strPeriod));
        m_editFolder->setText(platform::TextFromBytes(m_settings.m_strFolder));
        m_editPassword->setText(platform::TextFromBytes(m_settings.m_strPassword));
        m_bOverwriteFile = m_settings.m_bOverwrite != 0;
        m_bUseLocalTimezone = m_settings.m_bLocalTimezone != 0;
        // What the controls read now stands for the file's bytes.
        m_loadedIp = {m_settings.m_strIpAddress, m_ipAddress->GetAddressText()};
        m_loadedPeriod = {m_settings.m_strPeriod, m_editPeriod->text()};
        m_loadedFolder = {m_settings.m_strFolder, m_editFolder->text()};
        m_loadedPassword = {m_settings.m_strPassword, m_editPassword->text()};
        return;
    }
    // The defaults; the folder stays as it is and the record is not changed.
    m_ipAddress->SetAddressText(QStringLiteral("198.168.0.100"));
    m_editPeriod->setText(QStringLiteral("10"));
    m_editPassword->setText(QStringLiteral("orchid"));
    m_bOverwriteFile = false;
    m_bUseLocalTimezone = false;
}

bool CMainDialog::SaveSettings()
{
    m_settings.m_strIpAddress = m_loadedIp.Bytes(m_ipAddress->GetAddressText());
    m_settings.m_strPeriod = m_loadedPeriod.Bytes(m_editPeriod->text());
    m_settings.m_strFolder = m_loadedFolder.Bytes(m_editFolder->text());
    m_settings.m_strPassword = PasswordBytes();
    m_settings.m_bOverwrite = m_bOverwriteFile ? 1 : 0;
    m_settings.m_bLocalTimezone = m_bUseLocalTimezone ? 1 : 0;
    return WriteSettingsFile(&m_settings);
}

void CMainDialog::FailCheck(const QString& message, QWidget* focus)
{
    platform::MessageBox(message);
    focus->setFocus();
}

std::string CMainDialog::PasswordBytes() const
{
    return m_loadedPassword.Bytes(m_editPassword->text());
}

bool CMainDialog::CheckFolder()
{
    if (m_editFolder->text().isEmpty()) {
        // To Browse, not to the edit: the folder is meant to be chosen.
        FailCheck(QStringLiteral("Error! Folder to save data is not entered."), m_btnBrowse);
        return false;
    }
    // A zero byte would end the path early: it would name another file than the one shown.
    if (m_loadedFolder.Bytes(m_editFolder->text()).find('\0') != std::string::npos) {
        FailCheck(platform::FileErrorText(platform::FileCause::BadPath, m_editFolder->text()), m_btnBrowse);
        return false;
    }
    return true;
}

std::string CMainDialog::UnitAddress() const
{
    return m_ipAddress->GetAddressText().toStdString();
}

bool CMainDialog::CheckAddressAndPassword()
{
    if (UnitAddress() == "0.0.0.0") {
        FailCheck(QStringLiteral("Error! IP address is not entered."), m_ipAddress);
        return false;
    }
    if (m_editPassword->text().isEmpty()) {
        FailCheck(QStringLiteral("Error! Password is not entered."), m_editPassword);
        return false;
    }
    return true;
}

void CMainDialog::OnStart()
{
    // Written before the checks: a failed check does not undo it.
    SaveSettings();

    if (!m_pCollector)
        m_pCollector = std::make_unique<CCollector>(this);
    m_pCollector->SetOidList(m_oidList);
    m_pCollector->SetColumns(m_columns);
    m_pCollector->SetAgent(QString::fromStdString(UnitAddress()));
    m_pCollector->SetCommunity(PasswordBytes());

    if (m_editPeriod->text().isEmpty()) {
        FailCheck(QStringLiteral("Error! Time(sec) is not entered."), m_editPeriod);
        return;
    }

    // Saturated, not wrapped; the collector bounds it to what its timer can do.
    m_pCollector->SetPeriod(CCollector::PeriodFromText(m_editPeriod->text()));

    if (!CheckFolder())
        return;

    m_pCollector->SetFolder(m_loadedFolder.Bytes(m_editFolder->text()));
    m_pCollector->StartRun();

    // Set whatever the run's outcome, also when no run started.
    m_bCollecting = true;
}

void CMainDialog::OnStop()
{
    if (m_pCollector)
        m_pCollector->StopRun();
    m_bCollecting = false;
}

void CMainDialog::ClearStatusList()
{
    m_listStatus->ResetContent();
    m_listStatus->ClearLinks();
}

void CMainDialog::OnGetOid()
{
    if (!CheckAddressAndPassword())
        return;
    RunOidGenDialog(UnitAddress(), PasswordBytes());
    m_btnStart->setEnabled(!m_oidList.empty());
}

void CMainDialog::RunOidGenDialog(const std::string& ipAddress, const std::string& community)
{
    COidGenDialog dialog;
    dialog.m_strIpAddress = ipAddress;
    dialog.m_strCommunity = community;
    // On Cancel the old list stays.
    if (platform::ExecModal(dialog) == QDialog::Accepted) {
        m_oidList = dialog.m_oidList;
        m_sensorNames = dialog.m_sensorNames;
        m_columns = dialog.m_columns;
    }
}

void CMainDialog::OnBrowse()
{
    // On Cancel, or an item without a path, the edit keeps its text.
    CFolderChooser chooser(QString(), 0, nullptr);
    if (chooser.Browse() != CFolderChooser::ResultOk)
        return;
    // The chosen folder's bytes go out as they are, as a folder read from the settings does.
    const std::string bytes = platform::EscapedBytes(chooser.GetSelectedFolder());
    m_editFolder->setText(platform::TextFromBytes(bytes));
    m_loadedFolder = {bytes, m_editFolder->text()};
}

void CMainDialog::OnDownload()
{
    // A download that still runs refuses the click and leaves everything as it was. (The
    // button comes back only once the driver no longer counts as running, so a click on it
    // is a new download.)
    if (m_pDownload->IsRunning())
        return;
    // Written before the checks: the download driver reads its inputs from the record.
    SaveSettings();
    if (!CheckAddressAndPassword() || !CheckFolder())
        return;

    // The download works from the settings as they are now, at the address that Get OID and
    // Start use (the file's text may spell it otherwise); it calls the window back through its
    // view and gives the controls back at its end (OnDownloadFinished).
    DownloadSettings settings;
    settings.ipAddress = UnitAddress();
    settings.password = m_settings.m_strPassword;
    settings.folder = m_settings.m_strFolder;
    settings.overwrite = m_settings.m_bOverwrite != 0;
    settings.collecting = m_bCollecting;

    const bool wasEnabled[] = {m_btnDownload->isEnabled(), m_checkLocalTimezone->isEnabled(), m_checkOverwrite->isEnabled()};
    m_btnDownload->setEnabled(false);
    m_checkLocalTimezone->setEnabled(false);
    m_checkOverwrite->setEnabled(false);
    m_listStatus->ClearLinks();
    if (!m_pDownload->Start(std::move(settings), m_bUseLocalTimezone)) {
        // Refused: the controls as they were.
        m_btnDownload->setEnabled(wasEnabled[0]);
        m_checkLocalTimezone->setEnabled(wasEnabled[1]);
        m_checkOverwrite->setEnabled(wasEnabled[2]);
    }
}

bool CMainDialog::IsDownloading() const
{
    return m_pDownload && m_pDownload->IsRunning();
}

getdata& CMainDialog::DatalogClient()
{
    return m_pDownload->DatalogClient();
}

void CMainDialog::HaltProgram(int exitStatus)
{
    m_nExitStatus = exitStatus;
    reject();
}

void CMainDialog::OnDownloadFinished()
{
    m_btnDownload->setEnabled(true);
    m_checkLocalTimezone->setEnabled(true);
    m_checkOverwrite->setEnabled(true);
}

void CMainDialog::OnCheckOverwrite(bool checked)
{
    m_bOverwriteFile = checked;
}

void CMainDialog::OnCheckLocalTimezone(bool checked)
{
    m_bUseLocalTimezone = checked;
}

void CMainDialog::OnAbout()
{
    CAboutDialog about(this);
    platform::ExecModal(about);
}

void CMainDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter on a focused push button presses it; anywhere else (an edit, a check box, the list)
    // it is the dialog's OK command: the program ends, as with Exit.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        else
            accept();
        return;
    }
    CTrayDialog::keyPressEvent(event);
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(AboutCommandText(), this, &CMainDialog::OnAbout);
    menu.addAction(QStringLiteral("Plot Data File"), this, &CMainDialog::OnPlotDataFile);
    menu.addAction(QStringLiteral("Plot a File..."), this, &CMainDialog::OnPlotFile);
    menu.exec(event->globalPos());
}

// The data file's columns are the OIDs of the list, whose names the Generate OID dialog gave.
// While a run is active Get OID is off, so the list is the run's own. The path goes as its
// bytes (escaped), as the collector names the file: the folder's name need not be UTF-8.
void CMainDialog::OnPlotDataFile()
{
    const std::string path = m_pCollector && m_pCollector->IsRunActive()
        ? m_pCollector->DataFilePath()
        : m_loadedFolder.Bytes(m_editFolder->text()) + '/' + datafile::FileName(UnitAddress());
    QStringList names;
    for (const std::string& name : m_sensorNames)
        names.append(platform::TextFromBytes(name));
    CPlotWindow::Open(platform::EscapedText(path), names, true, this);
}

void CMainDialog::OnPlotFile()
{
    QFileDialog dialog(this, QStringLiteral("Plot a File"), m_editFolder->text(),
                       QStringLiteral("Data and report files (*.txt);;All files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (platform::ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // A file from elsewhere has no known sensors: its columns are numbered.
    CPlotWindow::Open(dialog.selectedFiles().first(), {}, true, this);
}
