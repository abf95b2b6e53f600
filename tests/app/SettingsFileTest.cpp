#include "AppTestSupport.h"
#include "common/QtPrinters.h"
#include "common/FolderSyncSpy.h"
#include "common/TestSupport.h"

#include "app/CArchive.h"
#include "app/CSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const QString kFile = QString::fromLatin1(kSettingsFileName);
const QString kEndOfFile = QStringLiteral("An attempt was made to access VeltraneG.ini past its end.");

// 198.168.0.100, period 10, folder D:\log, empty password, overwrite off, local time zone on.
const QByteArray kWorkedExample = Hex("02 00 00 00, 0D 31 39 38 2E 31 36 38 2E 30 2E 31 30 30, 02 31 30,"
                                      " 06 44 3A 5C 6C 6F 67, 00, 00, 01");

CSettings Record(const char* ip, const char* period, const char* folder, const char* password, int overwrite,
                 int localZone)
{
    CSettings s;
    s.m_strIpAddress = ip;
    s.m_strPeriod = period;
    s.m_strFolder = folder;
    s.m_strPassword = password;
    s.m_bOverwrite = static_cast<std::uint8_t>(overwrite);
    s.m_bLocalTimezone = static_cast<std::uint8_t>(localZone);
    return s;
}

CSettings WorkedExampleRecord()
{
    return Record("198.168.0.100", "10", "D:\\log", "", 0, 1);
}

// A record that no file in these tests holds, to see what a read leaves alone.
CSettings Sentinel()
{
    return Record("10.9.8.7", "77", "/keep", "kept", 1, 1);
}

bool Same(const CSettings& a, const CSettings& b)
{
    return a.m_strIpAddress == b.m_strIpAddress && a.m_strPeriod == b.m_strPeriod && a.m_strFolder == b.m_strFolder
        && a.m_strPassword == b.m_strPassword && a.m_bOverwrite == b.m_bOverwrite
        && a.m_bLocalTimezone == b.m_bLocalTimezone;
}

class SettingsFileTest : public ::testing::Test {
protected:
    TempCurrentDir m_cwd;
};

} // namespace

TEST_F(SettingsFileTest, WorkedExampleIsWrittenByteForByte)
{
    CSettings s = WorkedExampleRecord();
    ASSERT_TRUE(WriteSettingsFile(&s));
    const QByteArray bytes = ReadFileBytes(kFile);
    EXPECT_EQ(bytes.size(), 31);
    EXPECT_EQ(bytes.toHex(' '), kWorkedExample.toHex(' '));
}

TEST_F(SettingsFileTest, WorkedExampleIsReadBack)
{
    WriteFileBytes(kFile, kWorkedExample);
    CSettings s;
    ASSERT_TRUE(ReadSettingsFile(&s));
    EXPECT_TRUE(Same(s, WorkedExampleRecord()));
}

TEST_F(SettingsFileTest, NewRecordHoldsPeriodFiveAndNothingElse)
{
    const CSettings s;
    EXPECT_EQ(s.m_strPeriod, "5");
    EXPECT_TRUE(s.m_strIpAddress.empty() && s.m_strFolder.empty() && s.m_strPassword.empty());
    EXPECT_EQ(s.m_bOverwrite, 0);
    EXPECT_EQ(s.m_bLocalTimezone, 0);
}

TEST_F(SettingsFileTest, VersionOneFillsTheTextsAndLeavesTheOptions)
{
    WriteFileBytes(kFile, Hex("01 00 00 00, 08 31 30 2E 30 2E 30 2E 31, 01 35, 04 2F 6C 6F 67, 03 61 62 63"));
    CSettings s = Sentinel();
    ASSERT_TRUE(ReadSettingsFile(&s));
    EXPECT_EQ(s.m_strIpAddress, "10.0.0.1");
    EXPECT_EQ(s.m_strPeriod, "5");
    EXPECT_EQ(s.m_strFolder, "/log");
    EXPECT_EQ(s.m_strPassword, "abc");
    EXPECT_EQ(s.m_bOverwrite, 1) << "kept from before";
    EXPECT_EQ(s.m_bLocalTimezone, 1) << "kept from before";

    CSettings fresh;
    ASSERT_TRUE(ReadSettingsFile(&fresh));
    EXPECT_EQ(fresh.m_bOverwrite, 0);
    EXPECT_EQ(fresh.m_bLocalTimezone, 0);
}

