#pragma once
#include "platform/FileError.h"

#include <cstdint>
#include <string>

// The byte archive the settings record is serialized through: little-endian integers and
// counted strings (a 1-, 3- or 7-byte length prefix, then the bytes, no terminator).
//
// A storing archive collects the bytes in memory; the caller writes them out in one piece.
// A loading archive reads a file descriptor through a 4096-byte buffer. A failed read (end of
// file, read error) makes the archive fail for good: that read and every later one return
// zeros or empty texts, and Cause()/Errno() tell why. A length prefix is never trusted: a
// string grows only by the bytes that really follow it, so a huge prefix in a short file
// ends in an end-of-file failure rather than a huge allocation; a file that really holds more
// than kMaxStringBytes for one string fails with BadFormat once it has read past that bound.
class CArchive {
public:
    // A storing archive.
    CArchive();
    // A loading archive on an open file descriptor; the archive does not own or close it.
    explicit CArchive(int fd);
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsStoring() const { return m_bStoring; }
    bool IsLoading() const { return !m_bStoring; }

    void WriteU32(std::uint32_t value);
    void WriteByte(std::uint8_t value);
    void WriteString(const std::string& text);
    // Everything stored so far.
    const std::string& StoredBytes() const { return m_stored; }

    std::uint32_t ReadU32();
    std::uint8_t ReadByte();
    std::string ReadString();

    bool Failed() const { return m_cause != platform::FileCause::None; }
    platform::FileCause Cause() const { return m_cause; }
    int Errno() const { return m_nErrno; }

    static constexpr std::size_t kBufferSize = 4096;
    // The longest counted string read: far above anything written from the program's edits
    // (at most 32767 characters, 98301 bytes in UTF-8), far below what a crafted prefix claims.
    static constexpr std::uint64_t kMaxStringBytes = 1u << 20;

private:
    // Copies count bytes to out; false once the archive has failed.
    bool ReadRaw(char* out, std::size_t count);
    bool Fill();
    std::uint64_t ReadLittleEndian(int size);

    bool m_bStoring;
    int m_fd = -1;
    std::string m_stored;
    char m_buffer[kBufferSize];
    std::size_t m_nBufPos = 0;
    std::size_t m_nBufLen = 0;
    platform::FileCause m_cause = platform::FileCause::None;
    int m_nErrno = 0;
};
