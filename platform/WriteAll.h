#pragma once
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace platform {

// Writes all of bytes to fd, going on after short writes and interruptions. False, with errno
// set, when a write fails (a write that makes no progress counts as EIO).
inline bool WriteAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace platform
