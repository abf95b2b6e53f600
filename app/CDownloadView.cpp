#include "app/CDownloadView.h"

#include "app/IDownloadWindow.h"
#include "download/CDownloadDriver.h"
#include "platform/MessageBox.h"
#include "platform/TextBytes.h"
#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QProgressBar>

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

// pairsDone of pairCount port/channel pairs, records of recordCount of the current channel.
void ShowProgress(QProgressBar* bar, int pairsDone, int pairCount, int records, int recordCount)
{
    constexpr int kSteps = 1000; // per pair
    const int part = recordCount > 0 ? static_cast<int>(qint64(records) * kSteps / recordCount) : 0;
    bar->setRange(0, pairCount * kSteps);
    bar->setValue(pairsDone * kSteps + part);
    bar->setFormat(QStringLiteral("%1/%2").arg(pairsDone).arg(pairCount));
    const QString text = recordCount > 0
        ? QStringLiteral("Channel %1 of %2, %3 of %4 records").arg(pairsDone + 1).arg(pairCount).arg(records).arg(recordCount)
        : QStringLiteral("Channel %1 of %2").arg(pairsDone + 1).arg(pairCount);
    bar->setToolTip(text);
    bar->setAccessibleDescription(text);
    bar->show();
}

} // namespace

CDownloadView::CDownloadView(QObject* owner, IDownloadWindow* window, QProgressBar* progress)
    : m_pOwner(owner), m_pWindow(window), m_pProgress(progress)
{
}

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
    QMetaObject::invokeMethod(QCoreApplication::instance(), [owner = m_pOwner, bar = m_pProgress, pairsDone, pairCount, records, recordCount] {
        if (owner && bar)
            ShowProgress(bar, pairsDone, pairCount, records, recordCount);
    }, Qt::QueuedConnection);
}

void CDownloadView::ProgressEnded()
{
    Call([this](IDownloadWindow&) {
        if (m_pProgress)
            m_pProgress->hide();
    });
}

void CDownloadView::Finished(const DownloadResult& result)
{
    if (result.halted)
        Call([](IDownloadWindow& d) { d.HaltProgram(CDownloadDriver::kHaltStatus); });
    else
        Call([](IDownloadWindow& d) { d.OnDownloadFinished(); });
}
