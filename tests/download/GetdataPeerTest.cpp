// The client against a raw UDP peer on the test's own address, port 811, for what the virtual
// unit never sends: foreign senders, odd result bytes, empty or oversized sample counts, stale
// datagrams, short and failed sends.
#include "download/getdata.h"

#include "FakeAgent.h"
#include "common/TestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <thread>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_811()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 811"

using Bytes = ber::Bytes;

Bytes Status(std::uint8_t result, std::uint8_t port, int count = 2, int width = 1)
{
    Bytes d(132, 0);
    d[0] = result;
    d[1] = port;
    d[2] = 1;
    d[14] = std::uint8_t(count); // C (BE), W 0, R 100
    d[15] = std::uint8_t(width);
    d[18] = 100;
    d[12] = std::uint8_t(count);
    return d;
}

Bytes Samples(std::uint8_t port, std::int16_t count, std::initializer_list<std::uint8_t> samples)
{
    Bytes d(23 + samples.size(), 0);
    d[0] = 1;
    d[1] = port;
    d[5] = std::uint8_t(std::uint16_t(count) & 0xFF);
    d[6] = std::uint8_t(std::uint16_t(count) >> 8);
    std::copy(samples.begin(), samples.end(), d.begin() + 23);
    return d;
}

bool IsStatus(const FakeAgent::Received& r)
{
    return r.raw.size() == 24 && r.raw[0] == 2;
}

// The client with its transport in reach, for the tests of the socket itself.
class TransportClient : public getdata {
public:
    using getdata::getdata;
    using getdata::close_socket;
    using getdata::open_socket;
    using getdata::receive_packet;
    using getdata::send_packet;
};

class GetdataPeer : public testing::Test {
protected:
    std::string address = CurrentTestAddress();
    TransportClient client{400};
    QStringList messages;

    void SetUp() override
    {
        client.set_message_handler([this](const std::string& text) { messages << QString::fromStdString(text); });
    }
};

// The old firmware's 124-byte status reply ends the download only when the unit sent it; from
// any other host or port it is a stray datagram, and the unit's real answer that follows counts.
TEST_F(GetdataPeer, OldFirmwareReplyCountsOnlyFromTheUnit)
{
    REQUIRE_PORT_811();
    struct Case {
        const char* name;
        std::string fromAddress;
        int fromPort;
        int result;
        std::int32_t error;
    };
    const Case cases[] = {
        {"from the unit's address and port", "", 0, -1, getdata_error::old_firmware},
        {"from another host", TestAddress("another sender"), 811, 0, getdata_error::none},
        {"from another port of the unit", address, 4711, 0, getdata_error::none},
    };
    for (const Case& c : cases) {
        FakeAgent peer(address, [&](const FakeAgent::Received& r) {
            if (IsStatus(r))
                return std::vector<FakeAgent::Reply>{{Bytes(124, 0), 0, c.fromAddress, c.fromPort},
                                                     {Status(4, 0), 50, "", 0}};
            return std::vector<FakeAgent::Reply>{{Samples(0, 2, {5, 6}), 0, "", 0}};
        }, 811);
        ASSERT_TRUE(peer.IsListening()) << c.name;
        EXPECT_EQ(client.fetch(address, "pw", 0, 0), c.result) << c.name;
        EXPECT_EQ(client.last_error(), c.error) << c.name;
        EXPECT_EQ(peer.DatagramCount(), c.result == 0 ? 2 : 1) << c.name << ": one status request, then the records";
    }
}

