#include "app/CArchive.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {
// Counted-string prefixes: one byte below 0xFF, else 0xFF and a 16-bit length below 0xFFFF,
// else 0xFF 0xFFFF and a 32-bit length.
constexpr std::uint8_t kLongPrefix = 0xFF;
constexpr std::uint16_t kWidePrefix = 0xFFFF;
} // namespace

CArchive::CArchive() : m_bStoring(true) {}

CArchive::CArchive(int fd) : m_bStoring(false), m_fd(fd) {}

void CArchive::WriteU32(std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        m_stored.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void CArchive::WriteByte(std::uint8_t value)
{
    m_stored.push_back(static_cast<char>(value));
}

void CArchive::WriteString(const std::string& text)
{
    const std::size_t n = text.size();
    if (n < kLongPrefix) {
        WriteByte(static_cast<std::uint8_t>(n));
    } else if (n < kWidePrefix - 1) { // 255 .. 65533
        WriteByte(kLongPrefix);
        WriteByte(static_cast<std::uint8_t>(n & 0xFF));
        WriteByte(static_cast<std::uint8_t>(n >> 8));
    } else {
        WriteByte(kLongPrefix);
        WriteByte(0xFF);
        WriteByte(0xFF);
        WriteU32(static_cast<std::uint32_t>(n));
    }
    m_stored += text;
}

bool CArchive::Fill()
{
    for (;;) {
        const ssize_t got = ::read(m_fd, m_buffer, kBufferSize);
        if (got > 0) {
            m_nBufPos = 0;
            m_nBufLen = static_cast<std::size_t>(got);
            return true;
        }
        if (got == 0) {
            m_cause = platform::FileCause::EndOfFile;
            return false;
        }
        if (errno == EINTR)
            continue;
        m_nErrno = errno;
        m_cause = platform::CauseFromErrno(errno);
        if (m_cause == platform::FileCause::None)
            m_cause = platform::FileCause::Generic;
        return false;
    }
}

bool CArchive::ReadRaw(char* out, std::size_t count)
{
    if (m_bStoring || Failed())
        return false;
    while (count > 0) {
        if (m_nBufPos == m_nBufLen && !Fill())
            return false;
        const std::size_t take = std::min(count, m_nBufLen - m_nBufPos);
        std::copy_n(m_buffer + m_nBufPos, take, out);
        out += take;
        m_nBufPos += take;
        count -= take;
    }
    return true;
}

std::uint64_t CArchive::ReadLittleEndian(int size)
{
    unsigned char bytes[4] = {};
    if (!ReadRaw(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(size)))
        return 0;
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

std::uint32_t CArchive::ReadU32()
{
    return static_cast<std::uint32_t>(ReadLittleEndian(4));
}

std::uint8_t CArchive::ReadByte()
{
    return static_cast<std::uint8_t>(ReadLittleEndian(1));
}

std::string CArchive::ReadString()
{
    std::uint64_t n = ReadByte();
    if (n == kLongPrefix) {
        n = ReadLittleEndian(2);
        if (n == kWidePrefix)
            n = ReadLittleEndian(4);
    }
    // Grow by what the file really holds, never by what the prefix claims.
    std::string text;
    char chunk[kBufferSize];
    while (n > 0 && !Failed()) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof chunk));
        if (!ReadRaw(chunk, take))
            break;
        if (text.size() + take > kMaxStringBytes) {
            m_cause = platform::FileCause::BadFormat;
            break;
        }
        text.append(chunk, take);
        n -= take;
    }
    return Failed() ? std::string() : text;
}
