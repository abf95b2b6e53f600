#pragma once
// A responder on a real UDP socket for the replies no real agent sends: broken, foreign, late
// or with error-status values snmpsim cannot produce under SNMPv1.
#include "common/SnmpBer.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class FakeAgent {
public:
    struct Received {
        ber::Bytes raw;
        std::optional<ber::Request> request; // nullopt when the datagram is not a GET we can read
        int index = 0;                       // 0 for the first datagram received
    };
    struct Reply {
        ber::Bytes bytes;
        int delayMs = 0;
        // Sent from this address and port instead of the agent's own socket when set.
        std::string fromAddress = {};
        int fromPort = 0;
    };
    using Handler = std::function<std::vector<Reply>(const Received&)>;

    FakeAgent(const std::string& address, Handler handler, int port = 161);
    ~FakeAgent();
    FakeAgent(const FakeAgent&) = delete;
    FakeAgent& operator=(const FakeAgent&) = delete;

    bool IsListening() const { return m_sock >= 0; }
    int DatagramCount() const { return m_nCount; }
    std::vector<Received> Datagrams() const;

    // A well-formed SNMPv1 GetResponse to request.
    static ber::Bytes Response(const ber::Request& request, const std::vector<ber::VarBind>& binds,
                               std::int64_t errorStatus = 0, std::int64_t errorIndex = 0);
    // The request's own OIDs, each bound to the given value.
    static std::vector<ber::VarBind> Echo(const ber::Request& request, const std::vector<ber::Bytes>& values);

private:
    void Run();
    void Send(const Reply& reply, const void* to, unsigned toLength);

    std::string m_strAddress;
    Handler m_handler;
    int m_sock = -1;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nCount{0};
    mutable std::mutex m_mutex;
    std::vector<Received> m_received;
    std::thread m_thread;
};