TEST_F(SettingsFileTest, FlagBytesAreReadAsTheyStand)
{
    WriteFileBytes(kFile, Hex("02 00 00 00 00 00 00 00 07 FF"));
    CSettings s;
    ASSERT_TRUE(ReadSettingsFile(&s));
    EXPECT_EQ(s.m_bOverwrite, 7);
    EXPECT_EQ(s.m_bLocalTimezone, 0xFF);
}

TEST_F(SettingsFileTest, LongTextsTakeTheLongerPrefixesAndComeBackWhole)
{
    const struct {
        std::size_t length;
        const char* prefix;
    } cases[] = {
        {254, "FE"},
        {255, "FF FF 00"},
        {300, "FF 2C 01"},
        {65533, "FF FD FF"},
        {65534, "FF FF FF FE FF 00 00"},
        {70000, "FF FF FF 70 11 01 00"},
    };
    for (const auto& c : cases) {
        CSettings s;
        s.m_strFolder = "/" + std::string(c.length - 1, 'f');
        ASSERT_TRUE(WriteSettingsFile(&s));
        const QByteArray bytes = ReadFileBytes(kFile);
        // version, empty address, "5", then the folder's prefix
        const QByteArray prefix = Hex(c.prefix);
        EXPECT_EQ(bytes.mid(4 + 1 + 2, prefix.size()).toHex(' '), prefix.toHex(' ')) << c.length;
        EXPECT_EQ(bytes.size(), 4 + 1 + 2 + prefix.size() + qsizetype(c.length) + 1 + 2);

        CSettings back;
        ASSERT_TRUE(ReadSettingsFile(&back)) << c.length;
        EXPECT_TRUE(Same(back, s)) << c.length;
    }
}

TEST_F(SettingsFileTest, BytesAfterTheLastFieldAreIgnored)
{
    WriteFileBytes(kFile, kWorkedExample + Hex("DE AD BE EF"));
    CSettings s;
    ASSERT_TRUE(ReadSettingsFile(&s));
    EXPECT_TRUE(Same(s, WorkedExampleRecord()));
}

TEST_F(SettingsFileTest, WrongVersionIsToldAndTheRecordKept)
{
    for (const char* version : {"00 00 00 00", "03 00 00 00", "FF FF FF FF", "00 00 00 01"}) {
        MessageBoxSpy spy;
        WriteFileBytes(kFile, Hex(version) + kWorkedExample.mid(4));
        CSettings s = Sentinel();
        EXPECT_TRUE(ReadSettingsFile(&s)) << "not a read failure";
        EXPECT_EQ(spy.texts(), QStringList{QStringLiteral("Wrong setting file version!")}) << version;
        EXPECT_TRUE(Same(s, Sentinel())) << version;
    }
}

TEST_F(SettingsFileTest, ShortFilesFailWithTheEndOfFileTextAndKeepTheRecord)
{
    // Every proper prefix of the worked example, the empty file first.
    for (qsizetype length = 0; length < kWorkedExample.size(); ++length) {
        MessageBoxSpy spy;
        WriteFileBytes(kFile, kWorkedExample.left(length));
        CSettings s = Sentinel();
        EXPECT_FALSE(ReadSettingsFile(&s)) << length;
        EXPECT_EQ(spy.texts(), QStringList{kEndOfFile}) << length;
        EXPECT_TRUE(Same(s, Sentinel())) << length;
    }
}

