#include "app/CSettings.h"

#include "app/CArchive.h"
#include "platform/CWholeFile.h"
#include "platform/FileError.h"
#include "platform/MessageBox.h"
#include "platform/SmallFile.h"

#include <QString>

#include <unistd.h>

// File layout, all integers little-endian, no gaps:
//   u32 version (written as 2; 1 and 2 are read)
//   counted strings m_strIpAddress, m_strPeriod, m_strFolder, m_strPassword (note: the
//   reverse of the declaration order)
//   version 2 only: byte m_bOverwrite, byte m_bLocalTimezone
namespace {
constexpr std::uint32_t kCurrentVersion = 2;

QString FileName()
{
    return QString::fromLatin1(kSettingsFileName);
}

void ShowFileError(platform::FileCause cause, int err)
{
    platform::MessageBox(platform::FileErrorText(cause, FileName(), err));
}

// Closes a descriptor on every path out.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_fd; }
    // The result of close(2): a delayed write error shows up here.
    int Close()
    {
        const int rc = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

} // namespace

void CSettings::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteU32(kCurrentVersion);
        ar.WriteString(m_strIpAddress);
        ar.WriteString(m_strPeriod);
        ar.WriteString(m_strFolder);
        ar.WriteString(m_strPassword);
        ar.WriteByte(m_bOverwrite);
        ar.WriteByte(m_bLocalTimezone);
        return;
    }

    const std::uint32_t version = ar.ReadU32();
    if (ar.Failed())
        return;
    if (version == 0 || version > kCurrentVersion) {
        // Not a read failure: the record keeps what it held.
        platform::MessageBox(QStringLiteral("Wrong setting file version!"));
        return;
    }
    // Read into a copy so that a file that ends early leaves the record as it was.
    CSettings loaded = *this;
    loaded.m_strIpAddress = ar.ReadString();
    loaded.m_strPeriod = ar.ReadString();
    loaded.m_strFolder = ar.ReadString();
    loaded.m_strPassword = ar.ReadString();
    if (version == 2) {
        loaded.m_bOverwrite = ar.ReadByte();
        loaded.m_bLocalTimezone = ar.ReadByte();
    }
    if (!ar.Failed())
        *this = std::move(loaded);
}

bool ReadSettingsFile(CSettings* settings)
{
    if (!settings)
        return false;
    // Only a regular file, opened without blocking: a FIFO could block, a device could feed
    // bytes without end. Anything else is passed over without a word, like a missing file. The
    // archive reads it as a stream, each string bounded by CArchive::kMaxStringBytes.
    CFileDescriptor file(platform::OpenRegularFile(kSettingsFileName).fd);
    if (file.Get() < 0)
        return false;

    CArchive ar(file.Get());
    settings->Serialize(ar);
    if (ar.Failed()) {
        ShowFileError(ar.Cause(), ar.Errno());
        return false;
    }
    return true;
}

bool WriteSettingsFile(CSettings* settings)
{
    if (!settings)
        return false;
    CArchive ar;
    settings->Serialize(ar);

    // The file holds the community: only its owner may read it, whatever mode it had.
    CWholeFile file;
    if (!file.Open(kSettingsFileName, false, 0600, CWholeFile::ModeRule::Always) || !file.Commit(ar.StoredBytes())) {
        ShowFileError(platform::CauseFromErrno(file.Error()), file.Error());
        return false;
    }
    return true;
}
