#include "download/getdata.h"
#include "download/DatalogWire.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool>& LoopbackOnly()
{
    static std::atomic<bool> only{false};
    return only;
}

// A short send is repeated; a socket that never sends the whole datagram is a failure, not a loop.
constexpr int kMaxSendRepeats = 64;
// Datagrams dropped before a new request, at most (the socket buffer holds far fewer).
constexpr int kMaxDropped = 4096;
// A request keeps receiving while datagrams that do not answer it keep coming, but for no
// longer than this many receive waits in all, so a peer that dribbles stray datagrams cannot
// hold a download for ever.
constexpr int kRequestWaits = 4;
constexpr int kTries = 5;

} // namespace

getdata::getdata(int receiveTimeoutMs) : m_nReceiveTimeout(receiveTimeoutMs)
{
    m_cancelEvent = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

getdata::~getdata()
{
    close_socket();
    if (m_cancelEvent >= 0)
        ::close(m_cancelEvent);
}

void getdata::restrict_to_loopback()
{
    LoopbackOnly() = true;
}

void getdata::set_message_handler(message_handler handler)
{
    m_messageHandler = std::move(handler);
}

void getdata::message(const char* format, int code)
{
    char text[128];
    std::snprintf(text, sizeof text, format, code);
    if (m_messageHandler)
        m_messageHandler(text);
    else
        std::fputs(text, stderr);
}

void getdata::cancel()
{
    m_bCancel = true;
    if (m_cancelEvent >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_cancelEvent, &one, sizeof one);
    }
}

void getdata::clear_cancel()
{
    m_bCancel = false;
    if (m_cancelEvent >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_cancelEvent, &value, sizeof value);
    }
}

bool getdata::set_unit_address(const std::string& address)
{
    in_addr parsed{};
    // inet_pton takes only the dotted quad: no names, no short forms, no 255.255.255.255 for
    // a text that is not an address.
    if (address.find('\0') != std::string::npos || inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return false;
    if (LoopbackOnly().load() && (ntohl(parsed.s_addr) >> 24) != 127)
        return false;
    m_unitAddress = parsed.s_addr;
    m_unitSocketAddress = {};
    m_unitSocketAddress.sin_family = AF_INET;
    m_unitSocketAddress.sin_port = htons(datalog_wire::unit_port);
    m_unitSocketAddress.sin_addr.s_addr = m_unitAddress;
    return true;
}

void getdata::set_channel(int port, int channel)
{
    m_nPort = static_cast<std::uint8_t>(port);
    m_nChannel = static_cast<std::uint8_t>(channel);
}

void getdata::set_password(const std::string& password)
{
    std::memset(m_status.password, 0, sizeof m_status.password);
    std::memcpy(m_status.password, password.data(), std::min(password.size(), sizeof m_status.password));
}

int getdata::fetch(const std::string& address, const std::string& password, int port, int channel)
{
    m_strAddress = address;
    set_channel(port, channel);
    set_password(password);
    if (!set_unit_address(address)) {
        m_nLastError = getdata_error::socket_base + EADDRNOTAVAIL;
        return -1;
    }
    if (open_socket() != 0) {
        message("Open socket on client error (%d)\nProgram halted !\n", m_nLastError);
        return getdata_fetch::no_socket;
    }
    if (readstatus() != 0) {
        close_socket();
        return -1;
    }
    if (m_status.record_count == 0) {
        message("Sensor on port %d has no data in datalogger\n", m_nPort + 1);
        m_nLastError = getdata_error::no_records;
        close_socket();
        return -1;
    }
    const int result = read_data();
    close_socket();
    return result;
}

int getdata::open_socket()
{
    close_socket();
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        m_nLastError = getdata_error::socket_base + errno;
        return -1;
    }
    m_unitSocketAddress.sin_family = AF_INET;
    m_unitSocketAddress.sin_port = htons(datalog_wire::unit_port);
    m_unitSocketAddress.sin_addr.s_addr = m_unitAddress;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(0);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        m_nLastError = getdata_error::socket_base + errno;
        close_socket();
        return -1;
    }
    return 0;
}

void getdata::close_socket()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

ssize_t getdata::sys_sendto(int fd, const void* buffer, std::size_t length, const sockaddr_in& to)
{
    return ::sendto(fd, buffer, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int getdata::send_packet(const std::uint8_t* buffer, std::size_t length)
{
    ++m_nRequestsSent;
    for (int attempt = 0;; ++attempt) {
        const ssize_t sent = sys_sendto(m_socket, buffer, length, m_unitSocketAddress);
        if (sent == static_cast<ssize_t>(length))
            return static_cast<int>(length);
        if (sent < 0 || attempt >= kMaxSendRepeats) {
            m_nLastError = getdata_error::socket_base + (sent < 0 ? errno : EIO);
            message("Sent a packet error(%d) !\n", m_nLastError);
            return -1;
        }
    }
}

int getdata::receive_packet(std::uint8_t* buffer, std::size_t size, int timeoutMs, sockaddr_in* from,
                            socklen_t* fromLength)
{
    auto read = [&] {
        std::memset(buffer, 0, size);
        *fromLength = sizeof(sockaddr_in);
        return ::recvfrom(m_socket, buffer, size, 0, reinterpret_cast<sockaddr*>(from), fromLength);
    };
    if (m_bCancel) {
        m_nLastError = getdata_error::wait_abandoned;
        return -1;
    }
    ssize_t n = read();
    if (n >= 0)
        return static_cast<int>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        m_nLastError = getdata_error::socket_base + errno;
        return -1;
    }
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_cancelEvent, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        const int r = ::poll(fds, m_cancelEvent >= 0 ? 2 : 1, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            m_nLastError = getdata_error::timeout;
            return -1;
        }
        if (m_bCancel) {
            m_nLastError = getdata_error::wait_abandoned;
            return -1;
        }
        break;
    }
    // Readable (or the wait itself failed): one more read, its result as it is.
    n = read();
    return n >= 0 ? static_cast<int>(n) : -1;
}

