// The client against the virtual unit on the test's own address, port 811: whole downloads,
// chunking, the ring, error bytes, faults on the wire, cancelling.
#include "download/getdata.h"

#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <gtest/gtest.h>

#include <thread>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_811()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 811"

// A unit with only a datalog side; password "orchid".
QJsonObject Unit(const QJsonArray& channels, const QJsonObject& faults = {})
{
    QJsonObject datalog{{"password", "orchid"}, {"channels", channels}};
    if (!faults.isEmpty())
        datalog["faults"] = faults;
    return QJsonObject{{"datalog", datalog}};
}

QJsonObject Ramp(int count, int start = 0, int step = 1)
{
    return QJsonObject{{"count", count}, {"ramp", QJsonObject{{"start", start}, {"step", step}}}};
}

// The "start S count N" of each datalog request in the log.
QStringList DatalogRequests(const UnitSimProcess& sim)
{
    QStringList out;
    for (const QString& line : sim.LogLines())
        if (line.contains(" datalog datalog "))
            out << line.section(' ', 7);
    return out;
}

int StatusRequests(const UnitSimProcess& sim)
{
    int n = 0;
    for (const QString& line : sim.LogLines())
        n += line.contains(" datalog status ");
    return n;
}

class GetdataUnit : public testing::Test {
protected:
    std::string address = CurrentTestAddress();
    UnitSimProcess sim;
    getdata client{1000};
    QStringList messages;

    void SetUp() override
    {
        client.set_message_handler([this](const std::string& text) { messages << QString::fromStdString(text); });
    }
    int Fetch(int port, int channel, const std::string& password = "orchid")
    {
        return client.fetch(address, password, port, channel);
    }
};

