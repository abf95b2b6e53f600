#include "snmp/SnmpOid.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace snmpoid {

namespace {

// BER packs the first two sub-identifiers into one: the first is 0, 1 or 2, and under 0 and 1
// the second is below 40.
bool Encodable(const std::vector<oid>& subids)
{
    if (subids.size() < 2 || subids[0] > 2)
        return false;
    if (subids[0] < 2)
        return subids[1] < 40;
    return subids[1] <= std::numeric_limits<std::uint32_t>::max() - 80;
}

} // namespace

bool ConvertOid(const std::string& text, std::vector<oid>& subids)
{
    static constexpr oid kMib2[] = {1, 3, 6, 1, 2, 1};
    // Parsed into a fixed buffer and copied once: a collection cycle converts every OID anew.
    oid parsed[MAX_OID_LEN];
    std::size_t count = 0;
    std::string::size_type pos = 0;
    if (!text.empty() && text[0] == '.') {
        pos = 1;
    } else {
        std::copy(std::begin(kMib2), std::end(kMib2), parsed);
        count = std::size(kMib2);
    }
    if (pos >= text.size())
        return false;
    while (true) {
        std::uint64_t value = 0;
        const std::string::size_type start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            if (value > std::numeric_limits<std::uint32_t>::max())
                return false;
            ++pos;
        }
        if (pos == start || count == MAX_OID_LEN)
            return false; // empty sub-identifier, a foreign character or too many
        parsed[count++] = static_cast<oid>(value);
        if (pos == text.size()) {
            subids.assign(parsed, parsed + count);
            return Encodable(subids);
        }
        if (text[pos] != '.')
            return false;
        ++pos; // a trailing dot leaves an empty sub-identifier and fails above
    }
}

bool IsValidOid(const std::string& text)
{
    std::vector<oid> subids;
    return ConvertOid(text, subids);
}

} // namespace snmpoid
