// Value texts by ASN type, from the bytes of a binding as they arrive on the wire: each row is
// decoded by net-snmp exactly as a reply would be, then formatted.
#include "common/SnmpBer.h"
#include "snmp/CSnmpSession.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

ber::Bytes Hex(const std::string& text)
{
    ber::Bytes out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return out;
}

// The text of one value, given as a complete TLV, after a round through net-snmp's decoder.
std::string Format(const ber::Bytes& valueTlv)
{
    CSnmpSession::InitLibrary();
    const ber::Bytes binding = ber::Tlv(0x30, ber::Concat({ber::ObjectId({1, 3, 6, 1, 4, 1, 9, 0}), valueTlv}));
    ber::Bytes pdu = ber::Tlv(0xA2, ber::Concat({ber::Integer(1), ber::Integer(0), ber::Integer(0), ber::Tlv(0x30, binding)}));
    netsnmp_pdu* parsed = snmp_pdu_create(SNMP_MSG_RESPONSE);
    size_t length = pdu.size();
    const int rc = snmp_pdu_parse(parsed, pdu.data(), &length);
    std::string text = "<undecodable>";
    if (rc == 0 && parsed->variables)
        text = CSnmpSession::FormatValue(*parsed->variables);
    snmp_free_pdu(parsed);
    return text;
}

struct Row {
    const char* what;
    const char* wire; // the value's TLV in hex
    std::string text;
};

const Row kRows[] = {
    {"INTEGER zero", "02 01 00", "0"},
    {"INTEGER negative", "02 01 85", "-123"},
    {"INTEGER largest", "02 04 7F FF FF FF", "2147483647"},
    {"INTEGER smallest", "02 04 80 00 00 00", "-2147483648"},
    {"TimeTicks 2^32-1 is signed", "43 05 00 FF FF FF FF", "-1"},
    {"TimeTicks 2^31 is signed", "43 05 00 80 00 00 00", "-2147483648"},
    {"TimeTicks 2^31-1", "43 04 7F FF FF FF", "2147483647"},
    {"TimeTicks zero", "43 01 00", "0"},
    {"Counter 2^32-1 is unsigned", "41 05 00 FF FF FF FF", "4294967295"},
    {"Counter zero", "41 01 00", "0"},
    {"Gauge 2^32-1 is unsigned", "42 05 00 FF FF FF FF", "4294967295"},
    {"Gauge", "42 01 2A", "42"},
    {"IpAddress", "40 04 C0 A8 00 01", "192.168.0.1"},
    {"IpAddress high bytes", "40 04 FF FE 80 00", "255.254.128.0"},
    {"OBJECT IDENTIFIER has a leading dot", "06 03 2B 06 01", ".1.3.6.1"},
    {"OBJECT IDENTIFIER largest sub-identifier", "06 09 2B 06 01 04 8F FF FF FF 7F", ".1.3.6.1.4.4294967295"},
    {"Opaque upper-case hex with trailing blank", "44 02 01 FF", "01 FF "},
    {"Opaque leading zero byte", "44 03 00 0A B0", "00 0A B0 "},
    {"Opaque empty", "44 00", ""},
    {"OCTET STRING first byte below 16 is hex", "04 02 0F 41", "0f41"},
    {"OCTET STRING first byte 16 is text", "04 02 10 41", "\x10" "A"},
    {"OCTET STRING text", "04 04 54 65 6D 70", "Temp"},
    {"OCTET STRING text ends at a zero byte", "04 03 41 00 42", "A"},
    {"OCTET STRING empty", "04 00", ""},
    {"OCTET STRING zero first byte is hex", "04 03 00 FF 10", "00ff10"},
    {"OCTET STRING later control bytes stay text", "04 03 41 01 42", "A\x01" "B"},
    {"OCTET STRING 8-bit bytes kept as they are", "04 02 C3 A9", "\xC3\xA9"},
    {"OCTET STRING only a zero byte", "04 01 00", "00"},
    {"Counter64 unsigned", "46 09 00 FF FF FF FF FF FF FF FF", "18446744073709551615"},
    {"Counter64 above 32 bits", "46 05 01 00 00 00 00", "4294967296"},
    {"NULL has no text", "05 00", ""},
    {"noSuchObject has no text", "80 00", ""},
    {"noSuchInstance has no text", "81 00", ""},
    {"endOfMibView has no text", "82 00", ""},
};

} // namespace

TEST(FormatValue, EveryTypeFromWireBytes)
{
    for (const auto& row : kRows)
        EXPECT_EQ(Format(Hex(row.wire)), row.text) << row.what << " [" << row.wire << "]";
}

// Values longer than 255 characters are kept whole: a cut value would be a wrong value in the
// data file.
TEST(FormatValue, LongValuesAreKeptWhole)
{
    const std::string text(300, 'x');
    EXPECT_EQ(Format(ber::OctetString(text)), text);

    const std::string hexSource(200, '\x01');
    const std::string hex = Format(ber::OctetString(hexSource));
    ASSERT_EQ(hex.size(), 400u);
    EXPECT_EQ(hex.substr(0, 6), "010101");

    const std::string opaque = Format(ber::OctetString(std::string(100, '\xAB'), 0x44));
    ASSERT_EQ(opaque.size(), 300u);
    EXPECT_EQ(opaque.substr(297), "AB ");

    ber::Oid longOid = {1, 3};
    std::string expected = ".1.3";
    for (int i = 0; i < 100; ++i) {
        longOid.push_back(4294967295u);
        expected += ".4294967295";
    }
    EXPECT_EQ(Format(ber::ObjectId(longOid)), expected);
    EXPECT_GT(expected.size(), 1000u);
}