TEST_F(GetdataPeer, UnacceptableRepliesKeepTheWaitGoing)
{
    REQUIRE_PORT_811();
    // Each receive waits 400 ms afresh: the answer comes 600 ms after the request, behind a
    // result byte that is neither 4 nor an error, another port index and another sender port.
    FakeAgent peer(address, [&](const FakeAgent::Received& r) {
        if (IsStatus(r))
            return std::vector<FakeAgent::Reply>{{Status(7, 3), 0, "", 0},
                                                 {Status(4, 2), 300, "", 0},
                                                 {Status(4, 3), 0, address, 812},
                                                 {Status(4, 3), 300, "", 0}};
        return std::vector<FakeAgent::Reply>{{Samples(3, 2, {5, 0xFB}), 0, "", 0}};
    }, 811);
    ASSERT_TRUE(peer.IsListening());
    ASSERT_EQ(client.fetch(address, "pw", 3, 1), 0) << client.last_error();
    EXPECT_EQ(peer.DatagramCount(), 2);
    EXPECT_EQ(client.status().result, 4);
    EXPECT_EQ(client.sample(0), 5);
    EXPECT_EQ(client.sample(1), -5);
    // The request carried port, channel and the password.
    const Bytes request = peer.Datagrams()[0].raw;
    EXPECT_EQ(request[1], 3);
    EXPECT_EQ(request[2], 1);
    EXPECT_EQ(std::memcmp(request.data() + 7, "pw\0\0", 4), 0);
}

TEST_F(GetdataPeer, StrayDatagramsCannotHoldARequestForEver)
{
    REQUIRE_PORT_811();
    // The first request is answered by 4 s of stray datagrams, one every 100 ms. Each would
    // start a fresh 300 ms wait; a request gives up after four waits in all and is sent again.
    FakeAgent peer(address, [&](const FakeAgent::Received& r) {
        std::vector<FakeAgent::Reply> replies;
        if (r.index == 0)
            replies.assign(40, {Status(7, 0), 100, "", 0});
        else if (IsStatus(r))
            replies.push_back({Status(4, 0), 0, "", 0});
        else
            replies.push_back({Samples(0, 2, {1, 2}), 0, "", 0});
        return replies;
    }, 811);
    ASSERT_TRUE(peer.IsListening());
    client.set_receive_timeout(300);
    ASSERT_EQ(client.fetch(address, "pw", 0, 0), 0) << client.last_error();
    int statusRequests = 0;
    for (const auto& d : peer.Datagrams())
        statusRequests += IsStatus(d);
    EXPECT_GE(statusRequests, 3) << "sent again at about 1.2 s and 2.4 s while the strays went on";
}

TEST_F(GetdataPeer, SampleCountsOfTheReplyAreBounded)
{
    REQUIRE_PORT_811();
    struct Case {
        const char* name;
        std::int16_t count;
        int result;
    };
    const Case cases[] = {
        {"says 300, copies the 2 asked for", 300, 0},
        {"says 0: does not count", 0, -1},
        {"says -1: does not count", -1, -1},
    };
    for (const Case& c : cases) {
        FakeAgent peer(address, [&](const FakeAgent::Received& r) {
            if (IsStatus(r))
                return std::vector<FakeAgent::Reply>{{Status(4, 0), 0, "", 0}};
            return std::vector<FakeAgent::Reply>{{Samples(0, c.count, {9, 8}), 0, "", 0}};
        }, 811);
        ASSERT_TRUE(peer.IsListening());
        client.set_receive_timeout(100);
        EXPECT_EQ(client.fetch(address, "pw", 0, 0), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(client.sample_count(), 2);
            EXPECT_EQ(client.sample(1), 8);
            EXPECT_EQ(peer.DatagramCount(), 2) << c.name;
        } else {
            EXPECT_EQ(client.last_error(), getdata_error::no_reply) << c.name;
            EXPECT_EQ(peer.DatagramCount(), 6) << c.name << ": one status, five datalog requests";
        }
    }
}

