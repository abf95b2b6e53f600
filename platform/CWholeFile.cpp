#include "platform/CWholeFile.h"

#include "platform/FolderSync.h"
#include "platform/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

mode_t ReadUmask()
{
    constexpr mode_t kUnknown = 077; // nothing wider than the owner's, when in doubt
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return kUnknown;
    mode_t mask = kUnknown;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "Umask:", 6) != 0)
            continue;
        char* end = nullptr;
        const unsigned long value = std::strtoul(line + 6, &end, 8);
        if (end != line + 6 && value <= 0777)
            mask = static_cast<mode_t>(value);
        break;
    }
    std::fclose(status);
    return mask;
}

} // namespace

mode_t CWholeFile::Umask()
{
    static const mode_t mask = ReadUmask();
    return mask;
}

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

bool CWholeFile::Fail(int err)
{
    m_nError = err;
    return false;
}

bool CWholeFile::Open(const std::string& path, bool append, mode_t newMode, ModeRule rule)
{
    Discard();
    m_strPath = path;
    m_bAppend = append;
    m_bCreated = false;
    m_bInPlace = false;
    m_bNotRegular = false;
    m_bWriteFailed = false;
    m_nOldSize = -1;
    m_nError = 0;
    if (path.empty() || path.find('\0') != std::string::npos)
        return Fail(EINVAL);
    // Only regular files; opening never waits (a FIFO in the file's place would block).
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        m_bNotRegular = true;
        return Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (append ? O_APPEND : 0);
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT && append) {
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, newMode);
        m_bCreated = fd >= 0;
    }
    if (fd >= 0) {
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            m_bNotRegular = true;
            return Fail(EINVAL);
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else if (errno != ENOENT || append) {
        return Fail(errno);
    }
    if (append) {
        m_fd = fd;
        m_nOldSize = st.st_size;
        return true;
    }
    const bool existed = fd >= 0;
    if (existed)
        ::close(fd);
    m_nMode = existed && rule == ModeRule::KeepOld ? (st.st_mode & 07777) : (newMode & ~Umask() & 07777);

    // The replacement is made beside the file, so the rename stays on one file system. It is
    // its owner's alone until it is whole (a descriptor opened meanwhile would read it later);
    // Commit gives it its mode.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string temp = TempPathFor(path, attempt);
        const int tfd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        if (tfd >= 0) {
            m_fd = tfd;
            m_strTempPath = temp;
            return true;
        }
        if (errno != EEXIST)
            return Fail(errno);
    }
    return Fail(EEXIST);
}

bool CWholeFile::Write(std::string_view bytes)
{
    if (m_fd < 0)
        return Fail(m_nError ? m_nError : EBADF);
    if (m_bWriteFailed)
        return false;
    if (!platform::WriteAll(m_fd, bytes)) {
        m_bWriteFailed = true;
        return Fail(errno);
    }
    return true;
}

bool CWholeFile::Commit(std::string_view text)
{
    Write(text); // a failure is Commit's to clean up
    return Commit();
}

bool CWholeFile::Commit()
{
    if (m_fd < 0)
        return Fail(m_nError ? m_nError : EBADF);
    bool ok = !m_bWriteFailed;
    if (m_bAppend) {
        if (ok && ::fdatasync(m_fd) != 0)
            ok = Fail(errno);
        // A new file's name reaches the disk only with its folder.
        if (ok && m_bCreated) {
            if (const int err = platform::SyncFolderOf(m_strPath))
                ok = Fail(err);
        }
        // Never leave part of the text behind.
        if (!ok) {
            if (m_bCreated)
                ::unlink(m_strPath.c_str());
            else if (m_nOldSize >= 0 && ::ftruncate(m_fd, m_nOldSize) == 0)
                ::fdatasync(m_fd);
        }
    } else if (ok) {
        // fsync, not fdatasync: the mode must reach the disk with the bytes.
        if (::fchmod(m_fd, m_nMode) != 0 || ::fsync(m_fd) != 0)
            ok = Fail(errno);
    }
    if (::close(m_fd) != 0 && ok)
        ok = Fail(errno);
    m_fd = -1;
    if (ok && !m_bAppend) {
        if (::rename(m_strTempPath.c_str(), m_strPath.c_str()) == 0) {
            m_strTempPath.clear();
            // Until the folder is synced a power cut can bring back the old file.
            if (const int err = platform::SyncFolderOf(m_strPath)) {
                ok = Fail(err);
                m_bInPlace = true;
            }
        } else {
            ok = Fail(errno);
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
