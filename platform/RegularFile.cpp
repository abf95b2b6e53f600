#include "platform/RegularFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace platform {

OpenedFile OpenRegularFile(const std::string& path)
{
    OpenedFile file;
    if (path.find('\0') != std::string::npos) {
        file.failure = FileFailure::ZeroByte;
        return file;
    }
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        file.failure = FileFailure::System;
        file.error = errno;
        return file;
    }
    if (::fstat(fd, &file.info) != 0) {
        file.failure = FileFailure::System;
        file.error = errno;
    } else if (!S_ISREG(file.info.st_mode)) {
        file.failure = FileFailure::NotRegular;
    } else {
        file.fd = fd;
        return file;
    }
    ::close(fd);
    return file;
}

int OpenedFile::Errno() const
{
    switch (failure) {
    case FileFailure::None:
        return 0;
    case FileFailure::System:
        return error;
    case FileFailure::NotRegular:
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    default:
        return EINVAL;
    }
}

RegularFile ReadRegularFile(const std::string& path, std::size_t maxBytes)
{
    RegularFile file;
    const OpenedFile opened = OpenRegularFile(path);
    file.info = opened.info;
    file.failure = opened.failure;
    file.error = opened.error;
    if (opened.fd < 0)
        return file;
    if (file.info.st_size > 0 && static_cast<std::uintmax_t>(file.info.st_size) > maxBytes) {
        file.failure = FileFailure::TooLarge;
        ::close(opened.fd);
        return file;
    }
    // Up to one byte more than allowed: the size fstat gave may have changed since. The buffer
    // starts at that size and grows only if the file did, so a small file under a large bound
    // costs what it holds.
    const std::size_t limit = maxBytes + 1;
    std::size_t done = 0;
    file.bytes.resize(std::min(limit, static_cast<std::size_t>(std::max<off_t>(file.info.st_size, 0)) + 1));
    for (;;) {
        if (done == file.bytes.size()) {
            if (done == limit)
                break;
            file.bytes.resize(std::min(limit, std::max<std::size_t>(done * 2, 4096)));
        }
        const ssize_t n = ::read(opened.fd, file.bytes.data() + done, file.bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            file.failure = FileFailure::System;
            file.error = errno;
        }
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(opened.fd);
    file.bytes.resize(done);
    if (file.ok() && done > maxBytes)
        file.failure = FileFailure::TooLarge;
    if (!file.ok())
        file.bytes.clear();
    return file;
}

} // namespace platform
