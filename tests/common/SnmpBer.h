#pragma once
// Just enough BER to build SNMPv1 replies by hand (including broken ones) and to read the
// request id and OIDs out of a request. Test code only.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace ber {

using Bytes = std::vector<std::uint8_t>;
using Oid = std::vector<std::uint32_t>;

Bytes Tlv(std::uint8_t tag, const Bytes& content);
Bytes Integer(std::int64_t value, std::uint8_t tag = 0x02);
Bytes Unsigned(std::uint64_t value, std::uint8_t tag); // Counter, Gauge, TimeTicks, Counter64
Bytes OctetString(const std::string& bytes, std::uint8_t tag = 0x04);
Bytes ObjectId(const Oid& oid);
Bytes Null(std::uint8_t tag = 0x05);
Bytes Concat(std::initializer_list<Bytes> parts);

struct VarBind {
    Oid name;
    Bytes value; // a whole TLV
};

// A complete SNMPv1 message: version, community, a PDU of the given tag.
Bytes Message(std::int64_t version, const std::string& community, std::uint8_t pduTag, std::int64_t requestId,
              std::int64_t errorStatus, std::int64_t errorIndex, const std::vector<VarBind>& binds);

struct Request {
    std::int64_t version = -1;
    std::string community;
    std::uint8_t pduTag = 0;
    std::int64_t requestId = 0;
    std::vector<Oid> oids;
};
// Parses a GET request; nullopt when it is not one we understand.
std::optional<Request> ParseRequest(const Bytes& datagram);

Oid ParseDottedOid(const std::string& text);

} // namespace ber
