// veltrane-cli plot run as users run it: a picture of the asked size and the chart's summary,
// and its exit statuses for files it cannot read or write and for bad options.
#include "common/FolderSyncSpy.h"
#include "common/TestSupport.h"

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
    testsupport::WriteFileWithMode(data, "2026/12/08,  05:00:00,  21,  45\r\n2026/12/08,  05:01:00,  22,  x\r\nbroken\r\n",
                                   0644);
    const QString png = dir.filePath(QStringLiteral("out.png"));

    const CliRun run = Cli({data, QStringLiteral("-o"), png, QStringLiteral("--size"), QStringLiteral("640x400"),
                            QStringLiteral("--zone"), QStringLiteral("UTC")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("Column 1: 2 values from 2026/12/08 05:00:00 to 2026/12/08 05:01:00; minimum 21, "
                                      "maximum 22, latest 22 (2026/12/08 05:01:00).\n"
                                      "Column 2: 1 value from 2026/12/08 05:00:00 to 2026/12/08 05:00:00; minimum 45, "
                                      "maximum 45, latest 45 (2026/12/08 05:00:00).\n"
                                      "3 lines read: 1 line not in a known format skipped; 1 value that is not a number "
                                      "left out.\n"
                                      "No data127.0.0.2.columns beside the file names the columns; 4 values without a "
                                      "column name (\"Column n\").\n"
                                      "Lines whose column sidecar names no time zone are taken as local time of UTC "
                                      "(--zone names another).\n"));
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

// Paths spelled like Qt's own options are paths: the renderer gives Qt its name only, so
// nothing among the arguments is taken as -reverse, -style=, -stylesheet or -platform.
TEST(CliPlot, PathsSpelledLikeQtOptionsArePaths)
{
    QTemporaryDir dir;
    const QByteArray line = "2026/12/08,  05:00:00,  21\r\n";
    const struct {
        const char* input;
        const char* output;
    } cases[] = {
        {"-reverse", "out.png"},
        {"data.txt", "-reverse"},
        {"data.txt", "-style=fusion.png"},
        {"-stylesheet", "out.png"},
        {"data.txt", "-stylesheet"},
        {"-platform", "out.png"},
        {"data.txt", "-platform"},
        {"-widgetcount", "-qmljsdebugger=port:1"},
        {"-session", "-name"},
    };
    for (const auto& c : cases) {
        const QString input = dir.filePath(QString::fromLatin1(c.input));
        const QString output = dir.filePath(QString::fromLatin1(c.output));
        QFile::remove(output);
        testsupport::WriteFileWithMode(input, line, 0644);
        // Relative paths, as a user types them in the folder.
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(VELTRANE_CLI),
                      {QStringLiteral("plot"), QStringLiteral("--output=") + QString::fromLatin1(c.output),
                       QStringLiteral("--"), QString::fromLatin1(c.input)});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << c.input << " -> " << c.output << ": "
                                         << process.readAllStandardError().toStdString();
        EXPECT_FALSE(QImage(output, "PNG").isNull()) << c.input << " -> " << c.output;
        QFile::remove(input);
    }
}

// The picture is made as any program's new file: mode 0666 under the umask, whatever the umask,
// and its name is kept through a power cut: the folder is synced after the rename.
TEST(CliPlot, ThePictureTakesTheUmaskAndItsFolderIsSynced)
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data.txt"));
    testsupport::WriteFileWithMode(data, "2026/12/08,  05:00:00,  21\r\n", 0644);
    const QString png = dir.filePath(QStringLiteral("out.png"));
    const struct {
        const char* umask;
        mode_t mode;
    } cases[] = {{"022", 0644}, {"077", 0600}, {"002", 0664}, {"027", 0640}};
    for (const auto& c : cases) { // the first makes the picture, the others replace it
        testsupport::FolderSyncSpy spy;
        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        for (const std::string& variable : spy.PreloadEnvironment()) {
            const QString v = QString::fromStdString(variable);
            environment.insert(v.section(QLatin1Char('='), 0, 0), v.section(QLatin1Char('='), 1));
        }
        shell.setProcessEnvironment(environment);
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("umask $1; exec \"$0\" plot \"$2\" -o \"$3\""),
                                               QStringLiteral(VELTRANE_CLI), QString::fromLatin1(c.umask), data, png});
        ASSERT_TRUE(shell.waitForFinished(60000));
        ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(png).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode) << "umask " << c.umask;
        EXPECT_TRUE(spy.SyncedHolding(dir.path().toStdString(), {"data.txt", "out.png"}))
            << "umask " << c.umask << ": " << spy.SyncsOf(dir.path().toStdString()).size() << " syncs of the folder";
    }
}

} // namespace
