// Collection runs of the command line against a virtual unit: the data file line by line, a
// run ended by SIGTERM and continued by a second run, the lock, failed reads, bad options.
#include "CliProcess.h"

#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_161()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 161"

const QString kPrefix = QStringLiteral(".1.3.6.1.4.1." VELTRANE_TEST_ENTERPRISE ".1.2.2.1.");

QJsonObject Unit()
{
    const QJsonObject temperature {{"status", 1}, {"description", "Room"}, {"value", 21}};
    const QJsonObject humidity {{"status", 1}, {"description", "Humidity"}, {"value", "4,0"}, {"type", 3}};
    return QJsonObject {{"numbering", 0},
                        {"ports", QJsonArray {QJsonObject {{"index", 0}, {"table16", temperature}},
                                              QJsonObject {{"index", 1}, {"table17", humidity}}}}};
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A run left going until the test signals it.
class CollectProcess {
public:
    explicit CollectProcess(const QStringList& args) { m_process.start(QStringLiteral(VELTRANE_CLI), args); }
    ~CollectProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    // Signals it and waits for its end; the exit status, or -1 when it did not end normally.
    int Stop(int signalNumber = SIGTERM)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
        if (!m_process.waitForFinished(10000) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }
    QProcess m_process;
};

class CliCollect : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.path() + QStringLiteral("/data");
        ASSERT_TRUE(QDir().mkdir(m_folder));
        m_oids = m_dir.path() + QStringLiteral("/oids.txt");
        Write(m_oids, ("# from scan --oids\n" + kPrefix + "16.1.3.0\n\n" + kPrefix + "17.1.3.1\n").toUtf8());
    }
    QStringList Collect(const QStringList& more) const
    {
        return QStringList {"collect", m_ip, "--period", "1", "--folder", m_folder} + more;
    }
    // Lines of the data file once it has at least n lines.
    bool WaitForLines(int n) const
    {
        return WaitUntil([&] { return ReadAll(DataFile()).count("\r\n") >= n; }, 15000);
    }
    QString DataFile() const { return m_folder + QStringLiteral("/data") + m_ip + QStringLiteral(".txt"); }

    QTemporaryDir m_dir;
    QString m_folder;
    QString m_oids;
    std::string m_address = CurrentTestAddress();
    QString m_ip = QString::fromStdString(m_address);
};

TEST_F(CliCollect, SigtermEndsTheRunAndAppendContinuesTheSameFile)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(), m_address)));
    static const QRegularExpression line(
        QStringLiteral("^\\d{4}/\\d\\d/\\d\\d,  \\d\\d:\\d\\d:\\d\\d,  21,  4,0\\r$"));

    QByteArray first;
    {
        CollectProcess run(Collect({"--oids", m_oids}));
        ASSERT_TRUE(WaitForLines(2));
        // The file is locked while the run writes it: a second run on it is refused.
        const CliResult second = RunCli(Collect({"--oids", m_oids, "--append"}));
        EXPECT_EQ(second.status, 3);
        EXPECT_TRUE(second.err.contains("sharing violation")) << second.err.toStdString();
        EXPECT_EQ(run.Stop(), 0) << run.m_process.readAllStandardError().toStdString();
        first = ReadAll(DataFile());
        // What was shown was written (a line written as the signal came may not be shown).
        const QByteArray shown = run.m_process.readAllStandardOutput();
        EXPECT_GE(shown.count('\n'), 2);
        EXPECT_TRUE(QByteArray(first).replace("\r\n", "\n").startsWith(shown)) << shown.toStdString();
    }
    const QList<QByteArray> lines = first.split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines.last().isEmpty()) << "the file ends with a whole line";
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(line.match(QString::fromLatin1(lines[i])).hasMatch()) << lines[i].toStdString();

    // Without --append or --overwrite the existing file is left alone.
    const CliResult refused = RunCli(Collect({"--oids", m_oids}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(DataFile().toUtf8() + " exists: add --append")) << refused.err.toStdString();
    EXPECT_EQ(ReadAll(DataFile()), first);

    {
        CollectProcess run(Collect({"--all-online", "--append", "--quiet"}));
        ASSERT_TRUE(WaitForLines(lines.size() - 1 + 2));
        EXPECT_EQ(run.Stop(SIGINT), 0);
        EXPECT_TRUE(run.m_process.readAllStandardOutput().isEmpty());
    }
    const QByteArray both = ReadAll(DataFile());
    EXPECT_TRUE(both.startsWith(first));
    QList<QByteArray> added = both.mid(first.size()).split('\n');
    added.removeAll(QByteArray());
    for (const QByteArray& text : added)
        EXPECT_TRUE(line.match(QString::fromLatin1(text)).hasMatch()) << text.toStdString();

    {
        CollectProcess run(Collect({"--oids", m_oids, "--overwrite"}));
        ASSERT_TRUE(WaitUntil([&] {
            const QByteArray now = ReadAll(DataFile());
            return now.size() < both.size() && now.endsWith("\r\n");
        }));
        EXPECT_EQ(run.Stop(), 0);
    }
    EXPECT_TRUE(line.match(QString::fromLatin1(ReadAll(DataFile()).split('\n').first())).hasMatch());
}