TEST_F(GetdataUnit, ChunkedDownloadFollowsTheRing)
{
    REQUIRE_PORT_811();
    // Width 2, W = 100, C = 600, R = 1000: index 500 count 573, then 73 count 27.
    // Width 4, W = 10, C = 50, R = 100: the ring wraps, reading from 60; values negative.
    // Width 1: 1146 records in one request, 1147 in two.
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(QJsonArray{
        QJsonObject{{"port", 0}, {"channel", 0}, {"width", 2}, {"writeIndex", 100}, {"capacity", 1000},
                    {"records", Ramp(600, -300)}, {"sensorType", 2}, {"description", "Loop"},
                    {"unitOfMeasure", "mA"}, {"zone", 35}, {"unitTime", 1700000000}, {"newestTime", 1699999800},
                    {"interval", 5}, {"instantHigh", -7}},
        QJsonObject{{"port", 0}, {"channel", 1}, {"width", 4}, {"writeIndex", 10}, {"capacity", 100},
                    {"records", Ramp(50, -2000000000, 1000)}},
        QJsonObject{{"port", 1}, {"channel", 0}, {"width", 1}, {"capacity", 2000}, {"records", Ramp(1146, -100)}},
        QJsonObject{{"port", 1}, {"channel", 1}, {"width", 1}, {"capacity", 2000}, {"records", Ramp(1147, -100)}},
    }), address)));

    struct Case {
        int port, channel, count, first, step;
        QStringList requests;
    };
    const Case cases[] = {
        {0, 0, 600, -300, 1, {"start 500 count 573", "start 73 count 27"}},
        {0, 1, 50, -2000000000, 1000, {"start 60 count 50"}},
        {1, 0, 1146, -100, 1, {"start 0 count 1146"}},
        {1, 1, 1147, -100, 1, {"start 0 count 1146", "start 1146 count 1"}},
    };
    for (const Case& c : cases) {
        sim.ClearLog();
        ASSERT_EQ(Fetch(c.port, c.channel), 0) << c.port << "/" << c.channel << " " << client.last_error();
        EXPECT_EQ(DatalogRequests(sim), c.requests) << c.port << "/" << c.channel;
        EXPECT_EQ(StatusRequests(sim), 1);
        ASSERT_EQ(client.sample_count(), c.count);
        const int width = client.status().width;
        for (int i = 0; i < c.count; ++i) {
            // The unit stores each record in the sample's width, as two's complement.
            const std::int64_t v = std::int64_t(c.first) + std::int64_t(c.step) * i;
            const int expected = width == 1 ? int(std::int8_t(v)) : width == 2 ? int(std::int16_t(v)) : int(v);
            ASSERT_EQ(client.sample(i), expected) << c.port << "/" << c.channel << " sample " << i;
        }
    }
    // The status of the last port/channel 0,0 fetch was read field by field in host order.
    ASSERT_EQ(Fetch(0, 0), 0);
    const status_block& s = client.status();
    EXPECT_EQ(s.sensor_type, 2);
    EXPECT_EQ(s.unit_time, 1700000000);
    EXPECT_EQ(s.newest_time, 1699999800);
    EXPECT_EQ(s.interval, 5);
    EXPECT_EQ(s.instant_high, -7);
    EXPECT_EQ(s.zone_index, 35);
    EXPECT_STREQ(s.description, "Loop");
    EXPECT_STREQ(s.unit_of_measure, "mA");
    EXPECT_EQ(client.address_text(), address);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(GetdataUnit, AnswersThatEndAChannel)
{
    REQUIRE_PORT_811();
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(QJsonArray{
        QJsonObject{{"port", 0}, {"channel", 0}, {"error", -2}},
        QJsonObject{{"port", 0}, {"channel", 1}, {"error", -4}},
        QJsonObject{{"port", 1}, {"channel", 0}, {"oldFirmware", true}},
        QJsonObject{{"port", 1}, {"channel", 1}, {"count", 0}, {"capacity", 100}},
        QJsonObject{{"port", 2}, {"channel", 0}, {"width", 3}, {"count", 5}, {"capacity", 10}},
        QJsonObject{{"port", 2}, {"channel", 1}, {"width", 2}, {"count", 5}, {"capacity", 0}},
        QJsonObject{{"port", 3}, {"channel", 0}, {"width", 2}, {"count", 11}, {"capacity", 10}},
        QJsonObject{{"port", 3}, {"channel", 1}, {"width", 2}, {"count", -1}, {"capacity", 10}},
        QJsonObject{{"port", 4}, {"channel", 1}, {"width", 1}, {"records", Ramp(3)}},
    }), address)));
    struct Case {
        const char* name;
        int port, channel;
        std::string password;
        std::int32_t error;
    };
    const Case cases[] = {
        {"no datalog", 0, 0, "orchid", getdata_error::unit_no_datalog},
        {"error byte -4", 0, 1, "orchid", -4},
        {"unlisted port: offline", 7, 0, "orchid", getdata_error::unit_port_offline},
        {"wrong password", 4, 1, "orchiD", getdata_error::unit_wrong_password},
        {"old firmware", 1, 0, "orchid", getdata_error::old_firmware},
        {"no records", 1, 1, "orchid", getdata_error::no_records},
        {"width 3", 2, 0, "orchid", getdata_error::bad_status},
        {"capacity 0", 2, 1, "orchid", getdata_error::bad_status},
        {"count above capacity", 3, 0, "orchid", getdata_error::bad_status},
        {"count negative", 3, 1, "orchid", getdata_error::bad_status},
    };
    for (const Case& c : cases) {
        sim.ClearLog();
        messages.clear();
        EXPECT_EQ(Fetch(c.port, c.channel, c.password), -1) << c.name;
        EXPECT_EQ(client.last_error(), c.error) << c.name;
        // One request each: an answer ends the exchange at once, and no records are asked for.
        EXPECT_EQ(sim.LogLines().size(), 1) << c.name << ": " << sim.LogLines().join("; ").toStdString();
        const QStringList expected = c.error == getdata_error::no_records
            ? QStringList{QString("Sensor on port %1 has no data in datalogger\n").arg(c.port + 1)}
            : QStringList{};
        EXPECT_EQ(messages, expected) << c.name;
    }
}

