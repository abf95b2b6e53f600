// The download driver against the virtual unit: the pairs it asks, what it tells the user, the
// reports it writes, how it stops, and how it ends when cancelled or without a socket.
#include "RecordingView.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include "download/CDatalogReport.h"
#include "download/CDownloadDriver.h"
#include "download/getdata.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using testsupport::UnitSimProcess;

namespace {

using Calls = std::vector<std::string>;

QJsonObject Records(int port, int channel, int type, const QJsonArray& values)
{
    return {{"port", port}, {"channel", channel}, {"sensorType", type}, {"width", 2}, {"interval", 10},
            {"unitTime", 1250764507}, {"newestTime", 1250764200}, {"records", values},
            {"description", "Room"}, {"systemName", "Lab"}, {"unitOfMeasure", "C"}, {"zone", 35}};
}

QJsonObject Error(int port, int channel, int error)
{
    return {{"port", port}, {"channel", channel}, {"error", error}};
}

class DownloadDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::CanBindPrivilegedPorts())
            GTEST_SKIP() << "the virtual unit needs root for port 811";
        m_address = testsupport::CurrentTestAddress();
        m_settings.ipAddress = m_address;
        m_settings.password = "public";
        m_settings.folder = m_dir.path().toStdString();
    }

    bool StartUnit(const QJsonArray& channels, const QJsonObject& faults = {})
    {
        QJsonObject datalog {{"channels", channels}};
        if (!faults.isEmpty())
            datalog["faults"] = faults;
        return testsupport::Started(m_sim, m_sim.StartUnit(QJsonObject {{"datalog", datalog}}, m_address));
    }

    // The (port, channel) of every request the unit received, "s" for status, "d" for records.
    std::vector<std::string> Requests() const
    {
        static const QRegularExpression request(QStringLiteral("datalog (status|datalog) port (\\d) channel (\\d)"));
        std::vector<std::string> out;
        for (const QString& line : m_sim.LogLines()) {
            const auto m = request.match(line);
            if (m.hasMatch())
                out.push_back((m.captured(1) == "status" ? "s" : "d") + m.captured(2).toStdString() + m.captured(3).toStdString());
        }
        return out;
    }

    std::string File(const std::string& suffix) const { return m_settings.folder + "/" + m_address + suffix; }
    std::string Saving(const std::string& suffix) const { return "link: Saving data to \"" + File(suffix) + "\" ...\n"; }
    int ReportsIn(const std::string& suffix) const
    {
        QFile file(QString::fromStdString(File(suffix)));
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("Data download from system.\n")) : 0;
    }

    QTemporaryDir m_dir;
    UnitSimProcess m_sim;
    std::string m_address;
    getdata m_client {100};
    CDatalogReport m_report;
    RecordingView m_view;
    CDownloadDriver m_driver {m_client, m_report, m_view};
    DownloadSettings m_settings;
};

} // namespace

