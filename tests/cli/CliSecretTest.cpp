// Communities and passwords kept off the command line: the rules for a secret file, where a
// subcommand takes its secret from, and runs against a virtual unit with the secret from a file
// and from systemd's credentials, seen in no process's command line and no output.
#include "CliProcess.h"

#include "cli/SecretOption.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>

using namespace testsupport;

namespace {

#define REQUIRE_PRIVILEGED_PORTS()                                                                                    \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve ports 161 and 811"

const QString kPrefix = QStringLiteral(".1.3.6.1.4.1." VELTRANE_TEST_ENTERPRISE ".1.2.2.1.");

// A secret no other text on this machine holds by chance.
QByteArray NewSecret(const char* kind)
{
    return QByteArray(kind) + '-' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SecretFile, FirstLineOfAPrivateRegularFileIsTheSecret)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("secret");
    const std::string fifo = dir.filePath("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const QByteArray longest(255, 'x');

    struct Case {
        QByteArray content;
        mode_t mode;
        const char* secret; // or nullptr when refused
        const char* error;  // in the error when refused
    };
    const Case cases[] = {
        {"orchid\n", 0600, "orchid", nullptr},
        {"orchid", 0400, "orchid", nullptr},
        {"orchid\r\nsecond line\n", 0600, "orchid", nullptr},
        {"caf\xe9 \t!\n", 0600, "caf\xe9 \t!", nullptr},
        {"orchid\n", 0640, "orchid", nullptr},
        {"orchid\n", 0440, "orchid", nullptr},
        {longest + "\n", 0600, longest.constData(), nullptr},
        {"orchid\n", 0644, nullptr, "readable or writable by other users (mode 0644)"},
        {"orchid\n", 0604, nullptr, "(mode 0604)"},
        {"orchid\n", 0602, nullptr, "(mode 0602)"},
        {"orchid\n", 0620, nullptr, "(mode 0620)"},
        {"", 0600, nullptr, "the first line is empty"},
        {"\norchid\n", 0600, nullptr, "the first line is empty"},
        {"\r\n", 0600, nullptr, "the first line is empty"},
        {longest + "y\n", 0600, nullptr, "the first line is longer than 255 bytes"},
        {QByteArray("orc\0hid\n", 8), 0600, nullptr, "the first line holds a zero byte"},
        {"orchid\n" + QByteArray(4096, '#'), 0600, nullptr, "larger than 4096 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.left(40).toStdString() + " mode " + std::to_string(c.mode));
        WriteFileWithMode(path, c.content, c.mode);
        std::string secret;
        QString error;
        const bool read = cli::SecretOption::ReadFile(path.toStdString(), secret, error);
        EXPECT_EQ(read, c.secret != nullptr) << error.toStdString();
        if (c.secret) {
            EXPECT_EQ(secret, std::string(c.secret));
        } else {
            EXPECT_TRUE(error.startsWith(path + ": ")) << error.toStdString();
            EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
            EXPECT_FALSE(error.contains("orchid")) << "the secret is never shown";
        }
    }

    // What is no regular file is refused without waiting for a writer; a path holding a zero
    // byte names another file.
    const struct {
        std::string path;
        const char* error;
    } others[] = {
        {fifo, "not a regular file"},
        {dir.path().toStdString(), "not a regular file"},
        {"/dev/null", "not a regular file"},
        {dir.filePath("missing").toStdString(), "No such file or directory"},
        {path.toStdString() + std::string("\0.old", 5), "the name holds a zero byte"},
        {"", "no file named"},
    };
    for (const auto& other : others) {
        std::string secret;
        QString error;
        EXPECT_FALSE(cli::SecretOption::ReadFile(other.path, secret, error)) << other.path;
        EXPECT_TRUE(error.contains(other.error)) << error.toStdString();
    }
}

QProcessEnvironment Credentials(const QString& folder)
{
    QProcessEnvironment env;
    env.insert("CREDENTIALS_DIRECTORY", folder);
    return env;
}

TEST(SecretOptions, WhereTheSecretComesFromAndWhatIsRefused)
{
    QTemporaryDir dir;
    const QString open = dir.filePath("open"), empty = dir.filePath("empty"), bad = dir.filePath("bad");
    WriteFileWithMode(open, "lilac\n", 0644);
    ASSERT_TRUE(QDir().mkdir(empty) && QDir().mkdir(bad));
    WriteFileWithMode(bad + "/community", "lilac\n", 0644);
    WriteFileWithMode(bad + "/password", "lilac\n", 0604);
    const QString ip = QString::fromStdString(CurrentTestAddress());

    struct Case {
        QStringList args;
        QString credentials; // $CREDENTIALS_DIRECTORY, if any
        int status;
        QString text; // in standard error
    };
    const Case cases[] = {
        {{"scan", ip, "-c", "x", "--community-file", open}, {}, 1, "give either --community or --community-file, not both"},
        {{"scan", ip, "-c", ""}, {}, 1, "--community must not be empty"},
        {{"scan", ip, "--community-file", open}, {}, 3,
         "--community-file " + open + ": readable or writable by other users (mode 0644)"},
        {{"scan", ip, "--community-file", dir.filePath("missing")}, {}, 3, "No such file or directory"},
        {{"collect", ip, "--community-file", open, "--period", "1", "-f", dir.path(), "--all-online"}, {}, 3, "(mode 0644)"},
        {{"scan", ip}, bad, 3, "credential \"community\" " + bad + "/community: readable or writable by other users"},
        {{"download", ip, "-p", "x", "--password-file", open, "-f", "/"}, {}, 1,
         "give either --password or --password-file, not both"},
        {{"download", ip, "-f", "/"}, {}, 1,
         "--password is required, or --password-file FILE, or a systemd credential \"password\""},
        {{"download", ip, "-f", "/"}, empty, 1, "--password is required"},
        {{"download", ip, "-f", "/"}, bad, 3, "credential \"password\" " + bad + "/password: readable or writable"},
        {{"download", ip, "--password-file", open, "-f", "/"}, {}, 3, "--password-file " + open + ": readable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " credentials " + c.credentials.toStdString());
        const CliResult r = RunCli(c.args, 60000, c.credentials.isEmpty() ? QProcessEnvironment() : Credentials(c.credentials));
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.err.contains(c.text.toUtf8())) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("lilac") || r.out.contains("lilac"));
    }
}

// Every process whose command line holds secret, as "PID: command line".
QStringList CommandLinesHolding(const QByteArray& secret)
{
    QStringList found;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid.toInt() <= 0)
            continue;
        const QByteArray line = ReadAll("/proc/" + pid + "/cmdline");
        if (line.contains(secret))
            found << pid + ": " + QString::fromUtf8(line).replace(QChar(0), QChar(' '));
    }
    return found;
}

