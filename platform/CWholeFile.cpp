#include "platform/CWholeFile.h"

#include "platform/FolderSync.h"
#include "platform/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string TempPathFor(const std::string& path, int attempt)
{
    static std::atomic<unsigned> counter {0};
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.%d.tmp", static_cast<long>(::getpid()), counter++, attempt);
    return dir + "." + base + suffix;
}

} // namespace

CWholeFile::~CWholeFile()
{
    Discard();
}

void CWholeFile::Discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_strTempPath.empty())
        ::unlink(m_strTempPath.c_str());
    m_strTempPath.clear();
}

bool CWholeFile::Open(const std::string& path, bool append)
{
    Discard();
    m_strPath = path;
    m_bAppend = append;
    m_bCreated = false;
    m_bInPlace = false;
    m_nError = 0;
    if (path.empty() || path.find('\0') != std::string::npos) {
        m_nError = EINVAL;
        return false;
    }
    // Only regular files; opening never waits (a FIFO in the report's place would block).
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : 0);
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT && append) {
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        m_bCreated = fd >= 0;
    }
    struct stat st {};
    if (fd >= 0) {
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            m_nError = EINVAL;
            return false;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else if (errno != ENOENT || append) {
        m_nError = errno;
        return false;
    }
    if (append) {
        m_fd = fd;
        return true;
    }
    const bool existed = fd >= 0;
    if (existed)
        ::close(fd);

    // The replacement is made beside the file, so the rename stays on one file system; it
    // takes the old file's permissions, or those of any new file.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string temp = TempPathFor(path, attempt);
        const int tfd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (tfd >= 0) {
            if (existed)
                ::fchmod(tfd, st.st_mode & 07777);
            m_fd = tfd;
            m_strTempPath = temp;
            return true;
        }
        if (errno != EEXIST) {
            m_nError = errno;
            return false;
        }
    }
    m_nError = EEXIST;
    return false;
}

bool CWholeFile::Commit(const std::string& text)
{
    if (m_fd < 0) {
        m_nError = m_nError ? m_nError : EBADF;
        return false;
    }
    bool ok;
    if (m_bAppend) {
        struct stat st {};
        const bool sized = ::fstat(m_fd, &st) == 0;
        ok = platform::WriteAll(m_fd, text) && ::fdatasync(m_fd) == 0;
        // A new file's name reaches the disk only with its folder.
        if (ok && m_bCreated) {
            if (const int err = platform::SyncFolderOf(m_strPath)) {
                ok = false;
                errno = err;
            }
        }
        if (!ok) {
            m_nError = errno;
            // Never leave part of a report behind.
            if (m_bCreated)
                ::unlink(m_strPath.c_str());
            else if (sized && ::ftruncate(m_fd, st.st_size) == 0)
                ::fdatasync(m_fd);
        }
    } else {
        ok = platform::WriteAll(m_fd, text) && ::fdatasync(m_fd) == 0;
        if (!ok)
            m_nError = errno;
    }
    if (::close(m_fd) != 0 && ok) {
        ok = false;
        m_nError = errno;
    }
    m_fd = -1;
    if (ok && !m_bAppend) {
        if (::rename(m_strTempPath.c_str(), m_strPath.c_str()) == 0) {
            m_strTempPath.clear();
            // Until the folder is synced a power cut can bring back the old report.
            if (const int err = platform::SyncFolderOf(m_strPath)) {
                ok = false;
                m_nError = err;
                m_bInPlace = true;
            }
        } else {
            ok = false;
            m_nError = errno;
        }
    }
    Discard();
    return ok;
}

std::string CWholeFile::ErrorText() const
{
    char buffer[256];
    return ::strerror_r(m_nError, buffer, sizeof buffer);
}
