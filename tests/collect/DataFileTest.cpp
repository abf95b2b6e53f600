// The data file: the existence test, the open modes, the lock that lets others read but not
// write, and failed writes that never leave half a line.
#include "CollectTestSupport.h"
#include "common/FolderSyncSpy.h"

#include "collect/CDataFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <dlfcn.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Every fdatasync of this program passes through here: a power cut cannot be staged, but what
// was synced, and when, can be seen. Records the path and size of each synced file.
namespace {
std::mutex g_syncMutex;
std::vector<std::pair<QString, qint64>> g_synced;
} // namespace

extern "C" int fdatasync(int fd)
{
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fdatasync"));
    struct stat st {};
    char target[4096] = {};
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    if (::fstat(fd, &st) == 0 && ::readlink(link.constData(), target, sizeof target - 1) > 0) {
        std::lock_guard lock(g_syncMutex);
        g_synced.emplace_back(QFile::decodeName(target), qint64(st.st_size));
    }
    return real(fd);
}

using collecttest::ReadFile;
using collecttest::WriteFile;
using platform::FileCause;

namespace {

class DataFile : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }
    // The bytes of a path, as the data file takes it.
    static std::string N(const QString& path) { return QFile::encodeName(path).toStdString(); }
    QTemporaryDir m_dir;
};

TEST_F(DataFile, ExistenceTestTellsMissingFromUnusable)
{
    WriteFile(Path("there.txt"), "old\r\n");
    WriteFile(Path("plainfile"), "");
    struct Case {
        QString path;
        FileCause cause;
        const char* text; // the standard text, "%1" for the path; null: no text
    };
    const Case cases[] = {
        {Path("there.txt"), FileCause::None, nullptr},
        {Path("missing.txt"), FileCause::FileNotFound, "%1 was not found."},
        {Path("nofolder/data.txt"), FileCause::BadPath, "%1 contains an incorrect path."},
        {Path("plainfile/data.txt"), FileCause::BadPath, "%1 contains an incorrect path."},
        {Path(""), FileCause::IsDirectory, "%1 is a folder, not a file."}, // Rename to an empty name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const CDataFile::Result result = CDataFile::TestExists(N(c.path));
        EXPECT_EQ(result.cause, c.cause);
        if (c.text) {
            EXPECT_EQ(result.Text(N(c.path)), QString::fromLatin1(c.text).arg(c.path));
        }
    }
    EXPECT_FALSE(QDir(Path("nofolder")).exists()) << "the folder is never created";
}

TEST_F(DataFile, ExistenceTestFailsWhileAnotherProgramHoldsALock)
{
    const QString path = Path("held.txt");
    WriteFile(path, "old\r\n");
    for (const bool writeLock : {true, false}) {
        SCOPED_TRACE(writeLock ? "write lock" : "read lock");
        collecttest::CLockHolder other(path, writeLock);
        ASSERT_TRUE(other.Holds());
        const CDataFile::Result result = CDataFile::TestExists(N(path));
        EXPECT_EQ(result.cause, FileCause::SharingViolation);
        EXPECT_EQ(result.Text(N(path)), QStringLiteral("A sharing violation occurred while accessing %1.").arg(path));
    }
    EXPECT_TRUE(CDataFile::TestExists(N(path)).ok()) << "free again once the other program let go";
}

TEST_F(DataFile, OpenModesAppendEmptyOrCreate)
{
    const QString path = Path("data.txt");
    WriteFile(path, "old line\r\n");
    {
        CDataFile file;
        ASSERT_TRUE(file.Open(N(path), CDataFile::Mode::SaveContinuously).ok());
        ASSERT_TRUE(file.WriteLine("new line\r\n").ok());
    }
    EXPECT_EQ(ReadFile(path), "old line\r\nnew line\r\n");
    {
        CDataFile file;
        ASSERT_TRUE(file.Open(N(path), CDataFile::Mode::Overwrite).ok());
        EXPECT_EQ(ReadFile(path), "") << "emptied before the first line";
        ASSERT_TRUE(file.WriteLine("only\r\n").ok());
    }
    EXPECT_EQ(ReadFile(path), "only\r\n");

    CDataFile file;
    EXPECT_EQ(file.Open(N(Path("gone.txt")), CDataFile::Mode::SaveContinuously).cause, FileCause::FileNotFound);
    EXPECT_FALSE(QFile::exists(Path("gone.txt"))) << "Save Continuously never creates";
    EXPECT_EQ(file.Open(N(Path("nofolder/data.txt")), CDataFile::Mode::NewFile).cause, FileCause::BadPath);
    EXPECT_FALSE(QDir(Path("nofolder")).exists());
    ASSERT_TRUE(file.Open(N(Path("fresh.txt")), CDataFile::Mode::NewFile).ok());
    EXPECT_TRUE(QFile::exists(Path("fresh.txt")));
    file.Close();

    // A zero byte would end the path at fresh.txt: refused before the system sees it.
    ASSERT_TRUE(file.Open(N(Path("fresh.txt")), CDataFile::Mode::SaveContinuously).ok());
    ASSERT_TRUE(file.WriteLine("kept\r\n").ok());
    file.Close();
    const QString cut = Path("fresh.txt") + QChar(0) + QStringLiteral("/data.txt");
    EXPECT_EQ(CDataFile::TestExists(N(cut)).cause, FileCause::BadPath);
    for (const auto mode : {CDataFile::Mode::SaveContinuously, CDataFile::Mode::Overwrite, CDataFile::Mode::NewFile})
        EXPECT_EQ(file.Open(N(cut), mode).cause, FileCause::BadPath);
    EXPECT_EQ(ReadFile(Path("fresh.txt")), "kept\r\n");
}

