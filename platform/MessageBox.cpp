#include "platform/MessageBox.h"

#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

struct HandlerSlot {
    std::mutex mutex;
    MessageBoxHandler handler;
    MessageBoxHandler presenter;
};

HandlerSlot& Slot()
{
    static HandlerSlot slot;
    return slot;
}

void WriteToStandardError(const QString& caption, const QString& text)
{
    const QByteArray line = (caption + QStringLiteral(": ") + text).toLocal8Bit();
    std::fprintf(stderr, "%s%s", line.constData(), line.endsWith('\n') ? "" : "\n");
    std::fflush(stderr);
}

} // namespace

QString ProgramName()
{
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("veltrane") : name;
}

void MessageBox(const QString& text)
{
    const bool shown = SendToUi([text] {
        MessageBoxHandler handler;
        {
            std::lock_guard lock(Slot().mutex);
            handler = Slot().handler ? Slot().handler : Slot().presenter;
        }
        const QString caption = ProgramName();
        if (handler)
            handler(caption, text);
        else
            WriteToStandardError(caption, text);
    });
    // Without an event loop to show it (no application object, or shutting down) the text is
    // still not lost.
    if (!shown)
        WriteToStandardError(ProgramName(), text);
}

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(Slot().mutex);
    Slot().handler = std::move(handler);
}

void SetMessageBoxPresenter(MessageBoxHandler presenter)
{
    std::lock_guard lock(Slot().mutex);
    Slot().presenter = std::move(presenter);
}

} // namespace platform
