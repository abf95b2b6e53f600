#include "app/CDownloadView.h"

#include "app/IDownloadWindow.h"
#include "download/CDownloadDriver.h"
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

CDownloadView::CDownloadView(QObject* owner, IDownloadWindow* window) : m_pOwner(owner), m_pWindow(window) {}

template <typename Fn>
void CDownloadView::Call(Fn fn)
{
    platform::SendToUi([this, &fn] {
        if (m_pOwner)
            fn(*m_pWindow);
    }, m_bClosed);
}

void CDownloadView::AddStatusLine(const std::string& text, bool isFileLink)
{
    Call([&](IDownloadWindow& d) { d.AddStatusLine(Line(text), isFileLink); });
}

std::string CDownloadView::GetStatusText()
{
    std::string text;
    Call([&](IDownloadWindow& d) { text = d.GetStatusText().toStdString(); });
    return text;
}

void CDownloadView::SetStatusText(const std::string& text)
{
    Call([&](IDownloadWindow& d) { d.SetStatusText(Shown(text)); });
}

void CDownloadView::ClearStatusList()
{
    Call([](IDownloadWindow& d) { d.ClearStatusList(); });
}

void CDownloadView::Message(const std::string& text)
{
    // On the window thread the box runs at once, so it is dropped like any call once closed.
    Call([&](IDownloadWindow&) { platform::MessageBox(Shown(text)); });
}

void CDownloadView::Progress(int pairsDone, int pairCount, int records, int recordCount)
{
    if (m_bClosed)
        return;
    // Posted, not waited for: the bar is for the eye only, and the queue keeps the order.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [owner = m_pOwner, window = m_pWindow, pairsDone, pairCount, records, recordCount] {
        if (owner)
            window->ShowDownloadProgress(pairsDone, pairCount, records, recordCount);
    }, Qt::QueuedConnection);
}

void CDownloadView::ProgressEnded()
{
    Call([](IDownloadWindow& d) { d.HideDownloadProgress(); });
}

void CDownloadView::Finished(const DownloadResult& result)
{
    if (result.halted)
        Call([](IDownloadWindow& d) { d.HaltProgram(CDownloadDriver::kHaltStatus); });
    else
        Call([](IDownloadWindow& d) { d.OnDownloadFinished(); });
}
