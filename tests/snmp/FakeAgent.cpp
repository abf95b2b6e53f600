#include "FakeAgent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {
sockaddr_in Endpoint(const std::string& address, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

int BoundSocket(const std::string& address, int port)
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -1;
    const int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = Endpoint(address, port);
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}
} // namespace

FakeAgent::FakeAgent(const std::string& address, Handler handler, int port)
    : m_strAddress(address), m_handler(std::move(handler))
{
    m_sock = BoundSocket(address, port);
    if (m_sock >= 0)
        m_thread = std::thread([this] { Run(); });
}

FakeAgent::~FakeAgent()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_sock >= 0)
        ::close(m_sock);
}

std::vector<FakeAgent::Received> FakeAgent::Datagrams() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

ber::Bytes FakeAgent::Response(const ber::Request& request, const std::vector<ber::VarBind>& binds,
                               std::int64_t errorStatus, std::int64_t errorIndex)
{
    return ber::Message(0, request.community, 0xA2, request.requestId, errorStatus, errorIndex, binds);
}

std::vector<ber::VarBind> FakeAgent::Echo(const ber::Request& request, const std::vector<ber::Bytes>& values)
{
    std::vector<ber::VarBind> binds;
    for (std::size_t i = 0; i < request.oids.size(); ++i)
        binds.push_back({request.oids[i], i < values.size() ? values[i] : ber::Null()});
    return binds;
}

void FakeAgent::Run()
{
    while (!m_bStop) {
        pollfd pfd{m_sock, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        std::uint8_t buffer[65536];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(m_sock, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            continue;
        Received received;
        received.raw.assign(buffer, buffer + n);
        received.request = ber::ParseRequest(received.raw);
        received.index = m_nCount;
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(received);
        }
        ++m_nCount;
        for (const auto& reply : m_handler(received)) {
            if (reply.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
            Send(reply, &from, fromLength);
        }
    }
}

void FakeAgent::Send(const Reply& reply, const void* to, unsigned toLength)
{
    const auto* target = static_cast<const sockaddr*>(to);
    if (reply.fromAddress.empty()) {
        ::sendto(m_sock, reply.bytes.data(), reply.bytes.size(), 0, target, toLength);
        return;
    }
    const int other = BoundSocket(reply.fromAddress, reply.fromPort);
    if (other < 0)
        return;
    ::sendto(other, reply.bytes.data(), reply.bytes.size(), 0, target, toLength);
    ::close(other);
}
