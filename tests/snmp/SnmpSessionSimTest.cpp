// The session against a real agent: snmpsim serving tests/data/snmpsim/public.snmprec, which
// holds a value of every type the value texts distinguish. Requests pass through a relay on the
// test's address, so the tests also see how many datagrams a Get sent.
#include "FakeAgent.h"
#include "common/SnmpSimAgent.h"
#include "common/TestSupport.h"
#include "snmp/CSnmpSession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

using testsupport::SnmpSimAgent;

const std::string P = ".1.3.6.1.4.1.32473.99";

// Forwards each datagram to the agent and hands back its answer, if any.
std::vector<FakeAgent::Reply> Forward(const FakeAgent::Received& in, const std::string& agentAddress)
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    agent.sin_port = htons(161);
    ::inet_pton(AF_INET, agentAddress.c_str(), &agent.sin_addr);
    ::sendto(sock, in.raw.data(), in.raw.size(), 0, reinterpret_cast<const sockaddr*>(&agent), sizeof agent);
    std::vector<FakeAgent::Reply> replies;
    pollfd pfd{sock, POLLIN, 0};
    if (::poll(&pfd, 1, 3000) > 0) {
        std::uint8_t buffer[65536];
        const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n > 0)
            replies.push_back({ber::Bytes(buffer, buffer + n)});
    }
    ::close(sock);
    return replies;
}

class SnmpSessionSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::CanBindPrivilegedPorts())
            GTEST_SKIP() << "needs root to bind port 161";
        ASSERT_TRUE(SnmpSimAgent::IsAvailable()) << "snmpsimd is not installed (scripts/deps installs it)";
        m_address = testsupport::CurrentTestAddress();
        const std::string agentAddress = testsupport::TestAddress(m_address + "#snmpsim");
        m_agent = std::make_unique<SnmpSimAgent>(agentAddress,
                                                 std::vector<std::string>{SnmpSimAgent::DataFile("public.snmprec")});
        ASSERT_TRUE(m_agent->IsReady()) << m_agent->Log();
        m_relay = std::make_unique<FakeAgent>(
            m_address, [agentAddress](const FakeAgent::Received& in) { return Forward(in, agentAddress); });
        ASSERT_TRUE(m_relay->IsListening());
    }

    void TearDown() override
    {
        if (m_open)
            m_session.Close();
    }

    void Open(const std::string& address, const std::string& community, int timeout, int retries)
    {
        std::string status;
        ASSERT_TRUE(m_session.Open(address, community, timeout, retries, status)) << status;
        m_open = true;
    }

    bool Get(const std::vector<std::string>& oids)
    {
        return m_session.Get(oids, m_values, m_errorText, m_errorCode);
    }

    std::string m_address;
    std::unique_ptr<SnmpSimAgent> m_agent;
    std::unique_ptr<FakeAgent> m_relay;
    CSnmpSession m_session;
    bool m_open = false;
    std::vector<std::string> m_values;
    std::string m_errorText;
    int m_errorCode = -999;
};

} // namespace

// Every value text rule, in one GET of the whole list.
TEST_F(SnmpSessionSim, EveryValueTypeAsText)
{
    std::string longOid = ".1.3";
    for (int i = 0; i < 60; ++i)
        longOid += ".4294967295";
    const std::pair<std::string, std::string> rows[] = {
        {"1.1.0", "Veltrane test agent"}, // relative to MIB-2
        {".1.3.6.1.2.1.1.3.0", "123456"},
        {P + ".1.1", "-123"},
        {P + ".1.2", "2147483647"},
        {P + ".1.3", "-2147483648"},
        {P + ".2.1", "Temp"},
        {P + ".2.2", "0f41"},
        {P + ".2.3", "\x10" "A"},
        {P + ".2.4", "A"},
        {P + ".2.5", ""},
        {P + ".2.6", [] {
             std::string s;
             for (int i = 0; i < 30; ++i)
                 s += "0123456789";
             return s;
         }()},
        {P + ".2.7", "\xC3\xA9"},
        {P + ".2.8", "00ff"},
        {P + ".3.1", ".1.3.6.1"},
        {P + ".3.2", longOid},
        {P + ".4.1", "192.168.0.1"},
        {P + ".4.2", "255.255.255.255"},
        {P + ".5.1", "4294967295"},
        {P + ".5.2", "0"},
        {P + ".6.1", "4294967295"},
        {P + ".6.2", "42"},
        {P + ".7.1", "-1"},
        {P + ".7.2", "-2147483648"},
        {P + ".7.3", "2147483647"},
        {P + ".8.1", "01 FF "},
        {P + ".8.2", ""},
    };
    std::vector<std::string> oids;
    for (const auto& row : rows)
        oids.push_back(row.first);

    Open(m_address, "public", 2, 0);
    m_errorText = "stale";
    ASSERT_TRUE(Get(oids)) << m_errorCode << " " << m_errorText;
    EXPECT_EQ(m_errorText, "");
    EXPECT_EQ(m_errorCode, 0);
    ASSERT_EQ(m_values.size(), oids.size());
    for (std::size_t i = 0; i < oids.size(); ++i)
        EXPECT_EQ(m_values[i], rows[i].second) << rows[i].first;
    EXPECT_EQ(m_relay->DatagramCount(), 1);
}

// noSuchName on the second of three OIDs: one request, error-index 2, no values; the session
// stays open for the next read.
TEST_F(SnmpSessionSim, NoSuchNameOnTheSecondOfThree)
{
    Open(m_address, "public", 2, 0);
    m_values = {"stale"};
    EXPECT_FALSE(Get({P + ".1.1", P + ".1.99", P + ".2.1"}));
    EXPECT_EQ(m_errorCode, 2);
    EXPECT_EQ(m_errorText, "The requested operation identified an unknown variable in OID : 2.");
    EXPECT_TRUE(m_values.empty());
    EXPECT_EQ(m_relay->DatagramCount(), 1);

    ASSERT_TRUE(Get({P + ".1.1", P + ".2.1"})) << m_errorText;
    EXPECT_EQ(m_values, (std::vector<std::string>{"-123", "Temp"}));
}

// A wrong community gets no answer from the agent: a time-out, not a crash or a hang.
TEST_F(SnmpSessionSim, WrongCommunityTimesOut)
{
    Open(m_agent->Address(), "private", 1, 0);
    EXPECT_FALSE(Get({P + ".1.1"}));
    EXPECT_EQ(m_errorCode, 40);
    EXPECT_EQ(m_errorText, "The request timed-out.");
    EXPECT_TRUE(m_values.empty());
}
