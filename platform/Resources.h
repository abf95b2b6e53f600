#pragma once
#include <QByteArray>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The application's resources by their numbers and types, as the windows address them. They
// live in the Qt resource file under ":/res/<TYPE>/<number>.<ext>" (see res/).
namespace platform {

// The raw bytes of a resource ("GIF", "BITMAP", "ICON", "MENU", "STRING"); empty when missing.
QByteArray LoadResource(int id, const QString& type);
QIcon LoadIconResource(int id);
QPixmap LoadBitmapResource(int id);
// String table entry; empty when missing.
QString LoadStringResource(int id);

} // namespace platform