TEST_F(DataFile, OthersMayReadButNotWriteWhileItIsOpen)
{
    const QString path = Path("data.txt");
    WriteFile(path, "old\r\n");
    CDataFile file;
    ASSERT_TRUE(file.Open(N(path), CDataFile::Mode::SaveContinuously).ok());
    const collecttest::OtherProgramAccess during = collecttest::ProbeFromOtherProgram(path);
    EXPECT_TRUE(during.canRead);
    EXPECT_FALSE(during.canLockForWriting);
    // Another open of the same file, even in this program, finds it held.
    EXPECT_EQ(CDataFile::TestExists(N(path)).cause, FileCause::SharingViolation);
    CDataFile second;
    EXPECT_EQ(second.Open(N(path), CDataFile::Mode::Overwrite).cause, FileCause::SharingViolation);
    EXPECT_EQ(ReadFile(path), "old\r\n") << "a refused Overwrite cuts nothing";

    file.Close();
    EXPECT_TRUE(collecttest::ProbeFromOtherProgram(path).canLockForWriting);
}

TEST_F(DataFile, OverwriteOfAFileAnotherProgramHoldsCutsNothing)
{
    const QString path = Path("data.txt");
    WriteFile(path, "keep me\r\n");
    collecttest::CLockHolder other(path, true);
    ASSERT_TRUE(other.Holds());
    CDataFile file;
    const CDataFile::Result result = file.Open(N(path), CDataFile::Mode::Overwrite);
    EXPECT_EQ(result.cause, FileCause::SharingViolation);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadFile(path), "keep me\r\n");
}

TEST_F(DataFile, EveryLineIsOnTheDiskBeforeWriteLineReturns)
{
    const QString path = QDir(m_dir.path()).canonicalPath() + "/data.txt"; // as /proc names it
    CDataFile file;
    ASSERT_TRUE(file.Open(N(path), CDataFile::Mode::NewFile).ok());
    const std::string lines[] = {"2009/08/20,  14:05:09,  23\r\n", "2009/08/20,  14:05:10,  24\r\n"};
    qint64 size = 0;
    for (const std::string& line : lines) {
        {
            std::lock_guard lock(g_syncMutex);
            g_synced.clear();
        }
        ASSERT_TRUE(file.WriteLine(line).ok());
        size += qint64(line.size());
        std::lock_guard lock(g_syncMutex);
        EXPECT_EQ(g_synced, (std::vector<std::pair<QString, qint64>>{{path, size}})) << "synced once, whole line in";
    }
}

// A file size limit makes a write stop part way, as a full disk does.
TEST_F(DataFile, AFailedWriteLeavesOnlyWholeLinesAndTheNextOneGoesIn)
{
    const QString path = Path("data.txt");
    CDataFile file;
    ASSERT_TRUE(file.Open(N(path), CDataFile::Mode::NewFile).ok());
    ASSERT_TRUE(file.WriteLine("2009/08/20,  14:05:09,  23\r\n").ok());

    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 28 + 10; // room for ten bytes of the next line
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const CDataFile::Result failed = file.WriteLine("2009/08/20,  14:05:10,  24\r\n");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(failed.cause, FileCause::DiskFull);
    EXPECT_EQ(failed.Text(N(path)), QStringLiteral("There is no room left on the disk for %1.").arg(path));
    EXPECT_EQ(ReadFile(path), "2009/08/20,  14:05:09,  23\r\n");
    ASSERT_TRUE(file.WriteLine("2009/08/20,  14:05:11,  25\r\n").ok());
    EXPECT_EQ(ReadFile(path), "2009/08/20,  14:05:09,  23\r\n2009/08/20,  14:05:11,  25\r\n");
}

} // namespace

// The data file the run creates (or empties) keeps its name through a power cut: the folder is
// synced before the first line, whose own sync would otherwise go into a file without a name.
TEST_F(DataFile, TheFolderIsSyncedOnceTheFileIsCreated)
{
    const struct {
        CDataFile::Mode mode;
        bool existed;
    } cases[] = {
        {CDataFile::Mode::NewFile, false},
        {CDataFile::Mode::Overwrite, false},
        {CDataFile::Mode::Overwrite, true},
    };
    for (const auto& c : cases) {
        QFile::remove(Path("data.txt"));
        if (c.existed)
            WriteFile(Path("data.txt"), "old line\r\n");
        testsupport::FolderSyncSpy spy;
        CDataFile file;
        ASSERT_TRUE(file.Open(N(Path("data.txt")), c.mode).ok());
        EXPECT_TRUE(spy.SyncedHolding(m_dir.path().toStdString(), {"data.txt"}))
            << int(c.mode) << (c.existed ? " over an old file" : " new");
    }
}
