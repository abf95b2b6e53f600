// The umask is the whole process's: in the window program the plot window's export runs beside
// a collection and a download, whose threads create data files and reports meanwhile. An
// export that set the umask to 0 for a moment, even to read it, gave such a file mode 0666.
#include "plot/CsvExport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

namespace {

TEST(CsvExport, FilesOtherThreadsCreateMeanwhileKeepTheUmask)
{
    // In memory where there is a tmpfs: without a disk's syncs many more exports fit in.
    QTemporaryDir shm(QStringLiteral("/dev/shm/veltrane-umask-XXXXXX")), disk;
    QTemporaryDir& dir = shm.isValid() ? shm : disk;
    const std::string folder = dir.path().toStdString();
    std::ofstream(folder + "/data127.0.0.1.txt") << "2026/12/08,  05:00:00,  21,  45\r\n";
    const QString data = dir.filePath(QStringLiteral("data127.0.0.1.txt"));
    const std::string csv = folder + "/data.csv";

    const mode_t before = ::umask(022);
    std::atomic<bool> stop {false};
    std::atomic<long> created {0}, wider {0};
    std::thread creator([&] {
        const std::string path = folder + "/report.txt";
        while (!stop) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0)
                continue;
            struct stat st {};
            if (::fstat(fd, &st) == 0 && (st.st_mode & 022) != 0)
                ++wider;
            ++created;
            ::close(fd);
            ::unlink(path.c_str());
        }
    });
    constexpr int kExports = 10000;
    int exports = 0;
    while (exports < kExports && wider == 0 && csvexport::Export(data, csv).ok)
        ++exports;
    stop = true;
    creator.join();
    struct stat st {};
    const int statResult = ::stat(csv.c_str(), &st);
    ::umask(before);

    EXPECT_EQ(exports, kExports) << "an export failed, or a file came out too wide";
    EXPECT_GT(created, 0);
    EXPECT_EQ(wider, 0) << wider << " of " << created << " files made during " << exports << " exports were writable by others";
    ASSERT_EQ(statResult, 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "the export itself is made under the umask";
}

} // namespace
