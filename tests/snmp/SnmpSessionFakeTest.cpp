// The session against a responder on a real UDP socket, for what no real agent sends: silence
// followed by answers, late answers, every error-status, broken and foreign replies.
#include "FakeAgent.h"
#include "common/TestSupport.h"
#include "snmp/CSnmpSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <unistd.h>

namespace {

using ber::Bytes;

const std::string kOid = ".1.3.6.1.4.1.32473.99.1.1";
const std::string kOid2 = ".1.3.6.1.4.1.32473.99.1.2";

class SnmpSessionFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::CanBindPrivilegedPorts())
            GTEST_SKIP() << "needs root to bind port 161";
        m_address = testsupport::CurrentTestAddress();
    }

    void TearDown() override
    {
        if (m_open)
            m_session.Close();
    }

    void Open(int timeout, int retries)
    {
        std::string status;
        ASSERT_TRUE(m_session.Open(m_address, "public", timeout, retries, status)) << status;
        m_open = true;
    }

    bool Get(const std::vector<std::string>& oids)
    {
        return m_session.Get(oids, m_values, m_errorText, m_errorCode);
    }

    // Waits a little so that a datagram on its way would have arrived.
    static void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

    std::string m_address;
    CSnmpSession m_session;
    bool m_open = false;
    std::vector<std::string> m_values;
    std::string m_errorText;
    int m_errorCode = -999;
};

FakeAgent::Handler Answer(const Bytes& value)
{
    return [value](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (!in.request)
            return {};
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {value, value, value}))}};
    };
}

} // namespace

// A unit that does not answer: code 40, the session stays open, and once the unit answers the
// next Get on the same session succeeds.
TEST_F(SnmpSessionFake, SilentUnitTimesOutThenAnswers)
{
    Open(1, 0);
    EXPECT_FALSE(Get({kOid}));
    EXPECT_EQ(m_errorCode, 40);
    EXPECT_EQ(m_errorText, "The request timed-out.");
    EXPECT_TRUE(m_values.empty());

    FakeAgent agent(m_address, Answer(ber::Integer(7)));
    ASSERT_TRUE(agent.IsListening());
    ASSERT_TRUE(Get({kOid})) << m_errorText;
    EXPECT_EQ(m_values, std::vector<std::string>{"7"});
    EXPECT_EQ(m_errorCode, 0);
    EXPECT_EQ(m_errorText, "");
}

// Retries are resends of the same request; a unit that never answers gets retries + 1 of them.
TEST_F(SnmpSessionFake, RetriesAreResendsOfTheSameRequest)
{
    FakeAgent agent(m_address, [](const FakeAgent::Received&) { return std::vector<FakeAgent::Reply>{}; });
    ASSERT_TRUE(agent.IsListening());
    Open(1, 1);
    EXPECT_FALSE(Get({kOid, kOid}));
    EXPECT_EQ(m_errorCode, 40);
    Settle();
    const auto received = agent.Datagrams();
    ASSERT_EQ(received.size(), 2u);
    ASSERT_TRUE(received[0].request && received[1].request);
    EXPECT_EQ(received[0].request->requestId, received[1].request->requestId);
    EXPECT_EQ(received[0].request->oids, received[1].request->oids);
}

// The answer to a resend is taken.
TEST_F(SnmpSessionFake, AnswerToAResendIsTaken)
{
    const FakeAgent::Handler answerSecond = [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (in.index == 0 || !in.request)
            return {};
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {ber::OctetString("late")}))}};
    };
    FakeAgent agent(m_address, answerSecond);
    Open(1, 1);
    ASSERT_TRUE(Get({kOid})) << m_errorText;
    EXPECT_EQ(m_values, std::vector<std::string>{"late"});
    EXPECT_EQ(agent.DatagramCount(), 2);
}

// The time-out counts seconds: an answer after 400 ms is well within a time-out of 1.
TEST_F(SnmpSessionFake, TimeOutCountsSeconds)
{
    FakeAgent agent(m_address, [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (!in.request)
            return {};
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {ber::Integer(1)})), 400}};
    });
    Open(1, 0);
    ASSERT_TRUE(Get({kOid})) << m_errorText;
    EXPECT_EQ(agent.DatagramCount(), 1);
}

