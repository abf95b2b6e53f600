#include "app/CDownloadView.h"

#include "app/CMainDialog.h"
#include "platform/MessageBox.h"
#include "platform/TextBytes.h"
#include "platform/UiThread.h"

#include <QCoreApplication>

namespace {

// The texts end in a line break, as they are written for a console; a list line or a box
// shows them without it.
std::string WithoutLineEnd(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// A box or the status text: shown readable, whatever the bytes.
QString Shown(const std::string& text)
{
    return platform::TextFromBytes(WithoutLineEnd(text));
}

// A status line keeps every byte (the status list shows it readable): a link line's path is
// the written file's, also in a folder whose name is not UTF-8.
QString Line(const std::string& text)
{
    return platform::EscapedText(WithoutLineEnd(text));
}

} // namespace

CDownloadView::CDownloadView(CMainDialog* dialog) : m_pDialog(dialog) {}

template <typename Fn>
void CDownloadView::Call(Fn fn)
{
    platform::SendToUi([this, &fn] {
        if (CMainDialog* dialog = m_pDialog.data())
            fn(*dialog);
    }, m_bClosed);
}

void CDownloadView::AddStatusLine(const std::string& text, bool isFileLink)
{
    Call([&](CMainDialog& d) { d.AddStatusLine(Line(text), isFileLink); });
}

std::string CDownloadView::GetStatusText()
{
    std::string text;
    Call([&](CMainDialog& d) { text = d.GetStatusText().toStdString(); });
    return text;
}

void CDownloadView::SetStatusText(const std::string& text)
{
    Call([&](CMainDialog& d) { d.SetStatusText(Shown(text)); });
}

void CDownloadView::ClearStatusList()
{
    Call([](CMainDialog& d) { d.ClearStatusList(); });
}

void CDownloadView::MessageBox(const std::string& text)
{
    // On the window thread the box runs at once, so it is dropped like any call once closed.
    Call([&](CMainDialog&) { platform::MessageBox(Shown(text)); });
}

void CDownloadView::ShowProgress(int pairsDone, int pairCount, int records, int recordCount)
{
    if (m_bClosed)
        return;
    // Posted, not waited for: the bar is for the eye only, and the queue keeps the order.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [dialog = m_pDialog, pairsDone, pairCount, records, recordCount] {
        if (dialog)
            dialog->ShowDownloadProgress(pairsDone, pairCount, records, recordCount);
    }, Qt::QueuedConnection);
}

void CDownloadView::HideProgress()
{
    Call([](CMainDialog& d) { d.HideDownloadProgress(); });
}

void CDownloadView::EnableDownloadControls()
{
    Call([](CMainDialog& d) { d.OnDownloadFinished(); });
}

void CDownloadView::HaltProgram(int exitStatus)
{
    Call([exitStatus](CMainDialog& d) { d.HaltProgram(exitStatus); });
}