TEST_F(SettingsFileTest, HugeLengthPrefixesEndAtTheFileEnd)
{
    const char* files[] = {
        "02 00 00 00  FF FF FF FF FF FF FF  41 42 43",     // 4 GiB string, 3 bytes follow
        "02 00 00 00  FF FF FF 00 00 00 80  41",           // 2 GiB
        "02 00 00 00  FF FE FF 41 42",                    // 65534 by the 16-bit form
        "02 00 00 00  00 00 00  FF FF FF FF FF FF FF",    // the password's prefix
        "01 00 00 00  FF",                                 // prefix cut after its first byte
        "01 00 00 00  FF FF",                              // 16-bit length cut
        "01 00 00 00  FF FF FF 01 00",                     // 32-bit length cut
    };
    for (const char* hex : files) {
        MessageBoxSpy spy;
        WriteFileBytes(kFile, Hex(hex));
        CSettings s = Sentinel();
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(ReadSettingsFile(&s)) << hex;
        EXPECT_LT(timer.elapsed(), 2000) << "nothing was allocated or waited for by the prefix";
        EXPECT_EQ(spy.texts(), QStringList{kEndOfFile}) << hex;
        EXPECT_TRUE(Same(s, Sentinel())) << hex;
    }
}

// The format read by a second, plain parser: the record a file holds, or nothing when the
// file ends inside it.
static std::optional<std::vector<std::string>> ModelRecord(const QByteArray& bytes)
{
    qsizetype pos = 0;
    auto take = [&](qsizetype n, std::uint64_t& value) {
        if (bytes.size() - pos < n)
            return false;
        value = 0;
        for (qsizetype i = n - 1; i >= 0; --i)
            value = value << 8 | std::uint8_t(bytes[pos + i]);
        pos += n;
        return true;
    };
    std::uint64_t version = 0;
    if (!take(4, version))
        return std::nullopt;
    std::vector<std::string> fields; // address, period, folder, password, then the option bytes
    for (int i = 0; i < 4; ++i) {
        std::uint64_t n = 0;
        if (!take(1, n) || (n == 0xFF && (!take(2, n) || (n == 0xFFFF && !take(4, n)))))
            return std::nullopt;
        if (std::uint64_t(bytes.size() - pos) < n)
            return std::nullopt;
        fields.push_back(bytes.mid(pos, qsizetype(n)).toStdString());
        pos += qsizetype(n);
    }
    for (int i = 0; version == 2 && i < 2; ++i) {
        std::uint64_t option = 0;
        if (!take(1, option))
            return std::nullopt;
        fields.push_back(std::string(1, char(option)));
    }
    return fields;
}

TEST_F(SettingsFileTest, GarbageNeverReadsPastTheFile)
{
    // Deterministic noise, each length from 0 to 300, each starting with a valid version so
    // that the string fields are parsed from the noise; short length prefixes, so that many
    // records fit in the file and some end just past it.
    std::uint32_t seed = 12345;
    int good = 0;
    for (int length = 0; length <= 300; ++length) {
        QByteArray bytes = Hex(length % 2 ? "02 00 00 00" : "01 00 00 00");
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes.append(static_cast<char>((seed >> 24) % (i % 7 == 0 ? 64 : 256)));
        }
        MessageBoxSpy spy;
        WriteFileBytes(kFile, bytes);
        CSettings s = Sentinel();
        const bool ok = ReadSettingsFile(&s);
        const auto model = ModelRecord(bytes);
        ASSERT_EQ(ok, model.has_value()) << length;
        if (!ok) {
            EXPECT_EQ(spy.texts(), QStringList{kEndOfFile}) << length;
            EXPECT_TRUE(Same(s, Sentinel())) << length;
            continue;
        }
        ++good;
        EXPECT_TRUE(spy.texts().isEmpty());
        std::vector<std::string> read = {s.m_strIpAddress, s.m_strPeriod, s.m_strFolder, s.m_strPassword};
        if (length % 2)
            read.insert(read.end(), {std::string(1, char(s.m_bOverwrite)), std::string(1, char(s.m_bLocalTimezone))});
        EXPECT_EQ(read, *model) << length;
    }
    EXPECT_GT(good, 20) << "the noise should hold whole records too";
}

TEST_F(SettingsFileTest, MissingFileOrNoRecordFailsSilently)
{
    CSettings s = Sentinel();
    EXPECT_FALSE(ReadSettingsFile(&s));
    EXPECT_TRUE(Same(s, Sentinel()));
    EXPECT_FALSE(ReadSettingsFile(nullptr));
    EXPECT_FALSE(WriteSettingsFile(nullptr));
    EXPECT_FALSE(QFileInfo::exists(kFile));

    // A folder of that name cannot be read as a file either.
    ASSERT_TRUE(QDir().mkdir(kFile));
    EXPECT_FALSE(ReadSettingsFile(&s));
}

