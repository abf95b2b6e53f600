// The datagram functions fed with raw bytes: byte orders, acceptance rules, ring arithmetic,
// sample widths and the bounds that hold whatever a unit sends.
#include "download/DatalogWire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes StatusReply(std::uint8_t result = 4, std::uint8_t port = 3)
{
    Bytes d(132, 0);
    d[0] = result;
    d[1] = port;
    d[2] = 5;                                        // sensor type
    const std::uint8_t times[] = {0x65, 0x4B, 0x1F, 0x00, 0xFF, 0xFF, 0xFF, 0xFE};
    std::memcpy(&d[3], times, 8);                    // unit time, newest record (BE, -2)
    d[11] = 0x01; d[12] = 0x02;                      // W = 258 (BE)
    d[13] = 0x00; d[14] = 0x64;                      // C = 100 (BE)
    d[15] = 2;                                       // width
    d[16] = 200;                                     // interval, unsigned
    d[17] = 0x03; d[18] = 0xE8;                      // R = 1000 (BE)
    d[19] = 0x34; d[20] = 0x12;                      // high 0x1234 (LE)
    d[21] = 0xF1; d[22] = 0xFF;                      // low -15 (LE)
    d[23] = 0x00; d[24] = 0x80;                      // average low -32768 (LE)
    d[25] = 0xFF; d[26] = 0x7F;                      // average high 32767 (LE)
    std::memset(&d[43], 'D', 36);                    // description fills its field, no zero
    std::memcpy(&d[79], "sys\0junk", 8);
    std::memcpy(&d[115], "degC", 4);
    d[131] = 35;
    return d;
}

TEST(DatalogWire, StatusReplyByteOrdersAndTexts)
{
    const Bytes d = StatusReply();
    status_block b;
    std::memcpy(b.password, "secret", 6);
    parse_status_reply(d.data(), d.size(), b);
    EXPECT_EQ(b.port, 3);
    EXPECT_EQ(b.sensor_type, 5);
    EXPECT_EQ(b.unit_time, 0x654B1F00);
    EXPECT_EQ(b.newest_time, -2);
    EXPECT_EQ(b.write_index, 258);
    EXPECT_EQ(b.record_count, 100);
    EXPECT_EQ(b.width, 2);
    EXPECT_EQ(b.interval, 200);
    EXPECT_EQ(b.capacity, 1000);
    EXPECT_EQ(b.instant_high, 0x1234);
    EXPECT_EQ(b.instant_low, -15);
    EXPECT_EQ(b.average_low, -32768);
    EXPECT_EQ(b.average_high, 32767);
    EXPECT_EQ(std::string(b.description), std::string(36, 'D'));
    EXPECT_EQ(std::string(b.system_name), "sys");
    EXPECT_EQ(std::string(b.unit_of_measure), "degC");
    EXPECT_EQ(b.zone_index, 35);
    EXPECT_EQ(std::string(b.password, 6), "secret") << "the password is not the reply's";
}

TEST(DatalogWire, StatusReplyJudgement)
{
    struct Case {
        const char* name;
        Bytes data;
        bool fromUnit;
        reply_action expected;
    };
    Bytes wrongPort = StatusReply(4, 2);
    const Case cases[] = {
        {"reply", StatusReply(), true, reply_action::accept},
        {"from another sender or port", StatusReply(), false, reply_action::ignore},
        {"another port index", wrongPort, true, reply_action::ignore},
        {"wrong password", StatusReply(0xFA), true, reply_action::unit_error},
        {"error byte 0x80", StatusReply(0x80), true, reply_action::unit_error},
        {"neither 4 nor an error", StatusReply(1), true, reply_action::ignore},
        {"124 bytes from the unit", Bytes(124, 0), true, reply_action::old_firmware},
        {"124 bytes from another sender or port", Bytes(124, 0), false, reply_action::ignore},
        {"131 bytes", Bytes(131, 4), true, reply_action::ignore},
        {"133 bytes", Bytes(133, 4), true, reply_action::ignore},
    };
    for (const Case& c : cases)
        EXPECT_EQ(judge_status_reply(c.data.data(), c.data.size(), 3, c.fromUnit), c.expected) << c.name;
}

