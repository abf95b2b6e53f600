#pragma once
// The datalog client: one sensor channel's status and stored records from a unit, over the
// unit's private request/reply protocol on UDP port 811.
//
//   getdata client;                              // one per window; reused for every channel
//   client.set_message_handler(...);             // where its message boxes go (default: stderr)
//   if (client.fetch("10.0.0.5", password, port, channel) == 0) {
//       const status_block& s = client.status();  // sensor type, times, texts, zone ...
//       for (int i = 0; i < s.record_count; ++i) use(client.sample(i));
//   } else {
//       react to client.last_error();            // codes below
//   }
//
// Every operation returns 0 (or a length) on success and -1 on failure, with the reason in
// last_error(). One thread drives a client at a time; cancel() may be called from any thread.
#include "download/DatalogWire.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What getdata::fetch returns.
namespace getdata_fetch {
constexpr int done = 0;       // status() and the samples hold a complete download
constexpr int failed = -1;    // the reason is in last_error()
constexpr int no_socket = -2; // no socket could be made; the message has been shown, the program ends
} // namespace getdata_fetch

// ---- The client ----------------------------------------------------------------------------

class getdata {
public:
    // receiveTimeoutMs: the wait for each datagram; the program always uses 5000.
    explicit getdata(int receiveTimeoutMs = 5000);
    virtual ~getdata();
    getdata(const getdata&) = delete;
    getdata& operator=(const getdata&) = delete;

    // Test programs call this first: from then on fetch refuses every unit outside 127.0.0.0/8.
    static void restrict_to_loopback();

    // Where the client's messages go (the window shows them in an OK-only message box and
    // blocks the calling thread until it is closed). Without a handler they go to stderr.
    using message_handler = std::function<void(const std::string& text)>;
    void set_message_handler(message_handler handler);
    // Told, on the downloading thread, how many of the channel's records are in after each
    // chunk (a progress display).
    using progress_handler = std::function<void(int received, int count)>;
    void set_progress_handler(progress_handler handler) { m_progressHandler = std::move(handler); }

    void set_receive_timeout(int ms) { m_nReceiveTimeout = ms; }
    int receive_timeout() const { return m_nReceiveTimeout; }

    // Cuts the current wait short and keeps every later one from starting: the operation ends
    // with -1 and getdata_error::wait_abandoned, and no further request is sent. Any thread;
    // stays in force until clear_cancel().
    void cancel();
    void clear_cancel();
    bool cancelled() const { return m_bCancel.load(); }

    // One channel's download: status, then (when there are records) the records. 0 when
    // status() and the samples hold a complete download. The socket is open only inside.
    // address: dotted IPv4 text only, never looked up; other texts fail with socket_base +
    // EADDRNOTAVAIL and send nothing. When no socket can be made the handler gets "Open socket
    // on client error (%d)\nProgram halted !\n" and fetch returns -2 (last_error socket_base +
    // errno): the caller ends the program.
    int fetch(const std::string& address, const std::string& password, int port, int channel);

    // The two exchanges, for callers that drive them one by one (inside an open socket).
    bool set_unit_address(const std::string& address); // false (nothing changed) if refused
    int readstatus();
    int read_data();

    // Sample i (0 = oldest) of the last download as a signed value; the caller keeps i below
    // status().record_count.
    int sample(int i) const;
    int sample_count() const;

    const status_block& status() const { return m_status; }
    std::int32_t last_error() const { return m_nLastError; }
    const std::string& address_text() const { return m_strAddress; }
    std::uint8_t port_index() const { return m_nPort; }
    std::uint8_t channel() const { return m_nChannel; }
    // How many requests went out since the object was made (benchmarks count round trips).
    std::uint64_t requests_sent() const { return m_nRequestsSent; }

    // For callers that set the fields by hand instead of through fetch.
    void set_channel(int port, int channel);
    void set_password(const std::string& password);

protected:
    // The transport under the exchanges; fetch opens the socket and closes it again.
    int open_socket();
    void close_socket();
    int send_packet(const std::uint8_t* buffer, std::size_t length);
    int receive_packet(std::uint8_t* buffer, std::size_t size, int timeoutMs, sockaddr_in* from,
                       socklen_t* fromLength);
    // The system's sendto; tests replace it to see a short send repeated.
    virtual ssize_t sys_sendto(int fd, const void* buffer, std::size_t length, const sockaddr_in& to);

private:
    void message(const char* format, int code);
    void drop_queued_datagrams();
    bool from_unit(const sockaddr_in& from, socklen_t length) const;
    using judge_fn = std::function<reply_action(const std::uint8_t* data, std::size_t len, bool fromUnit)>;
    int exchange(const judge_fn& judge, bool keepSocketError);

    std::uint8_t m_receive[datalog_wire::receive_size] = {};
    std::uint8_t m_request[32] = {};
    status_block m_status;
    std::vector<std::uint8_t> m_samples;
    int m_nSampleWidth = 1;          // width the samples were read with
    std::size_t m_nReplyLength = 0;  // length of the reply the last exchange accepted
    std::string m_strAddress;
    in_addr_t m_unitAddress = 0;
    std::int32_t m_nLastError = 0;
    int m_nReceiveTimeout;
    int m_socket = -1;
    int m_cancelEvent = -1;
    std::atomic<bool> m_bCancel{false};
    std::uint8_t m_nPort = 0;
    std::uint8_t m_nChannel = 0;
    sockaddr_in m_unitSocketAddress{};
    std::uint64_t m_nRequestsSent = 0;
    message_handler m_messageHandler;
    progress_handler m_progressHandler;
};