// Every error-status a unit may answer, with the error-index where the text names it.
TEST_F(SnmpSessionFake, ErrorStatusCodesAndTexts)
{
    struct Row {
        int status;
        int index;
        const char* text;
    };
    const Row rows[] = {
        {1, 1, "Error in SnmpMgrRequest : OID"}, // tooBig
        {2, 2, "The requested operation identified an unknown variable in OID : 2."},
        {2, 3, "The requested operation identified an unknown variable in OID : 3."},
        {3, 1, "Error in SnmpMgrRequest : OID"}, // badValue
        {4, 1, "Error in SnmpMgrRequest : OID"}, // readOnly
        {5, 1, "Error in SnmpMgrRequest : OID"}, // genErr
        {6, 1, "wrong password!"},               // noAccess
        {16, 1, "Error in SnmpMgrRequest : OID"}, // authorizationError
    };
    std::atomic<const Row*> current{nullptr};
    FakeAgent agent(m_address, [&current](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        const Row* row = current;
        if (!in.request || !row)
            return {};
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {}), row->status, row->index)}};
    });
    Open(2, 0);
    for (const auto& row : rows) {
        current = &row;
        EXPECT_FALSE(Get({kOid, kOid, kOid})) << row.status;
        EXPECT_EQ(m_errorCode, row.status);
        EXPECT_EQ(m_errorText, row.text);
        EXPECT_TRUE(m_values.empty());
    }
    // Zero and below count as success.
    const Row negative{-1, 0, ""};
    current = &negative;
    EXPECT_TRUE(Get({kOid, kOid, kOid})) << m_errorText;
    EXPECT_EQ(m_values.size(), 3u);
    EXPECT_EQ(agent.DatagramCount(), static_cast<int>(std::size(rows)) + 1);
}

