// libFuzzer target for the datalog datagrams: the first 132 bytes are a status reply with any
// values; the rest is a stream of datalog replies, each a 2-byte length and its bytes. They go
// through the same steps as a download, and every bound must hold whatever the bytes say.
#include "download/DatalogWire.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> status(datalog_wire::status_reply_size, 0);
    std::memcpy(status.data(), data, std::min(size, status.size()));
    std::size_t at = std::min(size, status.size());
    const std::uint8_t port = status[1];

    judge_status_reply(status.data(), status.size(), port, true);
    status_block block;
    parse_status_reply(status.data(), status.size(), block);
    if (block.description[36] || block.system_name[36] || block.unit_of_measure[16])
        std::abort();
    if (check_status_values(block) != getdata_error::none || block.record_count == 0)
        return 0;

    const int count = block.record_count, width = block.width, capacity = block.capacity;
    std::vector<std::uint8_t> samples(std::size_t(count) * std::size_t(width));
    const int chunk = chunk_samples(width);
    const int first = first_ring_index(block.write_index, count, capacity);
    if (first < 0 || first >= capacity)
        std::abort();
    int received = 0;
    while (received < count && at + 2 <= size) {
        const int wanted = std::min(chunk, count - received);
        const int index = (first + received) % capacity;
        if (index < 0 || index >= capacity || std::size_t(wanted) * std::size_t(width) + 23 > 1169)
            std::abort();
        std::uint8_t request[32] = {};
        build_datalog_request(request, port, 0, std::int16_t(index), std::int16_t(wanted));
        const std::size_t len = std::min<std::size_t>(std::size_t(data[at] | (data[at + 1] << 8)) % 1501, size - at - 2);
        // Exactly len bytes, so the sanitizer sees a read one byte past them.
        std::vector<std::uint8_t> reply(data + at + 2, data + at + 2 + len);
        at += 2 + len;
        if (judge_datalog_reply(reply.data(), reply.size(), port, width, wanted, true) != reply_action::accept)
            continue;
        const int copied = copy_datalog_samples(reply.data(), reply.size(), width, wanted, samples.data(),
                                                samples.size(), received);
        if (copied < 1 || copied > wanted)
            std::abort();
        received += copied;
    }
    if (received > count)
        std::abort();
    for (int i = -1; i <= count; ++i)
        sample_value(samples.data(), samples.size(), width, i);
    return 0;
}