// One run over every kind of answer: pairs in order, an offline port's second channel never
// asked, reports for the channels with records, and two channels of one type in one file.
TEST_F(DownloadDriverTest, EveryAnswerOfOneUnitInOneRun)
{
    ASSERT_TRUE(StartUnit({Error(0, 0, -2), Records(0, 1, 1, {21, -3, 22}),
                           QJsonObject {{"port", 1}, {"channel", 0}, {"count", 0}, {"capacity", 500}}, Error(1, 1, -4),
                           Error(2, 0, -3), Error(3, 0, -7), Error(3, 1, -5), Records(4, 0, 2, {235, -15, 0}),
                           Records(4, 1, 2, {1, 2})}));
    m_settings.overwrite = true;
    for (int run = 0; run < 2; ++run) {
        m_view.Reset();
        m_sim.ClearLog();
        const DownloadResult result = m_driver.Run(m_settings);
        EXPECT_EQ(m_view.Calls(), (Calls {
                                      "clear",
                                      "text: Downloading Data...",
                                      "line: Sensor on port 1 has no datalog.\n",
                                      Saving("_p1_temperature.txt"),
                                      "box: Sensor on port 2 has no data in datalogger\n",
                                      "line: Port 3 offline.\n",
                                      "line: Read system status, return unknown error (-7).\n",
                                      Saving("_p5_4-20ma.txt"),
                                      Saving("_p5_4-20ma.txt"),
                                      "line: Port 6 offline.\n",
                                      "line: Port 7 offline.\n",
                                      "line: Port 8 offline.\n",
                                      "text: Ready...",
                                      "enable",
                                  }));
        EXPECT_EQ(Requests(), (std::vector<std::string> {"s00", "s01", "d01", "s10", "s11", "s20", "s30", "s31", "s40",
                                                         "d40", "s41", "d41", "s50", "s60", "s70"}));
        EXPECT_EQ(result.reportsWritten, 3);
        EXPECT_EQ(result.pairsAsked, 12);
        // Error bytes -4, -7 and -5 are no answer for their channel; the others are.
        EXPECT_EQ(result.pairsFailed, (std::vector<std::pair<int, int>> {{1, 1}, {3, 0}, {3, 1}}));
        EXPECT_FALSE(result.stopped || result.cancelled || result.halted);
        EXPECT_FALSE(m_view.ProgressShown());
        EXPECT_EQ(m_view.ProgressCalls(), 12 + 3) << "each pair asked, each chunk of records";
        // Overwriting keeps only this run's reports, but both channels of port 5.
        EXPECT_EQ(ReportsIn("_p1_temperature.txt"), 1);
        EXPECT_EQ(ReportsIn("_p5_4-20ma.txt"), 2);
    }
    QFile file(QString::fromStdString(File("_p5_4-20ma.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("20/08/2009 10:10:00, 23.5\n20/08/2009 10:20:00, -1.5\n20/08/2009 10:30:00, 0.0\n\n"));

    // Without overwriting a run adds its reports behind the earlier ones.
    m_settings.overwrite = false;
    m_driver.Run(m_settings);
    EXPECT_EQ(ReportsIn("_p1_temperature.txt"), 2);
    EXPECT_EQ(ReportsIn("_p5_4-20ma.txt"), 4);
}

// Answers that end the run at the first pair: nothing else is asked.
TEST_F(DownloadDriverTest, AnswersThatStopTheRun)
{
    struct Case {
        const char* name;
        QJsonArray channels;
        QJsonObject faults;
        const char* password;
        std::string call;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {"silent", {Records(0, 0, 1, {1})}, {{"silent", true}}, "public", "box: No system reply !",
         {"s00", "s00", "s00", "s00", "s00"}},
        {"wrong password", {Records(0, 0, 1, {1})}, {}, "wrong", "box: Wrong password !", {"s00"}},
        {"old firmware", {QJsonObject {{"port", 0}, {"channel", 0}, {"oldFirmware", true}}}, {}, "public",
         "line: Please update firmware on system\n", {"s00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_sim.Stop();
        ASSERT_TRUE(StartUnit(c.channels, c.faults));
        m_view.Reset();
        m_settings.password = c.password;
        const DownloadResult result = m_driver.Run(m_settings);
        EXPECT_EQ(m_view.Calls(), (Calls {"clear", "text: Downloading Data...", c.call, "text: Ready...", "enable"}));
        EXPECT_EQ(Requests(), c.requests);
        EXPECT_TRUE(result.stopped);
        EXPECT_EQ(result.pairsAsked, 1);
        EXPECT_TRUE(result.pairsFailed.empty());
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList {});
}

// During a collection run the status list stays and the status text comes back.
TEST_F(DownloadDriverTest, DuringACollectionTheListStaysAndTheTextReturns)
{
    ASSERT_TRUE(StartUnit({Records(0, 0, 1, {1})}, {}));
    m_view.SetInitialStatusText("Saving data in file name : data.txt.");
    m_settings.collecting = true;
    m_driver.Run(m_settings);
    const Calls calls = m_view.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), "text: Downloading Data...");
    EXPECT_EQ(calls[calls.size() - 2], "text: Saving data in file name : data.txt.");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "clear"), 0);
}

// Cancelling (the window closing) ends a wait at once; nothing more is sent or written.
TEST_F(DownloadDriverTest, CancelEndsTheWaitAndSendsNothingMore)
{
    ASSERT_TRUE(StartUnit({Records(0, 0, 1, {1})}, {{"silent", true}}));
    m_client.set_receive_timeout(5000);
    ASSERT_TRUE(m_driver.Start(m_settings));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !Requests().empty(); }, 5000));
    QElapsedTimer timer;
    timer.start();
    m_driver.Cancel();
    m_driver.Wait();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(m_driver.IsRunning());
    EXPECT_FALSE(testsupport::WaitUntil([&] { return Requests().size() > 1; }, 1000));
    const Calls calls = m_view.Calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("box:", 0) == 0; }), 0);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
}

