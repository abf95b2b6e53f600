#pragma once
// Reading files from outside without Qt: only regular files, without blocking, within a bound.
#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace platform {

// Why a file from outside was not read.
enum class FileFailure {
    None,
    ZeroByte,   // the path holds a zero byte (it would name another file); nothing was opened
    System,     // open, fstat or read failed: errno in RegularFile::error
    NotRegular, // a directory, FIFO, device or socket: nothing was read
    TooLarge,   // more than the caller's maxBytes
};

// A regular file opened for reading: fd is the caller's to close when >= 0.
struct OpenedFile {
    int fd = -1;
    struct stat info {};
    FileFailure failure = FileFailure::None;
    int error = 0; // errno, for FileFailure::System
    // The failure as an errno value, for callers that word failures by errno: EINVAL for a zero
    // byte or a file that is not regular, EISDIR for a directory; 0 when opened.
    int Errno() const;
};

// Opens the file at path (its bytes) for reading, only a regular file and without blocking: a
// FIFO or a device named by mistake cannot hang the caller. For callers that read a file as a
// stream, under bounds of their own; the others use ReadRegularFile.
OpenedFile OpenRegularFile(const std::string& path);

// A regular file read whole.
struct RegularFile {
    std::string bytes; // empty unless the read succeeded
    struct stat info {};
    FileFailure failure = FileFailure::None;
    int error = 0; // errno, for FileFailure::System
    bool ok() const { return failure == FileFailure::None; }
};

// The one bounded read of a file from outside: OpenRegularFile, then at most maxBytes bytes (a
// file whose size says more is not read at all; one that grows while it is read fails too).
// Each caller words the failure as its user knows the file.
RegularFile ReadRegularFile(const std::string& path, std::size_t maxBytes);

} // namespace platform
