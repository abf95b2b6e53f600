#include "platform/Resources.h"

#include <QDir>
#include <QFile>

namespace platform {
namespace {
// The file of a resource: the first ":/res/<TYPE>/<id>.*" entry.
QString ResourceFile(int id, const QString& type)
{
    const QDir dir(QStringLiteral(":/res/") + type);
    const QStringList hits = dir.entryList({QString::number(id) + QStringLiteral(".*")}, QDir::Files);
    return hits.isEmpty() ? QString() : dir.filePath(hits.first());
}
} // namespace

QByteArray LoadResource(int id, const QString& type)
{
    const QString path = ResourceFile(id, type);
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QIcon LoadIconResource(int id)
{
    const QString path = ResourceFile(id, QStringLiteral("ICON"));
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap LoadBitmapResource(int id)
{
    const QString path = ResourceFile(id, QStringLiteral("BITMAP"));
    return path.isEmpty() ? QPixmap() : QPixmap(path);
}

QString LoadStringResource(int id)
{
    return QString::fromUtf8(LoadResource(id, QStringLiteral("STRING"))).trimmed();
}

} // namespace platform
