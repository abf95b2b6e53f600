#pragma once
#include <QString>

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace platform {

// A small file from outside (a secret, a configuration, a key), read whole.
struct SmallFile {
    std::string bytes;
    struct stat info {}; // of the file read, for the caller's checks of owner, group and mode
};

// Reads the file at path (its bytes) whole: only a regular file, opened without blocking (a FIFO
// or device named by mistake cannot hang the caller), at most maxBytes bytes. A path holding a
// zero byte is refused (it would name another file). False with error, a text without the path
// (the caller names it as its user knows it).
bool ReadSmallFile(const std::string& path, std::size_t maxBytes, SmallFile& file, QString& error);

// "0640": a file's permission bits, for messages.
QString ModeText(mode_t mode);

} // namespace platform