// A value that holds a line break and a record of its own: each run's line stays one line, in
// the file and on standard output, with the break read as a space.
TEST_F(CliCollect, AValueCannotForgeLinesInTheFileOrTheOutput)
{
    REQUIRE_PORT_161();
    const QJsonObject forged {{"status", 1}, {"description", "Room"}, {"value", "23\r\n2026/01/01,  00:00:00,  99"}};
    const QJsonObject humidity {{"status", 1}, {"description", "Humidity"}, {"value", "4,0"}, {"type", 3}};
    const QJsonObject unit {{"numbering", 0},
                            {"ports", QJsonArray {QJsonObject {{"index", 0}, {"table16", forged}},
                                                  QJsonObject {{"index", 1}, {"table17", humidity}}}}};
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.StartUnit(unit, m_address)));
    static const QRegularExpression line(QStringLiteral(
        "^\\d{4}/\\d\\d/\\d\\d,  \\d\\d:\\d\\d:\\d\\d,  23  2026/01/01,  00:00:00,  99,  4,0$"));

    CollectProcess run(Collect({"--oids", m_oids}));
    ASSERT_TRUE(WaitForLines(3));
    // A line is shown once it is in the file: wait for the third on standard output too.
    QByteArray out;
    ASSERT_TRUE(WaitUntil([&] {
        out += run.m_process.readAllStandardOutput();
        return out.count('\n') >= 3;
    }, 15000));
    EXPECT_EQ(run.Stop(), 0);
    out += run.m_process.readAllStandardOutput();
    const QByteArray file = ReadAll(DataFile());
    QList<QByteArray> lines = file.split('\n');
    EXPECT_TRUE(lines.takeLast().isEmpty()) << "the file ends with a whole line";
    ASSERT_GE(lines.size(), 3);
    for (const QByteArray& text : lines) {
        ASSERT_TRUE(text.endsWith('\r')) << text.toStdString();
        EXPECT_TRUE(line.match(QString::fromLatin1(text.chopped(1))).hasMatch()) << text.toStdString();
    }
    QList<QByteArray> shown = out.split('\n');
    EXPECT_TRUE(shown.takeLast().isEmpty());
    EXPECT_GE(shown.size(), 3);
    for (const QByteArray& text : shown)
        EXPECT_TRUE(line.match(QString::fromLatin1(text)).hasMatch()) << text.toStdString();
}

TEST_F(CliCollect, AFailedReadIsALineOnStandardErrorAndTheRunGoesOn)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(), m_address)));
    Write(m_oids, (kPrefix + "16.1.3.9\n").toUtf8()); // no such port

    CollectProcess run(Collect({"--oids", m_oids}));
    QByteArray err;
    EXPECT_TRUE(WaitUntil([&] {
        err += run.m_process.readAllStandardError();
        return err.count("veltrane-cli collect: Error No 2 : ") >= 2;
    }, 15000)) << err.toStdString();
    EXPECT_EQ(run.Stop(), 0);
    EXPECT_TRUE(run.m_process.readAllStandardOutput().isEmpty());
    EXPECT_EQ(ReadAll(DataFile()), QByteArray());
}

TEST_F(CliCollect, BadOptionsNameWhatWasWrong)
{
    const QString folder = m_folder;
    Write(m_dir.path() + "/bad.txt", "1.3.6.1\nsysDescr.0\n");
    Write(m_dir.path() + "/empty.txt", "# nothing\n\n");
    struct Case {
        QStringList args;
        int status;
        QString text;
    };
    const QStringList base {"collect", "127.0.0.1"};
    const Case cases[] = {
        {base + QStringList {"-f", folder, "-o", m_oids}, 1, "--period is required"},
        {base + QStringList {"--period", "0", "-f", folder, "-o", m_oids}, 1, "--period \"0\" is not a number of seconds from 1 to 2147483"},
        {base + QStringList {"--period", "ten", "-f", folder, "-o", m_oids}, 1, "--period \"ten\""},
        {base + QStringList {"--period", "2147484", "-f", folder, "-o", m_oids}, 1, "--period \"2147484\""},
        {base + QStringList {"--period", "1", "-o", m_oids}, 1, "--folder is required"},
        {base + QStringList {"--period", "1", "-f", folder}, 1, "give either --oids FILE or --all-online"},
        {base + QStringList {"--period", "1", "-f", folder, "-o", m_oids, "--all-online"}, 1, "give either"},
        {base + QStringList {"--period", "1", "-f", folder, "-o", m_oids, "-a", "--overwrite"}, 1, "exclude each other"},
        {base + QStringList {"--period", "1", "-f", folder, "-o", m_dir.path() + "/none.txt"}, 1,
         "cannot read the OID file \"" + m_dir.path() + "/none.txt\": No such file or directory"},
        {base + QStringList {"--period", "1", "-f", folder, "-o", m_dir.path()}, 1, "is not a regular file"},
        {base + QStringList {"--period", "1", "-f", folder, "-o", m_dir.path() + "/bad.txt"}, 1,
         m_dir.path() + "/bad.txt:2: not an OID: \"sysDescr.0\""},
        {base + QStringList {"--period", "1", "-f", folder, "-o", m_dir.path() + "/empty.txt"}, 1, "lists no OID"},
        {QStringList {"collect", "localhost", "--period", "1", "-f", folder, "-o", m_oids}, 1,
         "\"localhost\" is not a dotted IPv4 address"},
        // The folder is never created.
        {base + QStringList {"--period", "1", "-f", m_dir.path() + "/missing", "-o", m_oids}, 3,
         m_dir.path() + "/missing/data127.0.0.1.txt contains an incorrect path."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.err.contains(c.text.toUtf8())) << r.err.toStdString();
    }
}

} // namespace