bool getdata::from_unit(const sockaddr_in& from, socklen_t length) const
{
    return length >= static_cast<socklen_t>(sizeof(sockaddr_in)) && from.sin_family == AF_INET
        && from.sin_addr.s_addr == m_unitAddress && from.sin_port == htons(datalog_wire::unit_port);
}

void getdata::drop_queued_datagrams()
{
    for (int i = 0; i < kMaxDropped; ++i) {
        if (::recv(m_socket, m_receive, sizeof m_receive, MSG_DONTWAIT) < 0)
            break;
    }
}

// One request, sent up to five times. 0: an accepted reply is in m_receive (m_nReplyLength).
// -1: the exchange ended; last_error says why.
int getdata::exchange(const judge_fn& judge, bool keepSocketError)
{
    drop_queued_datagrams();
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (m_bCancel) {
            m_nLastError = getdata_error::wait_abandoned;
            return -1;
        }
        send_packet(m_request, datalog_wire::request_size);
        m_nLastError = getdata_error::none;
        const auto deadline = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(std::int64_t(kRequestWaits) * std::max(m_nReceiveTimeout, 0));
        for (bool first = true;; first = false) {
            const std::int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - std::chrono::steady_clock::now())
                                          .count();
            if (!first && left <= 0) {
                m_nLastError = getdata_error::timeout;
                break;
            }
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const int wait = static_cast<int>(std::clamp<std::int64_t>(left, 0, std::max(m_nReceiveTimeout, 0)));
            const int n = receive_packet(m_receive, sizeof m_receive, wait, &from, &fromLength);
            if (n < 0)
                break;
            const std::size_t len = static_cast<std::size_t>(n);
            switch (judge(m_receive, len, from_unit(from, fromLength))) {
            case reply_action::ignore:
                continue;
            case reply_action::accept:
                m_nReplyLength = len;
                return 0;
            case reply_action::unit_error:
                m_nLastError = static_cast<std::int8_t>(m_receive[0]);
                return -1;
            case reply_action::old_firmware:
                m_nLastError = getdata_error::old_firmware;
                return -1;
            }
        }
    }
    if (m_bCancel)
        m_nLastError = getdata_error::wait_abandoned;
    else if (!keepSocketError || m_nLastError == getdata_error::none || m_nLastError == getdata_error::timeout)
        m_nLastError = getdata_error::no_reply;
    return -1;
}

int getdata::readstatus()
{
    build_status_request(m_request, m_nPort, m_nChannel, m_status.password);
    const int result = exchange(
        [this](const std::uint8_t* data, std::size_t len, bool fromUnit) {
            if (len == datalog_wire::status_reply_size && data[1] == m_nPort && fromUnit)
                m_status.result = static_cast<std::int8_t>(data[0]);
            return judge_status_reply(data, len, m_nPort, fromUnit);
        },
        true);
    if (result != 0)
        return -1;
    parse_status_reply(m_receive, m_nReplyLength, m_status);
    return 0;
}

int getdata::read_data()
{
    if (check_status_values(m_status) != getdata_error::none) {
        m_nLastError = getdata_error::bad_status;
        return -1;
    }
    const int count = m_status.record_count;
    const int width = m_status.width;
    const int capacity = m_status.capacity;
    m_samples.resize(std::size_t(count < 0 ? 0 : count) * std::size_t(width));
    m_nSampleWidth = width;
    const int chunk = chunk_samples(width);
    const int first = first_ring_index(m_status.write_index, count, capacity);
    int received = 0;
    while (received < count) {
        const int wanted = std::min(chunk, count - received);
        build_datalog_request(m_request, m_nPort, m_nChannel, static_cast<std::int16_t>((first + received) % capacity),
                              static_cast<std::int16_t>(wanted));
        const int result = exchange(
            [this, width, wanted](const std::uint8_t* data, std::size_t len, bool fromUnit) {
                return judge_datalog_reply(data, len, m_nPort, width, wanted, fromUnit);
            },
            false);
        if (result != 0)
            return -1;
        received += copy_datalog_samples(m_receive, m_nReplyLength, width, wanted, m_samples.data(), m_samples.size(),
                                         received);
        if (m_progressHandler)
            m_progressHandler(received, count);
    }
    return 0;
}

int getdata::sample(int i) const
{
    return sample_value(m_samples.data(), m_samples.size(), m_nSampleWidth, i);
}

int getdata::sample_count() const
{
    return m_nSampleWidth > 0 ? static_cast<int>(m_samples.size() / std::size_t(m_nSampleWidth)) : 0;
}
