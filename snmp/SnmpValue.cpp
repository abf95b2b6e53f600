#include "snmp/SnmpValue.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace snmpvalue {

namespace {

template <typename Number>
void AppendNumber(std::string& out, Number value)
{
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

void AppendFormat(std::string& out, const char* format, auto... args)
{
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    if (n > 0)
        out.append(buffer, static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

} // namespace

std::string FormatValue(const variable_list& binding)
{
    std::string text;
    const std::size_t length = binding.val_len;
    switch (binding.type) {
    case ASN_INTEGER:
        AppendNumber(text, static_cast<std::int32_t>(*binding.val.integer));
        break;
    case ASN_TIMETICKS:
        // Signed on purpose: values of 2^31 and above show as negative numbers.
        AppendNumber(text, static_cast<std::int32_t>(static_cast<std::uint32_t>(*binding.val.integer)));
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
        AppendNumber(text, static_cast<std::uint32_t>(*binding.val.integer));
        break;
    case ASN_IPADDRESS:
        // A short address is malformed; inventing the missing bytes would put a wrong address
        // into the data file.
        if (length >= 4)
            AppendFormat(text, "%d.%d.%d.%d", binding.val.string[0], binding.val.string[1], binding.val.string[2],
                         binding.val.string[3]);
        break;
    case ASN_OBJECT_ID:
        for (std::size_t i = 0; i < length / sizeof(oid); ++i) {
            text += '.';
            AppendNumber(text, static_cast<std::uint32_t>(binding.val.objid[i]));
        }
        break;
    case ASN_OPAQUE:
        for (std::size_t i = 0; i < length; ++i)
            AppendFormat(text, "%02X ", binding.val.string[i]);
        break;
    case ASN_OCTET_STR:
        // Only the first byte decides between text and hex.
        if (length == 0)
            break;
        if (binding.val.string[0] >= 0x10) {
            const auto* bytes = reinterpret_cast<const char*>(binding.val.string);
            text.assign(bytes, strnlen(bytes, length));
        } else {
            for (std::size_t i = 0; i < length; ++i)
                AppendFormat(text, "%02x", binding.val.string[i]);
        }
        break;
    case ASN_COUNTER64:
        if (binding.val.counter64) {
            const std::uint64_t value =
                (static_cast<std::uint64_t>(binding.val.counter64->high & 0xFFFFFFFFu) << 32)
                | (binding.val.counter64->low & 0xFFFFFFFFu);
            AppendNumber(text, value);
        }
        break;
    default:
        // NULL, noSuchObject, noSuchInstance, endOfMibView and any other type: no value.
        break;
    }
    return text;
}

} // namespace snmpvalue
