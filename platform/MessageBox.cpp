#include "platform/MessageBox.h"

#include "platform/UiThread.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <mutex>

namespace platform {
namespace {

struct HandlerSlot {
    std::mutex mutex;
    MessageBoxHandler handler;
};

HandlerSlot& Slot()
{
    static HandlerSlot slot;
    return slot;
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
    SendToUi([text] {
        MessageBoxHandler handler;
        {
            std::lock_guard lock(Slot().mutex);
            handler = Slot().handler;
        }
        const QString caption = ProgramName();
        if (handler) {
            handler(caption, text);
            return;
        }
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
        box.setAccessibleName(caption);
        box.setAccessibleDescription(text);
        box.exec();
    });
}

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(Slot().mutex);
    Slot().handler = std::move(handler);
}

} // namespace platform
