#pragma once
#include "platform/RegularFile.h"

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

// ReadRegularFile with its failure as a text without the path (the caller names the file as its
// user knows it); an empty path is refused too.
bool ReadSmallFile(const std::string& path, std::size_t maxBytes, SmallFile& file, QString& error);

// "0640": a file's permission bits, for messages.
QString ModeText(mode_t mode);

} // namespace platform
