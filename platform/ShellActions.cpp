#include "platform/ShellActions.h"

#include "platform/CFilePropertiesDialog.h"
#include "platform/ModalDialog.h"
#include "platform/TextBytes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

#include <climits>
#include <unistd.h>

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

// The file URL of an escaped path: its bytes, percent-encoded, so that none is lost on the way
// (QUrl::fromLocalFile would read them as UTF-8).
QUrl FileUrl(const QString& path)
{
    QByteArray bytes = QByteArray::fromStdString(EscapedBytes(path));
    if (!bytes.startsWith('/')) {
        // A folder typed as a relative path lies in the current directory, as its files do.
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd))
            bytes.prepend(QByteArray(cwd) + '/');
    }
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
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
    call << QStringList{FileUrl(path).toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}
} // namespace

void OpenInTextEditor(const QString& path)
{
    if (Intercepted(ShellAction::OpenInEditor, path))
        return;
    QDesktopServices::openUrl(FileUrl(path));
}

void OpenFolder(const QString& folder)
{
    if (Intercepted(ShellAction::OpenFolder, folder))
        return;
    QDesktopServices::openUrl(FileUrl(folder));
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
