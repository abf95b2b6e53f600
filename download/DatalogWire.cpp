// The datalog datagrams as plain functions over bytes: building requests, judging and reading
// replies, the ring arithmetic. Everything here is bounded by the buffers it is given, whatever
// the bytes say.
#include "download/DatalogWire.h"

#include <algorithm>
#include <cstring>

namespace {

std::int16_t be16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((p[0] << 8) | p[1]));
}

std::int32_t be32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>((std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16)
                                     | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]));
}

std::int16_t le16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void put_le16(std::uint8_t* p, std::int16_t v)
{
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<std::uint8_t>(u & 0xFF);
    p[1] = static_cast<std::uint8_t>(u >> 8);
}

// A text field of the reply; it ends at its first zero byte or at the field's end.
template <std::size_t N>
void copy_text(char (&to)[N], const std::uint8_t* from)
{
    std::memcpy(to, from, N - 1);
    to[N - 1] = '\0';
}

bool known_width(int width)
{
    return width == 1 || width == 2 || width == 4;
}

} // namespace

void build_status_request(std::uint8_t* request24, std::uint8_t port, std::uint8_t channel, const char password[16])
{
    request24[0] = datalog_wire::cmd_status;
    request24[1] = port;
    request24[2] = channel;
    std::memset(request24 + 3, 0, 4); // no start index or count in a status request
    std::memcpy(request24 + 7, password, 16);
    request24[23] = 0;
}

void build_datalog_request(std::uint8_t* request24, std::uint8_t port, std::uint8_t channel, std::int16_t first,
                           std::int16_t count)
{
    request24[0] = datalog_wire::cmd_datalog;
    request24[1] = port;
    request24[2] = channel;
    put_le16(request24 + 3, first);
    put_le16(request24 + 5, count);
}

reply_action judge_status_reply(const std::uint8_t* data, std::size_t len, std::uint8_t port, bool fromUnit)
{
    // Like every reply, the old firmware's counts only from the unit's address and port: any
    // host could send 124 bytes and end the download.
    if (!fromUnit)
        return reply_action::ignore;
    if (len == datalog_wire::old_status_reply_size)
        return reply_action::old_firmware;
    if (len != datalog_wire::status_reply_size || data[1] != port)
        return reply_action::ignore;
    if (data[0] == datalog_wire::reply_status)
        return reply_action::accept;
    return (data[0] & 0x80) ? reply_action::unit_error : reply_action::ignore;
}

reply_action judge_datalog_reply(const std::uint8_t* data, std::size_t len, std::uint8_t port, int width, int wanted,
                                 bool fromUnit)
{
    if (!known_width(width) || wanted < 1)
        return reply_action::ignore;
    const std::size_t expected = std::size_t(wanted) * std::size_t(width) + datalog_wire::datalog_header_size;
    if (len != expected || data[1] != port || !fromUnit)
        return reply_action::ignore;
    if (data[0] == datalog_wire::reply_datalog)
        return le16(data + 5) > 0 ? reply_action::accept : reply_action::ignore;
    return (data[0] & 0x80) ? reply_action::unit_error : reply_action::ignore;
}

void parse_status_reply(const std::uint8_t* data, std::size_t len, status_block& block)
{
    if (len < datalog_wire::status_reply_size)
        return;
    block.port = data[1];
    block.sensor_type = data[2];
    block.unit_time = be32(data + 3);
    block.newest_time = be32(data + 7);
    block.write_index = be16(data + 11);
    block.record_count = be16(data + 13);
    block.width = data[15];
    block.interval = data[16];
    block.capacity = be16(data + 17);
    block.instant_high = le16(data + 19);
    block.instant_low = le16(data + 21);
    block.average_low = le16(data + 23);
    block.average_high = le16(data + 25);
    copy_text(block.description, data + 43);
    copy_text(block.system_name, data + 79);
    copy_text(block.unit_of_measure, data + 115);
    block.zone_index = data[131];
}

std::int32_t check_status_values(const status_block& block)
{
    const int count = block.record_count;
    if (count == 0)
        return getdata_error::none;
    const int capacity = block.capacity;
    // Any write index works: the ring arithmetic reduces it into the ring.
    if (!known_width(block.width) || capacity < 1 || count < 0 || count > capacity)
        return getdata_error::bad_status;
    return getdata_error::none;
}

int chunk_samples(int width)
{
    return known_width(width) ? datalog_wire::chunk_bytes / width : datalog_wire::chunk_bytes;
}

int first_ring_index(int writeIndex, int count, int capacity)
{
    // W - C, wrapped past the ring's start; a write index outside [0, R) (a unit that counts
    // W = R for "at the end") is reduced into the ring first, so the result lies in [0, R)
    // and every later index (first + received) mod R follows from it.
    if (capacity < 1)
        return 0;
    const int first = (writeIndex - count) % capacity;
    return first < 0 ? first + capacity : first;
}

int copy_datalog_samples(const std::uint8_t* data, std::size_t len, int width, int wanted, std::uint8_t* samples,
                         std::size_t sampleBytes, int at)
{
    if (!known_width(width) || wanted < 1 || at < 0 || len < datalog_wire::datalog_header_size)
        return 0;
    const std::size_t w = std::size_t(width);
    std::size_t count = std::size_t(std::max<int>(0, le16(data + 5)));
    count = std::min(count, std::size_t(wanted));
    count = std::min(count, (len - datalog_wire::datalog_header_size) / w);
    const std::size_t room = sampleBytes / w > std::size_t(at) ? sampleBytes / w - std::size_t(at) : 0;
    count = std::min(count, room);
    if (count > 0)
        std::memcpy(samples + std::size_t(at) * w, data + datalog_wire::datalog_header_size, count * w);
    return static_cast<int>(count);
}

int sample_value(const std::uint8_t* samples, std::size_t sampleBytes, int width, int i)
{
    const std::size_t w = (width == 2 || width == 4) ? std::size_t(width) : 1;
    if (i < 0 || std::size_t(i) >= sampleBytes / w)
        return 0;
    const std::uint8_t* p = samples + std::size_t(i) * w;
    if (w == 2)
        return le16(p);
    if (w == 4)
        return static_cast<std::int32_t>(std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8)
                                         | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24));
    return static_cast<std::int8_t>(p[0]);
}