namespace {

// One way to answer a request wrongly. Each is sent just before the genuine reply; the session
// must pass over it and take the genuine one.
struct BadReply {
    const char* what;
    std::function<FakeAgent::Reply(const ber::Request&, const std::string& address)> make;
};

Bytes Forged(const ber::Request& request)
{
    const Bytes value = ber::OctetString("forged");
    return FakeAgent::Response(request, FakeAgent::Echo(request, {value, value, value}));
}

Bytes Cut(Bytes bytes, std::size_t length)
{
    bytes.resize(length);
    return bytes;
}

std::vector<BadReply> BadReplies()
{
    using R = ber::Request;
    std::vector<BadReply> rows = {
        {"another request id",
         [](const R& r, const std::string&) {
             R other = r;
             other.requestId = r.requestId + 1;
             return FakeAgent::Reply{Forged(other)};
         }},
        {"from another address",
         [](const R& r, const std::string& address) {
             return FakeAgent::Reply{Forged(r), 0, testsupport::TestAddress(address + "#other"), 161};
         }},
        {"from the unit's address but another port",
         [](const R& r, const std::string& address) { return FakeAgent::Reply{Forged(r), 0, address, 1161}; }},
        {"a GetRequest instead of a GetResponse",
         [](const R& r, const std::string&) {
             return FakeAgent::Reply{
                 ber::Message(0, r.community, 0xA0, r.requestId, 0, 0, FakeAgent::Echo(r, {ber::OctetString("forged")}))};
         }},
        {"an SNMPv2c response",
         [](const R& r, const std::string&) {
             return FakeAgent::Reply{
                 ber::Message(1, r.community, 0xA2, r.requestId, 0, 0, FakeAgent::Echo(r, {ber::OctetString("forged")}))};
         }},
        {"an empty datagram", [](const R&, const std::string&) { return FakeAgent::Reply{Bytes{}}; }},
        {"text, not BER",
         [](const R&, const std::string&) {
             const std::string text = "not an SNMP message";
             return FakeAgent::Reply{Bytes(text.begin(), text.end())};
         }},
        {"outer length beyond the datagram",
         [](const R& r, const std::string&) {
             Bytes b = Forged(r);
             b[1] = static_cast<std::uint8_t>(b[1] + 10);
             return FakeAgent::Reply{b};
         }},
        {"outer length of 0x84 FF FF FF FF",
         [](const R& r, const std::string&) {
             Bytes b = Forged(r);
             const Bytes huge = {0x84, 0xFF, 0xFF, 0xFF, 0xFF};
             b.erase(b.begin() + 1);
             b.insert(b.begin() + 1, huge.begin(), huge.end());
             return FakeAgent::Reply{b};
         }},
        {"a binding that is not a SEQUENCE",
         [](const R& r, const std::string&) {
             Bytes list = ber::Tlv(0x31, ber::Concat({ber::ObjectId(r.oids[0]), ber::OctetString("forged")}));
             Bytes pdu = ber::Tlv(0xA2, ber::Concat({ber::Integer(r.requestId), ber::Integer(0), ber::Integer(0),
                                                      ber::Tlv(0x30, list)}));
             return FakeAgent::Reply{ber::Tlv(0x30, ber::Concat({ber::Integer(0), ber::OctetString(r.community), pdu}))};
         }},
        {"fewer bindings than asked for",
         [](const R& r, const std::string&) {
             return FakeAgent::Reply{FakeAgent::Response(r, {{r.oids[0], ber::OctetString("forged")}})};
         }},
        {"the bindings in another order",
         [](const R& r, const std::string&) {
             return FakeAgent::Reply{FakeAgent::Response(
                 r, {{r.oids[1], ber::OctetString("forged")}, {r.oids[0], ber::OctetString("forged")}})};
         }},
        {"more bindings than asked for",
         [](const R& r, const std::string&) {
             auto binds = FakeAgent::Echo(r, {ber::OctetString("forged"), ber::OctetString("forged")});
             binds.push_back(binds.back());
             return FakeAgent::Reply{FakeAgent::Response(r, binds)};
         }},
        {"another OID than asked for",
         [](const R& r, const std::string&) {
             ber::Oid other = r.oids[1];
             other.back() += 1;
             return FakeAgent::Reply{
                 FakeAgent::Response(r, {{r.oids[0], ber::OctetString("forged")}, {other, ber::OctetString("forged")}})};
         }},
        {"a request id of nine bytes",
         [](const R& r, const std::string&) {
             Bytes id = {0x02, 0x09, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
             Bytes pdu = ber::Tlv(0xA2, ber::Concat({id, ber::Integer(0), ber::Integer(0),
                                                      ber::Tlv(0x30, Bytes{})}));
             return FakeAgent::Reply{ber::Tlv(0x30, ber::Concat({ber::Integer(0), ber::OctetString(r.community), pdu}))};
         }},
    };
    // Every truncation of a genuine reply.
    for (std::size_t length : {1u, 2u, 5u, 12u, 20u, 30u})
        rows.push_back({"truncated", [length](const R& r, const std::string&) {
                            const Bytes b = Forged(r);
                            return FakeAgent::Reply{Cut(b, std::min(length, b.size() - 1))};
                        }});
    rows.push_back({"truncated by one byte", [](const R& r, const std::string&) {
                        const Bytes b = Forged(r);
                        return FakeAgent::Reply{Cut(b, b.size() - 1)};
                    }});
    return rows;
}

} // namespace

TEST_F(SnmpSessionFake, BrokenAndForeignRepliesAreNoAnswer)
{
    const auto rows = BadReplies();
    std::atomic<const BadReply*> current{nullptr};
    const std::string address = m_address;
    FakeAgent agent(m_address, [&current, address](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        const BadReply* row = current;
        if (!in.request || !row)
            return {};
        const Bytes value = ber::OctetString("genuine");
        FakeAgent::Reply genuine{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {value, value})), 50};
        return {row->make(*in.request, address), genuine};
    });
    Open(2, 0);
    for (const auto& row : rows) {
        current = &row;
        EXPECT_TRUE(Get({kOid, kOid2})) << row.what << ": " << m_errorText;
        EXPECT_EQ(m_values, (std::vector<std::string>{"genuine", "genuine"})) << row.what;
    }
}

// When nothing but a broken reply arrives, that is a time-out.
TEST_F(SnmpSessionFake, OnlyABrokenReplyIsATimeOut)
{
    FakeAgent agent(m_address, [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (!in.request)
            return {};
        return {{Cut(Forged(*in.request), 20)}};
    });
    Open(1, 0);
    EXPECT_FALSE(Get({kOid}));
    EXPECT_EQ(m_errorCode, 40);
    EXPECT_EQ(m_errorText, "The request timed-out.");
}