// A write index at or beyond the ring's end (or below its start) still names where the next
// record goes, taken modulo the capacity: every record is read, oldest first, within the ring.
TEST_F(GetdataUnit, WriteIndexOutsideTheRingIsReadModuloTheCapacity)
{
    REQUIRE_PORT_811();
    struct Case {
        const char* name;
        int writeIndex, count, capacity;
        QStringList requests;
    };
    const Case cases[] = {
        {"W = R, 5 of 20", 20, 5, 20, {"start 15 count 5"}},
        {"W = R, full ring", 20, 20, 20, {"start 0 count 20"}},
        {"W = R + 3", 23, 5, 20, {"start 18 count 5"}},
        {"W far above R", 30000, 5, 20, {"start 15 count 5"}},
        {"W = -1", -1, 5, 20, {"start 14 count 5"}},
        {"W = R, chunked", 1200, 1147, 1200, {"start 53 count 1146", "start 1199 count 1"}},
    };
    QJsonArray channels;
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case& c = cases[i];
        channels.append(QJsonObject{{"port", i / 2}, {"channel", i % 2}, {"width", 1}, {"writeIndex", c.writeIndex},
                                    {"capacity", c.capacity}, {"records", Ramp(c.count, 1)}});
    }
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(channels), address)));
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case& c = cases[i];
        sim.ClearLog();
        ASSERT_EQ(Fetch(i / 2, i % 2), 0) << c.name << ": " << client.last_error();
        EXPECT_EQ(DatalogRequests(sim), c.requests) << c.name;
        ASSERT_EQ(client.sample_count(), c.count) << c.name;
        for (int k = 0; k < c.count; ++k)
            ASSERT_EQ(client.sample(k), int(std::int8_t(1 + k))) << c.name << " record " << k;
    }
}

TEST_F(GetdataUnit, PasswordIsCutAtSixteenBytes)
{
    REQUIRE_PORT_811();
    QJsonObject unit = Unit(QJsonArray{QJsonObject{{"port", 0}, {"width", 1}, {"records", Ramp(4)}}});
    QJsonObject datalog = unit["datalog"].toObject();
    datalog["password"] = "0123456789abcdefTAIL";
    unit["datalog"] = datalog;
    ASSERT_TRUE(Started(sim, sim.StartUnit(unit, address)));
    EXPECT_EQ(Fetch(0, 0, "0123456789abcdefOTHER"), 0) << client.last_error();
    EXPECT_EQ(Fetch(0, 0, "0123456789abcde"), -1);
    EXPECT_EQ(client.last_error(), getdata_error::unit_wrong_password);
}

TEST_F(GetdataUnit, StrayForeignAndDuplicateDatagramsAreIgnored)
{
    REQUIRE_PORT_811();
    // Before every answer: the same answer from another source port, one with another port
    // index, one a byte longer, garbage; then the answer twice. Every chunk still takes one
    // request. (The chunks differ in length: a duplicate of a chunk that arrives after the next
    // request went out is the one case a client cannot tell apart; see the README.)
    ASSERT_TRUE(Started(sim, sim.StartUnit(
        Unit(QJsonArray{QJsonObject{{"port", 5}, {"channel", 1}, {"width", 1}, {"capacity", 3000},
                                    {"records", Ramp(1746, 0, 7)}}},
             QJsonObject{{"before", QJsonArray{"otherPort", "otherPortIndex", "otherLength", "garbage"}},
                         {"duplicate", true}}),
        address)));
    ASSERT_EQ(Fetch(5, 1), 0) << client.last_error();
    EXPECT_EQ(DatalogRequests(sim), (QStringList{"start 0 count 1146", "start 1146 count 600"}));
    EXPECT_EQ(StatusRequests(sim), 1);
    for (int i = 0; i < 1746; ++i)
        ASSERT_EQ(client.sample(i), int(std::int8_t(i * 7))) << i;
}

