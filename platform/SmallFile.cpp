#include "platform/SmallFile.h"

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
    RegularFile read = ReadRegularFile(path, maxBytes);
    file.info = read.info;
    switch (read.failure) {
    case FileFailure::None:
        file.bytes = std::move(read.bytes);
        return true;
    case FileFailure::ZeroByte:
        error = QStringLiteral("the name holds a zero byte");
        break;
    case FileFailure::System:
        error = ErrnoText(read.error);
        break;
    case FileFailure::NotRegular:
        error = QStringLiteral("not a regular file");
        break;
    case FileFailure::TooLarge:
        error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
        break;
    }
    return false;
}

QString ModeText(mode_t mode)
{
    return QString::asprintf("%04o", static_cast<unsigned>(mode & 07777));
}

} // namespace platform
