#include "collect/CDataFile.h"

#include "platform/FolderSync.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::FileCause;

namespace {

CDataFile::Result Failure(FileCause cause, int err)
{
    return {cause, err};
}

// The system would take such a path as ending at its zero byte, naming another file.
bool HasZeroByte(const std::string& path)
{
    return path.find('\0') != std::string::npos;
}

// A path whose folder is missing also fails with ENOENT; that is a bad path, not a missing file.
CDataFile::Result OpenFailure(const std::string& path, int err)
{
    if (err == ENOENT) {
        const std::string::size_type slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Failure(FileCause::BadPath, err);
    }
    return Failure(platform::CauseFromErrno(err), err);
}

struct flock WholeFile(short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0; // to the end, however far the file grows
    return fl;
}

// True while anybody but this open file description holds a lock on any part of the file.
bool HeldByOther(int fd)
{
    struct flock fl = WholeFile(F_WRLCK);
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

// O_NONBLOCK keeps an open of a FIFO from hanging the UI thread; the data file itself is
// written blocking.
int OpenNative(const std::string& path, int flags)
{
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

CDataFile::Result CDataFile::TestExists(const std::string& path)
{
    if (HasZeroByte(path))
        return Failure(FileCause::BadPath, EINVAL);
    const int fd = OpenNative(path, O_RDONLY);
    if (fd < 0)
        return OpenFailure(path, errno);
    Result result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        result = Failure(FileCause::IsDirectory, EISDIR);
    else if (HeldByOther(fd))
        result = Failure(FileCause::SharingViolation, EAGAIN);
    ::close(fd);
    return result;
}

CDataFile::~CDataFile()
{
    Close();
}

CDataFile::Result CDataFile::Open(const std::string& path, Mode mode)
{
    Close();
    if (HasZeroByte(path))
        return Failure(FileCause::BadPath, EINVAL);
    const int fd = OpenNative(path, mode == Mode::SaveContinuously ? O_WRONLY : O_WRONLY | O_CREAT);
    if (fd < 0)
        return OpenFailure(path, errno);
    auto fail = [fd](FileCause cause, int err) {
        ::close(fd);
        return Failure(cause, err);
    };
    if (const int fl = ::fcntl(fd, F_GETFL); fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) < 0)
        return fail(platform::CauseFromErrno(errno), errno);
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) < 0) {
        const int err = errno;
        return fail(err == EAGAIN || err == EACCES ? FileCause::SharingViolation : platform::CauseFromErrno(err), err);
    }
    struct stat st {};
    if (::fstat(fd, &st) < 0)
        return fail(platform::CauseFromErrno(errno), errno);
    if (mode == Mode::SaveContinuously) {
        if (::lseek(fd, 0, SEEK_END) < 0 && S_ISREG(st.st_mode))
            return fail(platform::CauseFromErrno(errno), errno);
    } else if (S_ISREG(st.st_mode)) {
        if (::ftruncate(fd, 0) < 0)
            return fail(platform::CauseFromErrno(errno), errno);
        // The file may be new: its name reaches the disk only with the folder, and the lines
        // synced into it later would otherwise be lost with it.
        if (const int err = platform::SyncFolderOf(path))
            return fail(platform::CauseFromErrno(err), err);
    }
    m_fd = fd;
    return {};
}

CDataFile::Result CDataFile::WriteLine(const std::string& line)
{
    if (m_fd < 0)
        return Failure(FileCause::Generic, EBADF);
    const off_t start = ::lseek(m_fd, 0, SEEK_CUR);
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int err = n < 0 ? errno : ENOSPC; // a write of nothing at all: the disk is full
        if (done > 0 && start >= 0 && ::ftruncate(m_fd, start) == 0)
            ::lseek(m_fd, start, SEEK_SET);
        return Failure(platform::CauseFromErrno(err), err);
    }
    // On the disk before the line is shown: a shown line survives a power cut. A file that
    // cannot be synced at all (a FIFO or a device, EINVAL) has nothing to lose.
    int rc;
    do
        rc = ::fdatasync(m_fd);
    while (rc < 0 && errno == EINTR);
    if (rc < 0 && errno != EINVAL)
        return Failure(platform::CauseFromErrno(errno), errno);
    return {};
}

void CDataFile::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd); // also releases the lock
        m_fd = -1;
    }
}