// Without a socket the program ends: the message, then the halt, and nothing after.
TEST(DownloadDriverHalt, NoSocketHaltsTheProgram)
{
    getdata client(100);
    CDatalogReport report;
    RecordingView view;
    CDownloadDriver driver(client, report, view);
    DownloadSettings settings {testsupport::CurrentTestAddress(), "public", "/nonexistent", false, false};
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers probe memory through a pipe; with no descriptor left they report our own
    // objects as broken. The plain tree runs this test.
    GTEST_SKIP() << "needs every descriptor used up, which the sanitizers cannot work under";
#endif

    // Use up every descriptor below a lowered limit, so the socket cannot be made.
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    std::vector<int> filler;
    rlimit low = old;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);
    const DownloadResult result = driver.Run(settings);
    for (int fd : filler)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &old);

    EXPECT_TRUE(result.halted);
    EXPECT_EQ(view.Calls(), (Calls {"clear", "text: Downloading Data...",
                                    "box: Open socket on client error (10024)\nProgram halted !\n", "halt: 255"}));
}

// The reaction to each failure code: by its low byte as a signed value; wider codes (socket
// errors) are unknown, whatever their low byte.
TEST(DownloadDriverReact, FailureCodes)
{
    getdata client(100);
    CDatalogReport report;
    RecordingView view;
    CDownloadDriver driver(client, report, view);
    using Next = CDownloadDriver::Next;
    struct Case {
        std::int32_t code;
        Next next;
        std::string call; // empty: nothing shown
    } const cases[] = {
        {103, Next::Stop, "box: No system reply !"},
        {105, Next::Stop, "line: Please update firmware on system\n"},
        {106, Next::Channel, ""},
        {-2, Next::Channel, "line: Sensor on port 3 has no datalog.\n"},
        {-3, Next::Port, "line: Port 3 offline.\n"},
        {-4, Next::Channel, ""},
        {-5, Next::Channel, ""},
        {-6, Next::Stop, "box: Wrong password !"},
        {254, Next::Channel, "line: Sensor on port 3 has no datalog.\n"}, // 0xFE is -2
        {-7, Next::Channel, "line: Read system status, return unknown error (-7).\n"},
        {100, Next::Channel, "line: Read system status, return unknown error (100).\n"},
        {102, Next::Channel, "line: Read system status, return unknown error (102).\n"},
        {107, Next::Channel, "line: Read system status, return unknown error (107).\n"},
        {10090, Next::Channel, "line: Read system status, return unknown error (10090).\n"}, // low byte 106
        {10089, Next::Channel, "line: Read system status, return unknown error (10089).\n"}, // low byte 105
        {10111, Next::Channel, "line: Read system status, return unknown error (10111).\n"},
    };
    for (const Case& c : cases) {
        view.Reset();
        EXPECT_EQ(driver.React(c.code, 2), c.next) << c.code;
        EXPECT_EQ(view.Calls(), c.call.empty() ? Calls {} : Calls {c.call}) << c.code;
    }
}

// The controls come back only once the driver no longer counts as running: a click on them
// (Start) is then always a new download, never refused with the controls left off.
TEST(DownloadDriverEnd, NotRunningOnceTheControlsComeBack)
{
    class EndView : public RecordingView {
    public:
        void Finished(const DownloadResult& result) override
        {
            m_bRunningAtEnable = m_pDriver->IsRunning();
            RecordingView::Finished(result);
        }
        CDownloadDriver* m_pDriver = nullptr;
        std::atomic<bool> m_bRunningAtEnable {true};
    };
    getdata client(100);
    CDatalogReport report;
    EndView view;
    CDownloadDriver driver(client, report, view);
    view.m_pDriver = &driver;
    DownloadSettings settings {testsupport::CurrentTestAddress(), "public", "/nonexistent", false, false};
    for (int run = 0; run < 3; ++run) {
        view.Reset();
        view.m_bRunningAtEnable = true;
        ASSERT_TRUE(driver.Start(settings)) << "run " << run;
        driver.Cancel(); // ends it before anything is sent
        driver.Wait();
        const Calls calls = view.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), "enable");
        EXPECT_FALSE(view.m_bRunningAtEnable) << "run " << run;
    }
}

// Which failed pairs count as answered by the unit: its own "no datalog", "offline" and "no
// records"; every other code leaves the channel without an answer.
TEST(DownloadDriverReact, AnswersOfTheUnit)
{
    struct Case {
        std::int32_t code;
        bool answer;
    } const cases[] = {
        {getdata_error::no_records, true}, {getdata_error::unit_no_datalog, true}, {getdata_error::unit_port_offline, true},
        {254, true},  // 0xFE is -2
        {253, true},  // 0xFD is -3
        {-4, false}, {-5, false}, {-7, false}, {-128, false}, {100, false}, {102, false}, {107, false},
        {10090, false}, // a socket error whose low byte is 106
        {10099, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CDownloadDriver::IsAnswer(c.code), c.answer) << c.code;
}