TEST_F(GetdataUnit, RepliesFromAnotherSourcePortNeverCount)
{
    REQUIRE_PORT_811();
    client.set_receive_timeout(150);
    ASSERT_TRUE(Started(sim, sim.StartUnit(
        Unit(QJsonArray{QJsonObject{{"port", 0}, {"records", Ramp(4)}}}, QJsonObject{{"replyFromOtherPort", true}}),
        address)));
    EXPECT_EQ(Fetch(0, 0), -1);
    EXPECT_EQ(client.last_error(), getdata_error::no_reply);
    EXPECT_EQ(StatusRequests(sim), 5);
}

TEST_F(GetdataUnit, LostRequestsAreSentAgainFiveTimesAtMost)
{
    REQUIRE_PORT_811();
    client.set_receive_timeout(200);
    struct Case {
        int dropFirst;
        const char* on;
        int result, statusRequests, datalogRequests;
    };
    const Case cases[] = {
        {4, "status", 0, 5, 1},     // the fifth status request is answered
        {5, "status", -1, 5, 0},    // five lost: no reply
        {4, "datalog", 0, 1, 5},    // the same for a chunk
        {5, "datalog", -1, 1, 5},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(QJsonArray{QJsonObject{{"port", 0}, {"records", Ramp(4)}}},
                                                    QJsonObject{{"dropFirst", c.dropFirst}, {"on", c.on}}),
                                               address)));
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(Fetch(0, 0), c.result) << c.dropFirst << c.on;
        if (c.result != 0) {
            EXPECT_EQ(client.last_error(), getdata_error::no_reply);
            EXPECT_GE(timer.elapsed(), 5 * 200 - 50) << "five full waits";
        }
        EXPECT_EQ(StatusRequests(sim), c.statusRequests) << c.dropFirst << c.on;
        EXPECT_EQ(DatalogRequests(sim).size(), c.datalogRequests) << c.dropFirst << c.on;
        sim.Stop();
    }
}

TEST_F(GetdataUnit, LateAnswersWithinTheWaitNeedNoSecondRequest)
{
    REQUIRE_PORT_811();
    client.set_receive_timeout(1000);
    ASSERT_TRUE(Started(sim, sim.StartUnit(
        Unit(QJsonArray{QJsonObject{{"port", 2}, {"width", 4}, {"records", Ramp(300)}}}, QJsonObject{{"delayMs", 300}}),
        address)));
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(Fetch(2, 0), 0) << client.last_error();
    EXPECT_GE(timer.elapsed(), 3 * 300 - 30);
    EXPECT_EQ(StatusRequests(sim), 1);
    EXPECT_EQ(DatalogRequests(sim), (QStringList{"start 0 count 286", "start 286 count 14"}));
}

TEST_F(GetdataUnit, CancelEndsAWaitAtOnceAndSendsNothingMore)
{
    REQUIRE_PORT_811();
    client.set_receive_timeout(5000);
    ASSERT_TRUE(Started(sim, sim.StartUnit(
        Unit(QJsonArray{QJsonObject{{"port", 0}, {"records", Ramp(4)}}}, QJsonObject{{"silent", true}}), address)));
    QElapsedTimer timer;
    timer.start();
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client.cancel();
    });
    EXPECT_EQ(Fetch(0, 0), -1);
    canceller.join();
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_EQ(client.last_error(), getdata_error::wait_abandoned);
    EXPECT_TRUE(client.cancelled());
    EXPECT_EQ(Fetch(0, 0), -1) << "stays cancelled";
    EXPECT_EQ(StatusRequests(sim), 1);
    client.clear_cancel();
    client.set_receive_timeout(100);
    EXPECT_EQ(Fetch(0, 0), -1);
    EXPECT_EQ(client.last_error(), getdata_error::no_reply);
}

} // namespace
