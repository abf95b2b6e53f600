#include "platform/SmallFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool ReadSmallFile(const std::string& path, std::size_t maxBytes, SmallFile& file, QString& error)
{
    file = {};
    if (path.empty()) {
        error = QStringLiteral("no file named");
        return false;
    }
    if (path.find('\0') != std::string::npos) {
        error = QStringLiteral("the name holds a zero byte");
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = ErrnoText(errno);
        return false;
    }
    bool ok = false;
    if (::fstat(fd, &file.info) != 0) {
        error = ErrnoText(errno);
    } else if (!S_ISREG(file.info.st_mode)) {
        error = QStringLiteral("not a regular file");
    } else {
        // Read up to one byte more than allowed: the size fstat gave may have changed since.
        file.bytes.resize(maxBytes + 1);
        std::size_t done = 0;
        ok = true;
        while (done < file.bytes.size()) {
            const ssize_t n = ::read(fd, file.bytes.data() + done, file.bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = ErrnoText(errno);
                ok = false;
            }
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        file.bytes.resize(done);
        if (ok && done > maxBytes) {
            error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
            ok = false;
        }
    }
    ::close(fd);
    if (!ok)
        file.bytes.clear();
    return ok;
}

QString ModeText(mode_t mode)
{
    return QString::asprintf("%04o", static_cast<unsigned>(mode & 07777));
}

} // namespace platform