// Types a version-1 agent should not send still get a text: Counter64 as an unsigned decimal,
// NULL and the exception values as an empty text.
TEST_F(SnmpSessionFake, ValuesOfTypesOutsideTheTable)
{
    FakeAgent agent(m_address, [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (!in.request)
            return {};
        const std::vector<Bytes> values = {ber::Unsigned(18446744073709551615ull, 0x46), ber::Null(),
                                           ber::Null(0x80), ber::Null(0x81), ber::Null(0x82)};
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, values))}};
    });
    Open(2, 0);
    ASSERT_TRUE(Get({kOid, kOid, kOid, kOid, kOid})) << m_errorText;
    EXPECT_EQ(m_values, (std::vector<std::string>{"18446744073709551615", "", "", "", ""}));
}

// The whole list travels in one GET, in order; texts without the leading dot are relative to
// MIB-2.
TEST_F(SnmpSessionFake, WholeListInOneRequestAndRelativeOids)
{
    FakeAgent agent(m_address, [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (!in.request)
            return {};
        std::vector<Bytes> values;
        for (std::size_t i = 0; i < in.request->oids.size(); ++i)
            values.push_back(ber::Integer(static_cast<std::int64_t>(i)));
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, values))}};
    });
    Open(2, 0);
    std::vector<std::string> oids = {"1.1.0", "2.2.1.10.4294967295"};
    for (int i = 0; i < 62; ++i)
        oids.push_back(kOid + "." + std::to_string(i));
    ASSERT_TRUE(Get(oids)) << m_errorText;
    ASSERT_EQ(m_values.size(), 64u);
    EXPECT_EQ(m_values[0], "0");
    EXPECT_EQ(m_values[63], "63");

    const auto received = agent.Datagrams();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_TRUE(received[0].request);
    const ber::Request& request = *received[0].request;
    EXPECT_EQ(request.version, 0);
    EXPECT_EQ(request.community, "public");
    EXPECT_EQ(request.pduTag, 0xA0);
    ASSERT_EQ(request.oids.size(), 64u);
    EXPECT_EQ(request.oids[0], ber::ParseDottedOid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(request.oids[1], ber::ParseDottedOid("1.3.6.1.2.1.2.2.1.10.4294967295"));
    EXPECT_EQ(request.oids[2], ber::ParseDottedOid(kOid + ".0"));
}

// Nothing is sent for a list that cannot be a request: the failure is local and says why.
TEST_F(SnmpSessionFake, BadOidListsSendNothing)
{
    FakeAgent agent(m_address, Answer(ber::Integer(1)));
    Open(1, 0);

    EXPECT_FALSE(Get({}));
    EXPECT_EQ(m_errorText, "Error: Empty OID list");
    EXPECT_EQ(m_errorCode, 0);

    const std::string tooLong = [] {
        std::string text;
        for (int i = 0; i < 129; ++i)
            text += ".1";
        return text;
    }();
    const std::string bad[] = {"",        ".",           "..1.3",       ".1..3",    ".1.3.",   "1.3.6.1.",
                               ".1.3.x",  "sysDescr.0",  ".1.3.-6",     " .1.3",    ".1.3 ",   ".1.3.4294967296",
                               "+1.3",    ".1.3.6.1\n",  tooLong,       ".1.3.0x10", ".1",      ".3.1",
                               ".1.40.1", ".0.40"};
    for (const auto& oid : bad) {
        m_values = {"stale"};
        EXPECT_FALSE(Get({kOid, oid, kOid})) << "[" << oid << "]";
        EXPECT_EQ(m_errorText, "Error: Invalid OID : " + oid);
        EXPECT_EQ(m_errorCode, 0);
        EXPECT_TRUE(m_values.empty());
    }
    Settle();
    EXPECT_EQ(agent.DatagramCount(), 0);

    // The largest sub-identifier and the longest OID still convert.
    std::string longest = ".2.4294967215";
    for (int i = 0; i < 126; ++i)
        longest += ".4294967295";
    EXPECT_TRUE(Get({kOid, ".1.3.4294967295", ".0.39", longest})) << m_errorText;
    EXPECT_EQ(agent.DatagramCount(), 1);
}

// Only dotted IPv4 addresses open: a host name would cost a DNS query before any SNMP. Test
// programs also refuse everything off loopback, the program's default address included.
TEST_F(SnmpSessionFake, OpenRefusesAnythingButADottedAddress)
{
    for (const std::string& bad : std::vector<std::string>{"localhost", "127.0.0.256", "198.168.0.100", "udp:" + m_address, m_address + ":161", ""}) {
        CSnmpSession session;
        std::string status;
        EXPECT_FALSE(session.Open(bad, "public", 1, 0, status)) << bad;
        EXPECT_EQ(status, "Session could not be opened successfully");
    }
}

