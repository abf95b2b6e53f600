#include "common/SnmpBer.h"

#include <cstdlib>

namespace ber {
namespace {

Bytes Length(std::size_t n)
{
    if (n < 0x80)
        return {static_cast<std::uint8_t>(n)};
    Bytes digits;
    for (; n; n >>= 8)
        digits.insert(digits.begin(), static_cast<std::uint8_t>(n & 0xFF));
    digits.insert(digits.begin(), static_cast<std::uint8_t>(0x80 | digits.size()));
    return digits;
}

// A reader over one TLV level; every failure leaves ok false.
struct Reader {
    const Bytes& data;
    std::size_t pos;
    std::size_t end;
    bool ok = true;

    bool Next(std::uint8_t& tag, std::size_t& start, std::size_t& length)
    {
        if (!ok || pos + 2 > end)
            return ok = false;
        tag = data[pos++];
        std::size_t n = data[pos++];
        if (n & 0x80) {
            const std::size_t count = n & 0x7F;
            if (count == 0 || count > 4 || pos + count > end)
                return ok = false;
            n = 0;
            for (std::size_t i = 0; i < count; ++i)
                n = (n << 8) | data[pos++];
        }
        if (n > end - pos)
            return ok = false;
        start = pos;
        length = n;
        pos += n;
        return true;
    }

    std::int64_t Int(std::size_t start, std::size_t length) const
    {
        std::int64_t v = length && (data[start] & 0x80) ? -1 : 0;
        for (std::size_t i = 0; i < length; ++i)
            v = static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << 8 | data[start + i]);
        return v;
    }
};

} // namespace

Bytes Tlv(std::uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    const Bytes length = Length(content.size());
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Integer(std::int64_t value, std::uint8_t tag)
{
    Bytes content;
    for (int i = 7; i >= 0; --i)
        content.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (i * 8)));
    // Minimal two's complement: drop leading bytes that only repeat the sign.
    while (content.size() > 1
           && ((content[0] == 0x00 && !(content[1] & 0x80)) || (content[0] == 0xFF && (content[1] & 0x80))))
        content.erase(content.begin());
    return Tlv(tag, content);
}

Bytes Unsigned(std::uint64_t value, std::uint8_t tag)
{
    Bytes content;
    for (int i = 7; i >= 0; --i)
        content.push_back(static_cast<std::uint8_t>(value >> (i * 8)));
    while (content.size() > 1 && content[0] == 0x00 && !(content[1] & 0x80))
        content.erase(content.begin());
    if (content[0] & 0x80)
        content.insert(content.begin(), 0x00);
    return Tlv(tag, content);
}

Bytes OctetString(const std::string& bytes, std::uint8_t tag)
{
    return Tlv(tag, Bytes(bytes.begin(), bytes.end()));
}

Bytes ObjectId(const Oid& oid)
{
    Bytes content;
    if (oid.size() >= 2) {
        auto put = [&content](std::uint32_t v) {
            Bytes groups{static_cast<std::uint8_t>(v & 0x7F)};
            for (v >>= 7; v; v >>= 7)
                groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
            content.insert(content.end(), groups.begin(), groups.end());
        };
        put(oid[0] * 40 + oid[1]);
        for (std::size_t i = 2; i < oid.size(); ++i)
            put(oid[i]);
    }
    return Tlv(0x06, content);
}

Bytes Null(std::uint8_t tag)
{
    return Tlv(tag, {});
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Message(std::int64_t version, const std::string& community, std::uint8_t pduTag, std::int64_t requestId,
              std::int64_t errorStatus, std::int64_t errorIndex, const std::vector<VarBind>& binds)
{
    Bytes list;
    for (const auto& b : binds) {
        const Bytes bind = Tlv(0x30, Concat({ObjectId(b.name), b.value}));
        list.insert(list.end(), bind.begin(), bind.end());
    }
    const Bytes pdu =
        Tlv(pduTag, Concat({Integer(requestId), Integer(errorStatus), Integer(errorIndex), Tlv(0x30, list)}));
    return Tlv(0x30, Concat({Integer(version), OctetString(community), pdu}));
}

std::optional<Request> ParseRequest(const Bytes& datagram)
{
    Request request;
    std::uint8_t tag = 0;
    std::size_t start = 0;
    std::size_t length = 0;
    Reader top{datagram, 0, datagram.size()};
    if (!top.Next(tag, start, length) || tag != 0x30)
        return std::nullopt;
    Reader message{datagram, start, start + length};
    if (!message.Next(tag, start, length) || tag != 0x02)
        return std::nullopt;
    request.version = message.Int(start, length);
    if (!message.Next(tag, start, length) || tag != 0x04)
        return std::nullopt;
    request.community.assign(datagram.begin() + start, datagram.begin() + start + length);
    if (!message.Next(tag, start, length))
        return std::nullopt;
    request.pduTag = tag;
    Reader pdu{datagram, start, start + length};
    if (!pdu.Next(tag, start, length) || tag != 0x02)
        return std::nullopt;
    request.requestId = pdu.Int(start, length);
    for (int skip = 0; skip < 2; ++skip)
        if (!pdu.Next(tag, start, length))
            return std::nullopt;
    if (!pdu.Next(tag, start, length) || tag != 0x30)
        return std::nullopt;
    Reader list{datagram, start, start + length};
    while (list.pos < list.end) {
        if (!list.Next(tag, start, length) || tag != 0x30)
            return std::nullopt;
        Reader bind{datagram, start, start + length};
        if (!bind.Next(tag, start, length) || tag != 0x06 || length == 0)
            return std::nullopt;
        Oid oid;
        std::uint64_t v = 0;
        for (std::size_t i = start; i < start + length; ++i) {
            v = (v << 7) | (datagram[i] & 0x7F);
            if (!(datagram[i] & 0x80)) {
                if (oid.empty()) {
                    const std::uint32_t first = v < 80 ? static_cast<std::uint32_t>(v / 40) : 2;
                    oid.push_back(first);
                    oid.push_back(static_cast<std::uint32_t>(v - first * 40));
                } else {
                    oid.push_back(static_cast<std::uint32_t>(v));
                }
                v = 0;
            }
        }
        request.oids.push_back(oid);
    }
    return request;
}

Oid ParseDottedOid(const std::string& text)
{
    Oid oid;
    const char* p = text.c_str();
    while (*p) {
        if (*p == '.') {
            ++p;
            continue;
        }
        char* end = nullptr;
        oid.push_back(static_cast<std::uint32_t>(std::strtoul(p, &end, 10)));
        p = end;
    }
    return oid;
}

} // namespace ber