TEST_F(GetdataPeer, DatagramsQueuedBeforeARequestAreDropped)
{
    REQUIRE_PORT_811();
    // Right behind the status reply comes a datagram shaped like the first chunk's answer.
    FakeAgent peer(address, [&](const FakeAgent::Received& r) {
        if (IsStatus(r))
            return std::vector<FakeAgent::Reply>{{Status(4, 0), 0, "", 0}, {Samples(0, 2, {99, 99}), 0, "", 0}};
        return std::vector<FakeAgent::Reply>{{Samples(0, 2, {1, 2}), 0, "", 0}};
    }, 811);
    ASSERT_TRUE(peer.IsListening());
    ASSERT_TRUE(client.set_unit_address(address));
    client.set_channel(0, 0);
    ASSERT_EQ(client.open_socket(), 0);
    ASSERT_EQ(client.readstatus(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the stale one is queued now
    ASSERT_EQ(client.read_data(), 0);
    client.close_socket();
    EXPECT_EQ(client.sample(0), 1);
    EXPECT_EQ(client.sample(1), 2);
}

// Sends a request in two goes: first the system "sends" 10 bytes, then the whole datagram.
class ShortSendClient : public getdata {
public:
    using getdata::getdata;
    int calls = 0;
    int failWith = 0;

protected:
    ssize_t sys_sendto(int fd, const void* buffer, std::size_t length, const sockaddr_in& to) override
    {
        ++calls;
        if (failWith) {
            errno = failWith;
            return -1;
        }
        if (calls % 2 == 1)
            return 10;
        return getdata::sys_sendto(fd, buffer, length, to);
    }
};

TEST_F(GetdataPeer, ShortSendIsRepeatedWhole)
{
    REQUIRE_PORT_811();
    FakeAgent peer(address, [&](const FakeAgent::Received& r) {
        if (IsStatus(r))
            return std::vector<FakeAgent::Reply>{{Status(4, 0), 0, "", 0}};
        return std::vector<FakeAgent::Reply>{{Samples(0, 2, {1, 2}), 0, "", 0}};
    }, 811);
    ASSERT_TRUE(peer.IsListening());
    ShortSendClient shortSend(400);
    ASSERT_EQ(shortSend.fetch(address, "pw", 0, 0), 0) << shortSend.last_error();
    EXPECT_EQ(shortSend.calls, 4);
    EXPECT_EQ(peer.DatagramCount(), 2);
    for (const auto& d : peer.Datagrams())
        EXPECT_EQ(d.raw.size(), 24u);
}

TEST_F(GetdataPeer, FailedSendsEndAsNoReplyWithSocketCodesAboveTheOwnCodes)
{
    ShortSendClient failing(50);
    failing.failWith = ENETDOWN; // 100 on Linux: must not read as "timed out"
    QStringList boxes;
    failing.set_message_handler([&](const std::string& text) { boxes << QString::fromStdString(text); });
    EXPECT_EQ(failing.fetch(address, "pw", 0, 0), -1);
    EXPECT_EQ(failing.last_error(), getdata_error::no_reply);
    EXPECT_EQ(boxes.size(), 5);
    EXPECT_EQ(boxes.value(0), QString("Sent a packet error(%1) !\n").arg(10000 + ENETDOWN));
}

TEST_F(GetdataPeer, ReceiveWaitsAndClearsTheBuffer)
{
    REQUIRE_PORT_811();
    FakeAgent peer(address, [](const FakeAgent::Received&) {
        return std::vector<FakeAgent::Reply>{{Bytes{1, 2, 3, 4, 5}, 0, "", 0}};
    }, 811);
    ASSERT_TRUE(peer.IsListening());
    ASSERT_TRUE(client.set_unit_address(address));
    ASSERT_EQ(client.open_socket(), 0);
    std::uint8_t buffer[64];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(client.receive_packet(buffer, sizeof buffer, 200, &from, &fromLength), -1);
    EXPECT_GE(timer.elapsed(), 190);
    EXPECT_EQ(client.last_error(), getdata_error::timeout);

    const std::uint8_t request[24] = {2};
    ASSERT_EQ(client.send_packet(request, sizeof request), 24);
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_EQ(client.receive_packet(buffer, sizeof buffer, 1000, &from, &fromLength), 5);
    EXPECT_EQ(buffer[4], 5);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(buffer[63], 0);
    EXPECT_EQ(ntohs(from.sin_port), 811);
    client.close_socket();
}

TEST(GetdataAddress, OnlyDottedLoopbackAddressesAreUsed)
{
    getdata client(100);
    for (const char* text : {"localhost", "1.2.3", "0x7f.1", "127.0.0.1 ", "", "10.0.0.1", "198.168.0.100",
                             "255.255.255.255"}) {
        EXPECT_EQ(client.fetch(text, "pw", 0, 0), -1) << text;
        EXPECT_EQ(client.last_error(), getdata_error::socket_base + EADDRNOTAVAIL) << text;
        EXPECT_EQ(client.requests_sent(), 0u) << text;
    }
    EXPECT_FALSE(client.set_unit_address(std::string("127.0.0.1\0x", 11)));
}

} // namespace