// A failed Open leaves a session that Close and Get refuse without touching the network.
TEST_F(SnmpSessionFake, CloseAfterFailedOpen)
{
    std::string status = "stale";
    EXPECT_FALSE(m_session.Open(m_address + ":70000", "public", 2, 2, status));
    EXPECT_EQ(status, "Session could not be opened successfully");
    EXPECT_FALSE(Get({kOid}));
    EXPECT_EQ(m_errorCode, 0);
    EXPECT_FALSE(m_errorText.empty());
    EXPECT_FALSE(m_session.Close());
    EXPECT_FALSE(m_session.Close());

    // A session closes once.
    CSnmpSession session;
    ASSERT_TRUE(session.Open(m_address, "public", 2, 2, status));
    EXPECT_EQ(status, "Session opened successfully");
    EXPECT_TRUE(session.Close());
    EXPECT_FALSE(session.Close());
}

// Sessions on several threads at once: opens are serialised inside, each session is used by
// its own thread, and every read gets its own answer.
TEST_F(SnmpSessionFake, SessionsOnManyThreads)
{
    FakeAgent agent(m_address, [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
        if (!in.request)
            return {};
        // Answer with the last sub-identifier asked for, so each thread can check its own.
        const auto value = ber::Integer(in.request->oids[0].back());
        return {{FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {value}))}};
    });
    constexpr int kThreads = 8;
    constexpr int kRounds = 10;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                CSnmpSession session;
                std::string status;
                std::vector<std::string> values;
                std::string errorText;
                int errorCode = 0;
                const std::string id = std::to_string(t * 100 + round);
                if (session.Open(m_address, "public", 2, 1, status)
                    && session.Get({kOid + "." + id}, values, errorText, errorCode) && values.size() == 1
                    && values[0] == id)
                    ++good;
                session.Close();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good, kThreads * kRounds);
}

// The library never writes to stderr, whatever goes wrong.
TEST_F(SnmpSessionFake, NothingOnStderr)
{
    char path[] = "/tmp/veltrane-stderr-XXXXXX";
    const int capture = ::mkstemp(path);
    ASSERT_GE(capture, 0);
    const int saved = ::dup(2);
    ::dup2(capture, 2);
    {
        CSnmpSession failed;
        std::string status;
        failed.Open(m_address + ":70000", "public", 1, 0, status);
        failed.Close();

        Open(1, 0);
        Get({kOid}); // nothing listening: refused, then a time-out
        FakeAgent agent(m_address, [](const FakeAgent::Received& in) -> std::vector<FakeAgent::Reply> {
            if (!in.request)
                return {};
            const Bytes good = FakeAgent::Response(*in.request, FakeAgent::Echo(*in.request, {ber::Integer(1)}));
            Bytes bad = good;
            bad[1] = static_cast<std::uint8_t>(bad[1] + 3);
            return {{Cut(good, 9)}, {bad}, {ber::Message(1, "x", 0xA2, 1, 0, 0, {})}, {good, 50}};
        });
        Get({kOid});
        Get({kOid, "bad"});
    }
    ::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    const off_t size = ::lseek(capture, 0, SEEK_END);
    ::close(capture);
    ::unlink(path);
    EXPECT_EQ(size, 0);
}

// Sessions give their sockets back: after Close, after a second Open on the same object, and
// when an owner destroys a session it forgot to close.
TEST_F(SnmpSessionFake, NoSocketIsLeaked)
{
    const auto openDescriptors = [] {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++count;
        }
        return count;
    };
    const int before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        std::string status;
        CSnmpSession closed;
        ASSERT_TRUE(closed.Open(m_address, "public", 1, 0, status));
        closed.Close();
        CSnmpSession reopened;
        ASSERT_TRUE(reopened.Open(m_address, "public", 1, 0, status));
        ASSERT_TRUE(reopened.Open(m_address, "public", 1, 0, status));
        reopened.Close();
        CSnmpSession forgotten;
        ASSERT_TRUE(forgotten.Open(m_address, "public", 1, 0, status));
    }
    EXPECT_EQ(openDescriptors(), before);
}
