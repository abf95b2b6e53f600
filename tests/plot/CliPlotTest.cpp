// veltrane-cli plot run as users run it: a picture of the asked size and the chart's summary,
// and its exit statuses for files it cannot read or write and for bad options.
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

CliRun Cli(const QStringList& args)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY")); // a display is never needed
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELTRANE_CLI), QStringList {QStringLiteral("plot")} + args);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(CliPlot, DrawsThePictureAndPrintsTheSummary)
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data127.0.0.2.txt"));
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("2026/12/08,  05:00:00,  21,  45\r\n2026/12/08,  05:01:00,  22,  x\r\nbroken\r\n");
    file.close();
    const QString png = dir.filePath(QStringLiteral("out.png"));

    const CliRun run = Cli({data, QStringLiteral("-o"), png, QStringLiteral("--size"), QStringLiteral("640x400")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("Column 1: 2 values from 2026/12/08 05:00:00 to 2026/12/08 05:01:00; minimum 21, "
                                      "maximum 22, latest 22 (2026/12/08 05:01:00).\n"
                                      "Column 2: 1 value from 2026/12/08 05:00:00 to 2026/12/08 05:00:00; minimum 45, "
                                      "maximum 45, latest 45 (2026/12/08 05:00:00).\n"
                                      "3 lines read: 1 line not in a known format skipped; 1 value that is not a number "
                                      "left out.\n"
                                      "No data127.0.0.2.columns beside the file names the columns; 4 values without a "
                                      "column name (\"Column n\").\n"));
    EXPECT_EQ(run.err, QString());
    const QImage image(png);
    EXPECT_EQ(image.size(), QSize(640, 400));

    // Paths that are not UTF-8 are used as typed. QProcess passes only UTF-8, so the shell's
    // printf makes the byte.
    const QByteArray folder = QFile::encodeName(dir.path()) + "/caf\xE9";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    ASSERT_EQ(::link(QFile::encodeName(data).constData(), (folder + "/data.txt").constData()), 0);
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                           QStringLiteral("exec \"$0\" plot \"$(printf \"$1\")\" -o \"$(printf \"$1\").png\""),
                                           QStringLiteral(VELTRANE_CLI), dir.path() + QStringLiteral("/caf\\351/data.txt")});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    struct stat written {};
    EXPECT_EQ(::stat((folder + "/data.txt.png").constData(), &written), 0);

    struct Case {
        QStringList args;
        int status;
    };
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    const Case failures[] = {
        {{dir.filePath(QStringLiteral("missing.txt")), QStringLiteral("-o"), png}, 3},
        {{dir.path(), QStringLiteral("-o"), png}, 3},
        {{dir.filePath(QStringLiteral("fifo")), QStringLiteral("-o"), png}, 3},       // never waits for a writer
        {{data, QStringLiteral("-o"), dir.filePath(QStringLiteral("fifo"))}, 3},      // nor for a reader
        {{data, QStringLiteral("-o"), dir.filePath(QStringLiteral("no/such/dir.png"))}, 3},
        {{data}, 1},
        {{data, QStringLiteral("-o"), png, QStringLiteral("--size"), QStringLiteral("640")}, 1},
        {{data, QStringLiteral("-o"), png, QStringLiteral("--size"), QStringLiteral("90000x400")}, 1},
        {{data, data, QStringLiteral("-o"), png}, 1},
    };
    for (const Case& c : failures) {
        const CliRun failed = Cli(c.args);
        EXPECT_EQ(failed.status, c.status) << c.args.join(' ').toStdString() << ": " << failed.err.toStdString();
        EXPECT_FALSE(failed.err.isEmpty()) << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(QImage(png).size(), QSize(640, 400)) << "a failed run leaves the old picture";
}

} // namespace
