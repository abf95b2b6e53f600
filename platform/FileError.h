#pragma once
#include <QString>

namespace platform {

// Causes of a failed file operation, as the program tells them apart.
enum class FileCause {
    None,
    Generic,          // anything not listed below
    FileNotFound,     // the file does not exist (only this cause leads to creating a file)
    BadPath,          // a folder on the way does not exist
    AccessDenied,
    SharingViolation, // another program holds the file locked
    EndOfFile,        // read past the end of the file
    DiskFull,
    IsDirectory,
    TooManyOpenFiles,
    ReadOnlyFileSystem,
    NameTooLong,
    BadFormat,        // the bytes do not follow the file's format
};

// The cause for a POSIX errno value (0 gives None).
FileCause CauseFromErrno(int err);

// The standard text shown to the user for a file error, naming the file.
QString FileErrorText(FileCause cause, const QString& fileName, int err = 0);
inline QString FileErrorText(int err, const QString& fileName)
{
    return FileErrorText(CauseFromErrno(err), fileName, err);
}

} // namespace platform
