#pragma once
// The datalog protocol's datagrams as plain functions over bytes: building the requests,
// judging and reading the replies, the ring arithmetic and the samples. No sockets; the client
// getdata (download/getdata.h) sends and receives them.
#include <cstddef>
#include <cstdint>

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
