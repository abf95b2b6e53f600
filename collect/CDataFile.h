#pragma once
#include "platform/FileError.h"
#include "platform/TextBytes.h"

#include <QString>

#include <string>

// The collection data file of one run. While it is open it holds a write lock on the whole
// file (an open-file-description lock, which other programs' fcntl and lockf locks respect):
// others may read it but not write it. Lines go out with one unbuffered write() each and are
// synced to the disk (fdatasync) before WriteLine returns, so a line that was written is in the
// file even if the program is killed or the power fails next. Paths are the bytes the system
// takes, whatever the locale: a folder named in another encoding is opened as it is named.
class CDataFile {
public:
    // How a run opens its file.
    enum class Mode {
        SaveContinuously, // the file must exist; lines are appended to it
        Overwrite,        // created, or emptied if it exists
        NewFile,          // created (it did not exist at the existence test)
    };

    // The outcome of a file operation; cause None on success.
    struct Result {
        platform::FileCause cause = platform::FileCause::None;
        int err = 0;

        bool ok() const { return cause == platform::FileCause::None; }
        // The standard text for the error, naming path.
        QString Text(const std::string& path) const
        {
            return platform::FileErrorText(cause, platform::TextFromBytes(path), err);
        }
    };

    // The existence test. None: the file exists and nobody holds a lock on it. FileNotFound:
    // it does not exist in an existing folder. Anything else is an error: BadPath when the
    // folder does not exist, SharingViolation while another program holds a lock on the file,
    // IsDirectory when the path names a folder. Locks are fcntl/lockf locks of any kind, read
    // or write; flock(2) locks are a separate kind on Linux and are not seen.
    static Result TestExists(const std::string& path);

    CDataFile() = default;
    ~CDataFile();
    CDataFile(const CDataFile&) = delete;
    CDataFile& operator=(const CDataFile&) = delete;

    // Opens and locks path. Overwrite and NewFile empty the file only once the lock is held, so
    // a file that another program holds is never cut. SaveContinuously moves to the end.
    Result Open(const std::string& path, Mode mode);
    // Writes the whole line. If that fails part way (disk full, a removed drive) the file is cut
    // back to where the line began, so it never holds half a line; the next line tries again.
    // A failed sync is reported as well (the line stays: it may yet reach the disk).
    Result WriteLine(const std::string& line);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