struct WatchedRun {
    CliResult result;
    int nLooks = 0;          // times the program's own command line was read while it ran
    QStringList holding;     // processes whose command line held the secret
    bool bEnvironment = false; // the program's environment held it
};

// Runs veltrane-cli and, while it runs, looks through every process's command line and the
// program's environment for secret. Once stopWhen is true the program gets SIGTERM.
WatchedRun RunWatched(const QStringList& args, const QProcessEnvironment& more, const QByteArray& secret,
                      std::function<bool()> stopWhen = {})
{
    QProcess process;
    StartCli(process, args, more);
    WatchedRun run;
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "veltrane-cli did not start";
        return run;
    }
    const QString own = "/proc/" + QString::number(process.processId());
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < 60000) {
        const QStringList holding = CommandLinesHolding(secret);
        for (const QString& line : holding)
            if (!run.holding.contains(line))
                run.holding << line;
        if (!ReadAll(own + "/cmdline").isEmpty())
            ++run.nLooks;
        if (ReadAll(own + "/environ").contains(secret))
            run.bEnvironment = true;
        if (stopWhen && stopWhen()) {
            ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
            stopWhen = {};
        }
        process.waitForFinished(20);
    }
    run.result = Finished(process);
    return run;
}

// The run was watched while it ran, and no command line, environment or output held secret.
void ExpectShownNowhere(const WatchedRun& run, const QByteArray& secret)
{
    EXPECT_GT(run.nLooks, 0) << "the run was never seen running";
    EXPECT_TRUE(run.holding.isEmpty()) << run.holding.join('\n').toStdString();
    EXPECT_FALSE(run.bEnvironment);
    EXPECT_FALSE(run.result.out.contains(secret) || run.result.err.contains(secret));
}

