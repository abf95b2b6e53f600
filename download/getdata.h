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
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// last_error() codes. Negative codes -128 to -1 are the unit's own error bytes.
namespace getdata_error {
constexpr std::int32_t none = 0;
constexpr std::int32_t timeout = 100;           // the wait for a datagram timed out
constexpr std::int32_t no_status_block = 101;   // no status block (never happens here: it is a member)
constexpr std::int32_t wait_abandoned = 102;    // the wait was cut short by cancel()
constexpr std::int32_t no_reply = 103;          // no acceptable reply after five requests
constexpr std::int32_t old_firmware = 105;      // the unit answered the status request with 124 bytes
constexpr std::int32_t no_records = 106;        // the unit holds no records for the channel
// The status reply's ring values make no sense (width not 1, 2 or 4; capacity below 1; count
// negative or above the capacity). The records are not read. Any write index is read: it is
// taken modulo the capacity.
constexpr std::int32_t bad_status = 107;
// Socket errors are socket_base + errno, so that no errno (ENETDOWN is 100, EISCONN 106 on
// Linux) can read as one of the codes above.
constexpr std::int32_t socket_base = 10000;

// Error bytes the unit sends (byte 0 of a reply, as a signed value).
constexpr std::int32_t unit_no_datalog = -2;
constexpr std::int32_t unit_port_offline = -3;
// Two more that the download passes over without a word: it goes on with the next channel.
constexpr std::int32_t unit_skip_channel_4 = -4;
constexpr std::int32_t unit_skip_channel_5 = -5;
constexpr std::int32_t unit_wrong_password = -6;
} // namespace getdata_error

// What getdata::fetch returns.
namespace getdata_fetch {
constexpr int done = 0;       // status() and the samples hold a complete download
constexpr int failed = -1;    // the reason is in last_error()
constexpr int no_socket = -2; // no socket could be made; the message has been shown, the program ends
} // namespace getdata_fetch

// The unit's answer to a status request, fields in host order. The reply's texts end in a zero
// byte here even when the unit filled its field to the end.
struct status_block {
    std::int8_t result = 0;          // byte 0 of the last reply that passed the checks
    std::uint8_t port = 0;           // port index, 0 to 7
    std::uint8_t sensor_type = 0;    // index into the report's sensor type names
    std::int32_t unit_time = 0;      // the unit's clock, seconds since 1970-01-01 00:00 UTC
    std::int32_t newest_time = 0;    // time of the newest record, same scale
    std::int16_t write_index = 0;    // W: ring slot the next record takes
    std::int16_t record_count = 0;   // C: records stored
    std::uint8_t width = 0;          // w: bytes per sample, 1, 2 or 4
    std::uint8_t interval = 0;       // logging interval in minutes
    std::int16_t capacity = 0;       // R: ring capacity in records
    // Summary values in the sensor's own scale (tenths for sensor types 2 and 5).
    std::int16_t instant_high = 0;
    std::int16_t instant_low = 0;
    std::int16_t average_low = 0;
    std::int16_t average_high = 0;
    char password[16] = {};          // sent with every request; not zero-terminated when full
    char description[37] = {};       // 36 bytes on the wire, plus the terminating zero
    char system_name[37] = {};
    char unit_of_measure[17] = {};   // 16 bytes on the wire
    std::uint8_t zone_index = 0;     // row of the unit's time-zone table
};

// ---- The datagrams as plain functions over bytes -------------------------------------------

namespace datalog_wire {
constexpr std::uint16_t unit_port = 811;
constexpr std::size_t request_size = 24;
constexpr std::size_t status_reply_size = 132;
constexpr std::size_t old_status_reply_size = 124;
constexpr std::size_t datalog_header_size = 23;
constexpr std::size_t receive_size = 1500;
constexpr int chunk_bytes = 1146;              // sample bytes per datalog reply, at most
constexpr std::uint8_t cmd_status = 2;
constexpr std::uint8_t cmd_datalog = 3;
constexpr std::uint8_t reply_datalog = 1;
constexpr std::uint8_t reply_status = 4;
} // namespace datalog_wire

// What an exchange does with one datagram it received.
enum class reply_action {
    ignore,        // not an answer to this request: keep receiving
    accept,        // the answer: use it
    unit_error,    // the unit's error byte (byte 0 as a signed value): the exchange ends
    old_firmware,  // status exchange only: the unit's 124-byte reply (old firmware)
};

// Status request: command, port, channel, zero bytes where a datalog request has its start
// and count, the password, a zero byte.
void build_status_request(std::uint8_t* request24, std::uint8_t port, std::uint8_t channel,
                          const char password[16]);
// Datalog request: command, port, channel, first ring index and count (both little-endian);
// the password field (bytes 7-22) and byte 23 are left as the status request wrote them.
void build_datalog_request(std::uint8_t* request24, std::uint8_t port, std::uint8_t channel,
                           std::int16_t first, std::int16_t count);

// Judges a datagram received during the status exchange. fromUnit: it came from the unit's
// address and source port 811.
reply_action judge_status_reply(const std::uint8_t* data, std::size_t len, std::uint8_t port, bool fromUnit);
// Judges a datagram received during the datalog exchange for a chunk of `wanted` samples.
// A reply whose sample count is 0 or negative is ignored.
reply_action judge_datalog_reply(const std::uint8_t* data, std::size_t len, std::uint8_t port,
                                 int width, int wanted, bool fromUnit);

// Copies an accepted 132-byte status reply into block (every field but result and password).
void parse_status_reply(const std::uint8_t* data, std::size_t len, status_block& block);
// getdata_error::none when the ring values allow a download, else getdata_error::bad_status.
// A block with record_count 0 passes whatever its other values.
std::int32_t check_status_values(const status_block& block);

// Ring arithmetic for a block that passed check_status_values.
int chunk_samples(int width);                              // 1146 / width
int first_ring_index(int writeIndex, int count, int capacity); // S = (W - C) mod R, in [0, R)

// Copies the samples of an accepted datalog reply into samples (capacity sampleBytes) from
// sample position `at`: no more than `wanted` and never past the buffer. Returns how many.
int copy_datalog_samples(const std::uint8_t* data, std::size_t len, int width, int wanted,
                         std::uint8_t* samples, std::size_t sampleBytes, int at);
// Sample i of a buffer of little-endian samples as a signed value: width 2 as 16 bits, width
// 4 as 32 bits, any other width as 8 bits. 0 when i lies outside the buffer.
int sample_value(const std::uint8_t* samples, std::size_t sampleBytes, int width, int i);

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

    // The transport and the two exchanges, for callers that drive them one by one.
    bool set_unit_address(const std::string& address); // false (nothing changed) if refused
    int open_socket();
    void close_socket();
    int send_packet(const std::uint8_t* buffer, std::size_t length);
    int receive_packet(std::uint8_t* buffer, std::size_t size, int timeoutMs, sockaddr_in* from,
                       socklen_t* fromLength);
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
