#include "platform/FileError.h"

#include <cerrno>
#include <cstring>

namespace platform {

FileCause CauseFromErrno(int err)
{
    switch (err) {
    case 0: return FileCause::None;
    case ENOENT: return FileCause::FileNotFound;
    case ENOTDIR: return FileCause::BadPath;
    case EACCES:
    case EPERM: return FileCause::AccessDenied;
    case EAGAIN:
    case EBUSY:
    case ETXTBSY: return FileCause::SharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileCause::DiskFull;
    case EISDIR: return FileCause::IsDirectory;
    case EMFILE:
    case ENFILE: return FileCause::TooManyOpenFiles;
    case EROFS: return FileCause::ReadOnlyFileSystem;
    case ENAMETOOLONG: return FileCause::NameTooLong;
    default: return FileCause::Generic;
    }
}

QString FileErrorText(FileCause cause, const QString& fileName, int err)
{
    const QString name = fileName.isEmpty() ? QStringLiteral("an unnamed file") : fileName;
    switch (cause) {
    case FileCause::None: return QString();
    case FileCause::FileNotFound: return QStringLiteral("%1 was not found.").arg(name);
    case FileCause::BadPath: return QStringLiteral("%1 contains an incorrect path.").arg(name);
    case FileCause::AccessDenied: return QStringLiteral("Access to %1 was denied.").arg(name);
    case FileCause::SharingViolation:
        return QStringLiteral("A sharing violation occurred while accessing %1.").arg(name);
    case FileCause::EndOfFile:
        return QStringLiteral("An attempt was made to access %1 past its end.").arg(name);
    case FileCause::DiskFull: return QStringLiteral("There is no room left on the disk for %1.").arg(name);
    case FileCause::IsDirectory: return QStringLiteral("%1 is a folder, not a file.").arg(name);
    case FileCause::TooManyOpenFiles:
        return QStringLiteral("There were too many open files when %1 was opened.").arg(name);
    case FileCause::ReadOnlyFileSystem:
        return QStringLiteral("%1 is on a disk that cannot be written.").arg(name);
    case FileCause::NameTooLong: return QStringLiteral("The name %1 is too long.").arg(name);
    case FileCause::BadFormat: return QStringLiteral("%1 has an unexpected format.").arg(name);
    case FileCause::Generic: break;
    }
    if (err != 0)
        return QStringLiteral("An unexpected error occurred while accessing %1: %2.")
            .arg(name, QString::fromLocal8Bit(std::strerror(err)));
    return QStringLiteral("An unexpected error occurred while accessing %1.").arg(name);
}

} // namespace platform