TEST_F(SettingsFileTest, OnlyARegularFileIsReadWithoutBlockingAndWithinABound)
{
    const std::size_t tooLong = CArchive::kMaxStringBytes + 1;
    const QString kBadFormat = QStringLiteral("VeltraneG.ini has an unexpected format.");
    const struct {
        const char* file;
        std::function<int()> make; // a descriptor to close once the read is over, or -1
        QStringList texts;
    } cases[] = {
        // A FIFO that a writer holds open but never writes to.
        {"FIFO", [] { return ::mkfifo(kSettingsFileName, 0600) == 0 ? ::open(kSettingsFileName, O_RDWR) : -1; }, {}},
        // A device that never ends (read here it would be version 0).
        {"device",
         [] {
             EXPECT_EQ(::symlink("/dev/zero", kSettingsFileName), 0);
             return -1;
         },
         {}},
        // A regular file whose address really is longer than any the program writes.
        {"too long",
         [&] {
             WriteFileBytes(kFile, Hex("02 00 00 00 FF FF FF") + QByteArray::fromRawData("\x01\x00\x10\x00", 4));
             EXPECT_EQ(::truncate(kSettingsFileName, static_cast<off_t>(4 + 7 + tooLong + 3 + 2)), 0); // zeros
             return -1;
         },
         {kBadFormat}},
    };
    static_assert(CArchive::kMaxStringBytes + 1 == 0x100001);
    for (const auto& c : cases) {
        ::unlink(kSettingsFileName);
        const int keep = c.make();
        MessageBoxSpy spy;
        CSettings s = Sentinel();
        auto read = std::async(std::launch::async, [&] { return ReadSettingsFile(&s); });
        auto done = [&] { return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
        EXPECT_TRUE(WaitUntil(done, 3000)) << c.file << ": blocked";
        if (keep >= 0)
            ::close(keep); // ends a blocked read
        WaitUntil(done); // answering its message boxes meanwhile
        EXPECT_FALSE(read.get()) << c.file;
        EXPECT_EQ(spy.texts(), c.texts) << c.file;
        EXPECT_TRUE(Same(s, Sentinel())) << c.file;
    }
}

TEST_F(SettingsFileTest, WritingReplacesTheFileWithModeSixHundred)
{
    WriteFileBytes(kFile, QByteArray(100, 'x'));
    ASSERT_TRUE(QFile::setPermissions(kFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    CSettings s = WorkedExampleRecord();
    ASSERT_TRUE(WriteSettingsFile(&s));
    EXPECT_EQ(ReadFileBytes(kFile), kWorkedExample);
    struct stat st {};
    ASSERT_EQ(::stat(kSettingsFileName, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(m_cwd.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{kFile}) << "no temporary left";
}

TEST_F(SettingsFileTest, WriteFailureShowsTheStandardTextAndLeavesNoTemporary)
{
    ASSERT_TRUE(QDir().mkdir(kFile));
    MessageBoxSpy spy;
    CSettings s = WorkedExampleRecord();
    EXPECT_FALSE(WriteSettingsFile(&s));
    EXPECT_EQ(spy.texts(), QStringList{QStringLiteral("VeltraneG.ini is a folder, not a file.")});
    EXPECT_TRUE(QDir(m_cwd.Path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// A power cut after the rename must not bring the old file back: the folder is synced once the
// new file holds the name, with no temporary beside it.
TEST_F(SettingsFileTest, TheFolderIsSyncedAfterTheRename)
{
    for (const bool existed : {false, true}) {
        if (existed)
            WriteFileBytes(kFile, QByteArray(100, 'x'));
        FolderSyncSpy spy;
        CSettings s = WorkedExampleRecord();
        ASSERT_TRUE(WriteSettingsFile(&s));
        EXPECT_TRUE(spy.SyncedHolding(m_cwd.Path().toStdString(), {kSettingsFileName}))
            << (existed ? "replaced" : "created") << ", " << spy.SyncsOf(m_cwd.Path().toStdString()).size()
            << " syncs of the folder";
    }
}