Bytes DatalogReply(std::uint8_t result, std::uint8_t port, std::int16_t count, int width, int slots)
{
    Bytes d(23 + std::size_t(width) * slots, 0);
    d[0] = result;
    d[1] = port;
    d[5] = std::uint8_t(std::uint16_t(count) & 0xFF);
    d[6] = std::uint8_t(std::uint16_t(count) >> 8);
    for (std::size_t i = 23; i < d.size(); ++i)
        d[i] = std::uint8_t(i - 22);
    return d;
}

TEST(DatalogWire, DatalogReplyJudgement)
{
    struct Case {
        const char* name;
        Bytes data;
        int wanted;
        bool fromUnit;
        reply_action expected;
    };
    const Case cases[] = {
        {"reply", DatalogReply(1, 0, 10, 2, 10), 10, true, reply_action::accept},
        {"one slot short", DatalogReply(1, 0, 10, 2, 9), 10, true, reply_action::ignore},
        {"another port index", DatalogReply(1, 1, 10, 2, 10), 10, true, reply_action::ignore},
        {"another sender", DatalogReply(1, 0, 10, 2, 10), 10, false, reply_action::ignore},
        {"count 0 does not count", DatalogReply(1, 0, 0, 2, 10), 10, true, reply_action::ignore},
        {"negative count does not count", DatalogReply(1, 0, -1, 2, 10), 10, true, reply_action::ignore},
        {"error byte", DatalogReply(0xFD, 0, 0, 2, 10), 10, true, reply_action::unit_error},
        {"status reply code", DatalogReply(4, 0, 10, 2, 10), 10, true, reply_action::ignore},
    };
    for (const Case& c : cases)
        EXPECT_EQ(judge_datalog_reply(c.data.data(), c.data.size(), 0, 2, c.wanted, c.fromUnit), c.expected)
            << c.name;
}

TEST(DatalogWire, CopyNeverPastAskedOrBuffer)
{
    std::vector<std::uint8_t> buf(8 * 4, 0xEE);
    // Says 300 samples in a 10-slot reply of width 4: only the 5 asked for are copied.
    const Bytes big = DatalogReply(1, 0, 300, 4, 10);
    EXPECT_EQ(copy_datalog_samples(big.data(), big.size(), 4, 5, buf.data(), buf.size(), 0), 5);
    EXPECT_EQ(buf[19], 20);
    EXPECT_EQ(buf[20], 0xEE);
    // Fewer than asked: as many as it says. At the buffer's end: only what fits.
    const Bytes few = DatalogReply(1, 0, 2, 4, 10);
    EXPECT_EQ(copy_datalog_samples(few.data(), few.size(), 4, 10, buf.data(), buf.size(), 5), 2);
    EXPECT_EQ(copy_datalog_samples(big.data(), big.size(), 4, 10, buf.data(), buf.size(), 7), 1);
    EXPECT_EQ(copy_datalog_samples(big.data(), big.size(), 4, 10, buf.data(), buf.size(), 8), 0);
    EXPECT_EQ(copy_datalog_samples(big.data(), big.size(), 3, 10, buf.data(), buf.size(), 0), 0);
}

TEST(DatalogWire, RingArithmetic)
{
    EXPECT_EQ(chunk_samples(1), 1146);
    EXPECT_EQ(chunk_samples(2), 573);
    EXPECT_EQ(chunk_samples(4), 286);
}

