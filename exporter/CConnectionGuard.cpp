#include "exporter/CConnectionGuard.h"

#include <netinet/in.h>

#include <cstring>

CConnectionGuard::CConnectionGuard(unsigned connections, unsigned perAddress, Clock::duration header,
                                   Clock::duration keptAlive)
    : m_nConnections(connections), m_nPerAddress(perAddress), m_header(header), m_keptAlive(keptAlive)
{
}

std::string CConnectionGuard::AddressKey(const sockaddr* address)
{
    if (!address)
        return {};
    if (address->sa_family == AF_INET) {
        const auto* four = reinterpret_cast<const sockaddr_in*>(address);
        return std::string(reinterpret_cast<const char*>(&four->sin_addr), sizeof four->sin_addr);
    }
    if (address->sa_family == AF_INET6) {
        const auto* six = reinterpret_cast<const sockaddr_in6*>(address);
        const auto* bytes = reinterpret_cast<const char*>(&six->sin6_addr);
        // A dual-stack socket (one from systemd may be) shows IPv4 clients as ::ffff:a.b.c.d.
        if (IN6_IS_ADDR_V4MAPPED(&six->sin6_addr))
            return std::string(bytes + 12, 4);
        return std::string(bytes, sizeof six->sin6_addr);
    }
    return {};
}

bool CConnectionGuard::Admit(const sockaddr* address)
{
    if (m_entries.size() >= m_nConnections) {
        ++m_nRefusedAll;
        return false;
    }
    const auto it = m_perAddress.find(AddressKey(address));
    if (it != m_perAddress.end() && it->second >= m_nPerAddress) {
        ++m_nRefusedAddress;
        return false;
    }
    return true;
}

void* CConnectionGuard::Started(int fd, const sockaddr* address, Clock::time_point now)
{
    m_entries.push_front(Entry{fd, AddressKey(address), std::nullopt, {}});
    Entry& entry = m_entries.front();
    entry.self = m_entries.begin();
    ++m_perAddress[entry.strAddress];
    ++m_nOpen;
    SetDeadline(entry, now + m_header);
    return &entry;
}

void CConnectionGuard::SetDeadline(Entry& entry, std::optional<Clock::time_point> when)
{
    if (entry.deadline)
        m_deadlines.erase(*entry.deadline);
    entry.deadline.reset();
    if (when)
        entry.deadline = m_deadlines.emplace(*when, &entry);
}

void CConnectionGuard::HeadersIn(void* token)
{
    if (token)
        SetDeadline(*static_cast<Entry*>(token), std::nullopt);
}

void CConnectionGuard::Answered(void* token, Clock::time_point now)
{
    if (token)
        SetDeadline(*static_cast<Entry*>(token), now + m_keptAlive);
}

void CConnectionGuard::Closed(void* token)
{
    if (!token)
        return;
    auto& entry = *static_cast<Entry*>(token);
    SetDeadline(entry, std::nullopt);
    const auto it = m_perAddress.find(entry.strAddress);
    if (it != m_perAddress.end() && --it->second == 0)
        m_perAddress.erase(it);
    --m_nOpen;
    m_entries.erase(entry.self);
}

std::optional<CConnectionGuard::Clock::time_point> CConnectionGuard::Sweep(Clock::time_point now)
{
    while (!m_deadlines.empty() && m_deadlines.begin()->first <= now) {
        Entry& entry = *m_deadlines.begin()->second;
        SetDeadline(entry, std::nullopt);
        // libmicrohttpd sees the end of the stream on its next round and closes the connection;
        // the descriptor is still its own (Closed comes first), so no other socket is hit.
        ::shutdown(entry.fd, SHUT_RDWR);
        ++m_nClosedLate;
    }
    if (m_deadlines.empty())
        return std::nullopt;
    return m_deadlines.begin()->first;
}
