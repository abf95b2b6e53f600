// libFuzzer target for what a unit's reply goes through: AnswersRequest on a response of
// arbitrary bindings against an arbitrary request, and FormatValue on every binding, whatever
// its type and length. No read outside a value, and texts only as long as the rules allow.
#include "snmp/CSnmpSession.h"
#include "snmp/SnmpReply.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Reads the input front to back; past its end everything is zero.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
    std::size_t Take(std::size_t wanted, const std::uint8_t** out)
    {
        const std::size_t n = wanted < size - pos ? wanted : size - pos;
        *out = data + pos;
        pos += n;
        return n;
    }
    bool Done() const { return pos >= size; }
};

std::vector<oid> Name(Input& in)
{
    std::vector<oid> name(in.Byte() % (MAX_OID_LEN + 1));
    for (auto& sub : name)
        sub = in.Byte() < 0xF0 ? in.Byte() % 4 : 0xFFFFFFFFu; // few values: names repeat
    return name;
}

// The longest text FormatValue may give for a value of this type and length.
std::size_t Longest(std::uint8_t type, std::size_t length)
{
    switch (type) {
    case ASN_OCTET_STR:
        return 2 * length;
    case ASN_OPAQUE:
        return 3 * length;
    case ASN_OBJECT_ID:
        return 11 * (length / sizeof(oid));
    default:
        return 20; // a number or an address
    }
}

constexpr std::uint8_t kTypes[] = {ASN_INTEGER,   ASN_OCTET_STR, ASN_OBJECT_ID, ASN_IPADDRESS, ASN_COUNTER,
                                   ASN_GAUGE,     ASN_TIMETICKS, ASN_OPAQUE,    ASN_COUNTER64, ASN_NULL,
                                   SNMP_NOSUCHOBJECT, SNMP_NOSUCHINSTANCE, SNMP_ENDOFMIBVIEW, 0x47};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = (CSnmpSession::InitLibrary(), true); // net-snmp's log stays quiet
    (void)ready;
    Input in{data, size};
    netsnmp_pdu* response = snmp_pdu_create(SNMP_MSG_RESPONSE);
    response->errstat = static_cast<std::int8_t>(in.Byte());
    std::vector<std::vector<oid>> bound;
    const int count = in.Byte() % 8;
    for (int i = 0; i < count; ++i) {
        const std::vector<oid> name = Name(in);
        const std::uint8_t type = kTypes[in.Byte() % sizeof kTypes];
        const std::uint8_t* value = nullptr;
        const std::size_t length = in.Take(in.Byte(), &value);
        // A copy of exactly the value's size: a read even one byte past it is caught.
        auto* copy = static_cast<std::uint8_t*>(std::malloc(length ? length : 1));
        if (length)
            std::memcpy(copy, value, length);
        netsnmp_variable_list* var = snmp_pdu_add_variable(response, name.data(), name.size(), type, copy, length);
        std::free(copy);
        if (!var)
            continue;
        bound.push_back(name);
        const std::string text = CSnmpSession::FormatValue(*var);
        if (text.size() > Longest(var->type, var->val_len))
            std::abort();
    }

    // Asked for exactly what came back, or for a list changed by the input.
    std::vector<std::vector<oid>> asked = bound;
    const std::uint8_t change = in.Byte() % 4;
    if (change == 1 && !asked.empty())
        asked.pop_back();
    else if (change == 2)
        asked.push_back(Name(in));
    else if (change == 3 && !asked.empty())
        asked.front() = Name(in);
    const bool same = asked == bound;
    if (AnswersRequest(*response, asked) != (response->errstat > 0 || same))
        std::abort();
    snmp_free_pdu(response);
    return 0;
}