// The oldest record's slot: W - C, wrapped, for any write index the status may carry.
TEST(DatalogWire, FirstRingIndexLiesInTheRing)
{
    struct Case {
        const char* name;
        int write, count, capacity, expected;
    };
    const Case cases[] = {
        {"W above C", 100, 600, 1000, 500},
        {"W below C wraps", 10, 50, 100, 60},
        {"W equal to C", 50, 50, 100, 0},
        {"W equal to R", 20, 5, 20, 15},
        {"W equal to R, full ring", 20, 20, 20, 0},
        {"W above R", 45, 5, 20, 0},
        {"W far above R", 32767, 3, 100, 64},
        {"W negative", -1, 5, 20, 14},
        {"W far below the ring", -32768, 1, 7, 5},
        {"ring of one", 1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        const int first = first_ring_index(c.write, c.count, c.capacity);
        EXPECT_EQ(first, c.expected) << c.name;
        EXPECT_TRUE(first >= 0 && first < c.capacity) << c.name;
    }
}

TEST(DatalogWire, MeaninglessStatusValues)
{
    struct Case {
        const char* name;
        int width, write, count, capacity;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"sound", 2, 100, 600, 1000, getdata_error::none},
        {"full ring", 4, 0, 1000, 1000, getdata_error::none},
        {"no records, anything else", 0, -5, 0, 0, getdata_error::none},
        {"width 0", 0, 1, 1, 10, getdata_error::bad_status},
        {"width 3", 3, 1, 1, 10, getdata_error::bad_status},
        {"capacity 0", 1, 0, 1, 0, getdata_error::bad_status},
        {"capacity negative", 1, 0, 1, -10, getdata_error::bad_status},
        {"count negative", 1, 0, -1, 10, getdata_error::bad_status},
        {"count above capacity", 1, 0, 11, 10, getdata_error::bad_status},
        {"write index negative: read modulo the capacity", 1, -1, 1, 10, getdata_error::none},
        {"write index at capacity: read modulo the capacity", 1, 10, 1, 10, getdata_error::none},
        {"write index far above the ring", 4, 32767, 10, 10, getdata_error::none},
    };
    for (const Case& c : cases) {
        status_block b;
        b.width = std::uint8_t(c.width);
        b.write_index = std::int16_t(c.write);
        b.record_count = std::int16_t(c.count);
        b.capacity = std::int16_t(c.capacity);
        EXPECT_EQ(check_status_values(b), c.expected) << c.name;
    }
}

TEST(DatalogWire, SampleWidthsAndSigns)
{
    const std::uint8_t bytes[] = {0xFF, 0x7F, 0x00, 0x80, 0xFE, 0xFF, 0xFF, 0xFF};
    struct Case {
        int width, index, expected;
    };
    const Case cases[] = {
        {1, 0, -1}, {1, 1, 127}, {1, 3, -128},
        {2, 0, 0x7FFF}, {2, 1, -32768}, {2, 2, -2},
        {4, 0, int(0x80007FFF)}, {4, 1, -2},
        {3, 0, -1},                         // unknown width reads bytes
        {2, 4, 0}, {4, 2, 0}, {1, -1, 0},  // outside the buffer
    };
    for (const Case& c : cases)
        EXPECT_EQ(sample_value(bytes, sizeof bytes, c.width, c.index), c.expected) << c.width << "/" << c.index;
}

TEST(DatalogWire, Requests)
{
    std::uint8_t req[32];
    std::memset(req, 0xAA, sizeof req);
    const char password[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    build_status_request(req, 7, 1, password);
    EXPECT_EQ(req[0], 2);
    EXPECT_EQ(req[1], 7);
    EXPECT_EQ(req[2], 1);
    EXPECT_EQ(req[3] | req[4] | req[5] | req[6] | req[23], 0);
    EXPECT_EQ(std::memcmp(req + 7, password, 16), 0);
    build_datalog_request(req, 7, 1, 500, 573);
    const std::uint8_t head[] = {3, 7, 1, 0xF4, 0x01, 0x3D, 0x02};
    EXPECT_EQ(std::memcmp(req, head, sizeof head), 0);
    EXPECT_EQ(std::memcmp(req + 7, password, 16), 0) << "the password stays";
}

} // namespace
