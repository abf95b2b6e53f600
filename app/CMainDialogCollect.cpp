// The main window's side of a collection: the collector's events as its lamp, status list,
// status text and run controls.
#include "app/CMainDialog.h"

#include "collect/CFileNameDialog.h"
#include "platform/StatusLamp.h"

#include <QPushButton>

void CMainDialog::SetRunControls(bool collecting)
{
    EnableSettingInputs(!collecting);
    m_btnStart->setEnabled(!collecting);
    m_btnStop->setEnabled(collecting);
    m_btnGetOid->setEnabled(!collecting);
    (collecting ? m_btnStop : m_btnStart)->setFocus();
}

void CMainDialog::RunStarted(const RunStart& start)
{
    SetStatusLamp(kLampCollecting);
    ClearStatusList();
    SetStatusText(start.message);
    if (!start.columnsNotSaved.isEmpty())
        AddStatusLine(start.columnsNotSaved, false);
    SetRunControls(true);
}

void CMainDialog::LineWritten(const CollectedLine& line, bool runGoesOn)
{
    AddStatusLine(line.text, false);
    if (runGoesOn)
        SetStatusLamp(kLampCollecting);
}

void CMainDialog::WriteFailed(const CollectedLine& line, const QString& error, bool runGoesOn)
{
    AddStatusLine(line.text, false); // the read did answer
    AddStatusLine(error, false);
    if (runGoesOn)
        SetStatusLamp(kLampReadFailed);
}

void CMainDialog::LineAfterStop(const CollectedLine& line)
{
    AddStatusLine(line.text, false);
}

void CMainDialog::ReadFailed(const ReadFailure& failure)
{
    // Without a session nothing was asked of the unit: the lamp keeps what it shows.
    if (failure.sessionOpened)
        SetStatusLamp(kLampReadFailed);
    AddStatusLine(failure.message, false);
}

void CMainDialog::RunEnded(RunEnd why)
{
    // A run that did not begin leaves the window as it was (its message box has been shown).
    if (why != RunEnd::Stopped)
        return;
    SetStatusLamp(kLampIdle);
    SetStatusText(QStringLiteral("Ready..."));
    SetRunControls(false);
}

int CMainDialog::AskExistingFile(QString& fileName)
{
    return CFileNameDialog::Ask(fileName, this);
}