QJsonObject Channel(int port, int channel, int count)
{
    return QJsonObject {{"port", port}, {"channel", channel}, {"sensorType", 1}, {"description", "Probe"},
                        {"systemName", "Lab"}, {"unitOfMeasure", "C"}, {"zone", 35}, {"interval", 10},
                        {"width", 2}, {"capacity", 100}, {"writeIndex", 7}, {"unitTime", 1700000000},
                        {"records", QJsonObject {{"count", count}, {"wave", QJsonObject {{"base", 200}, {"amplitude", 30}, {"period", 20}}}}},
                        {"instantHigh", 230}, {"instantLow", 170}, {"averageHigh", 220}, {"averageLow", 180}};
}

TEST(SecretOptions, CollectAndDownloadTakeTheSecretFromAFileOrACredentialAndShowItNowhere)
{
    REQUIRE_PRIVILEGED_PORTS();
    const QByteArray community = NewSecret("community");
    const QByteArray password = NewSecret("pw").left(15); // the datalog password field holds 16 bytes
    const QJsonObject temperature {{"status", 1}, {"description", "Room"}, {"value", 21}};
    // Replies a little late, so that the download runs long enough to be looked at.
    const QJsonObject datalog {{"password", QString::fromLatin1(password)},
                               {"channels", QJsonArray {Channel(0, 0, 40)}},
                               {"faults", QJsonObject {{"on", "both"}, {"delayMs", 60}}}};
    const QJsonObject unit {{"community", QString::fromLatin1(community)},
                            {"numbering", 0},
                            {"ports", QJsonArray {QJsonObject {{"index", 0}, {"table16", temperature}}}},
                            {"datalog", datalog}};
    UnitSimProcess sim;
    const std::string address = CurrentTestAddress();
    ASSERT_TRUE(Started(sim, sim.StartUnit(unit, address)));
    const QString ip = QString::fromStdString(address);

    QTemporaryDir dir;
    const QString files = dir.filePath("files"), credentials = dir.filePath("credentials");
    ASSERT_TRUE(QDir().mkdir(files) && QDir().mkdir(credentials));
    WriteFileWithMode(files + "/community", community + "\n", 0600);
    WriteFileWithMode(files + "/password", password + "\n", 0640);
    // As systemd's LoadCredential= leaves them: read-only, the service's own.
    WriteFileWithMode(credentials + "/community", community, 0400);
    WriteFileWithMode(credentials + "/password", password, 0400);
    const QString oids = dir.filePath("oids");
    WriteFileWithMode(oids, (kPrefix + "16.1.3.0\n").toUtf8(), 0644);

    struct Case {
        const char* name;
        QStringList secretArgs;
        bool fromCredentials;
    };
    const Case collects[] = {
        {"collect, --community-file", {"--community-file", files + "/community"}, false},
        {"collect, credential", {}, true},
    };
    for (const Case& c : collects) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QString("data-%1").arg(c.fromCredentials));
        ASSERT_TRUE(QDir().mkdir(folder));
        const QString dataFile = folder + "/data" + ip + ".txt";
        const WatchedRun run = RunWatched(
            QStringList {"collect", ip, "--period", "1", "--folder", folder, "--oids", oids} + c.secretArgs,
            c.fromCredentials ? Credentials(credentials) : QProcessEnvironment(), community,
            [&] { return ReadAll(dataFile).count("\r\n") >= 2; });
        EXPECT_EQ(run.result.status, 0) << run.result.err.toStdString();
        // The unit answers only its community: two lines read are two reads with it.
        EXPECT_GE(ReadAll(dataFile).count(",  21\r\n"), 2) << ReadAll(dataFile).toStdString();
        ExpectShownNowhere(run, community);
        EXPECT_FALSE(ReadAll(dataFile).contains(community));
    }

    const Case downloads[] = {
        {"download, --password-file", {"--password-file", files + "/password"}, false},
        {"download, credential", {}, true},
    };
    for (const Case& c : downloads) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QString("reports-%1").arg(c.fromCredentials));
        ASSERT_TRUE(QDir().mkdir(folder));
        const WatchedRun run =
            RunWatched(QStringList {"download", ip, "--folder", folder} + c.secretArgs,
                       c.fromCredentials ? Credentials(credentials) : QProcessEnvironment(), password);
        EXPECT_EQ(run.result.status, 0) << run.result.err.toStdString();
        const QStringList reports = QDir(folder).entryList(QDir::Files);
        ASSERT_EQ(reports.size(), 1) << "the unit gives its datalog to its password only";
        ExpectShownNowhere(run, password);
        EXPECT_FALSE(ReadAll(folder + "/" + reports.value(0)).contains(password));
    }
}

} // namespace
