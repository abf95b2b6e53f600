#include "platform/ShellActions.h"

#include "platform/CFilePropertiesDialog.h"
#include "platform/ModalDialog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

namespace platform {
namespace {
ShellActionHandler& Handler()
{
    static ShellActionHandler handler; // UI thread only
    return handler;
}

bool Intercepted(ShellAction action, const QString& path)
{
    if (!Handler())
        return false;
    Handler()(action, path);
    return true;
}

// Asks the session's file manager to show the properties of one file; false when none answers.
bool FileManagerShowProperties(const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}
} // namespace

void OpenInTextEditor(const QString& path)
{
    if (Intercepted(ShellAction::OpenInEditor, path))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void OpenFolder(const QString& folder)
{
    if (Intercepted(ShellAction::OpenFolder, folder))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void ShowFileProperties(const QString& path, QWidget* parent)
{
    if (Intercepted(ShellAction::ShowProperties, path))
        return;
    if (FileManagerShowProperties(path))
        return;
    CFilePropertiesDialog dialog(path, parent);
    ExecModal(dialog);
}

void SetShellActionHandler(ShellActionHandler handler)
{
    Handler() = std::move(handler);
}

} // namespace platform
