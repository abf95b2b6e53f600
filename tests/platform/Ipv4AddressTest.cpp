// The one reading of a unit's address that the window, veltrane-cli and the exporter share.
#include "platform/Ipv4Address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Ipv4Address, FourDecimalFieldsInTheirCanonicalSpelling)
{
    struct Case {
        std::string text;
        const char* canonical; // nullptr: not an address
    };
    const Case cases[] = {
        {"192.0.2.20", "192.0.2.20"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        // Leading zeros are decimal, as the address control reads them (never octal).
        {"192.168.001.010", "192.168.1.10"},
        {"127.0.077.006", "127.0.77.6"},
        {"010.0.0.5", "10.0.0.5"},
        {"000.000.000.000", "0.0.0.0"},
        {"008.009.0.1", "8.9.0.1"},
        // Blanks around the text, as a settings file may hold it.
        {" 10.0.0.5", "10.0.0.5"},
        {"\t10.0.0.5 \n", "10.0.0.5"},
        // Not addresses.
        {"", nullptr},
        {"   ", nullptr},
        {"10.0.0", nullptr},
        {"10.1", nullptr},
        {"10", nullptr},
        {"10.0.0.5.6", nullptr},
        {"10.0.0.", nullptr},
        {".10.0.0", nullptr},
        {"10..0.5", nullptr},
        {"256.0.0.1", nullptr},
        {"0010.0.0.1", nullptr},
        {"1.2.3.4444", nullptr},
        {"999.1.1.1", nullptr},
        {"0x7f.0.0.1", nullptr},
        {"+1.2.3.4", nullptr},
        {"-1.2.3.4", nullptr},
        {"10 .0.0.5", nullptr},
        {"10.0.0.5x", nullptr},
        {"unit.example", nullptr},
        {"localhost", nullptr},
        {std::string("10.0.0.5\0", 9), nullptr},
        {std::string("10.0\0.0.5", 9), nullptr},
        {"１０.0.0.5", nullptr}, // full-width digits
    };
    for (const Case& c : cases) {
        const auto canonical = platform::CanonicalIPv4Address(c.text);
        if (c.canonical) {
            ASSERT_TRUE(canonical.has_value()) << "\"" << c.text << "\"";
            EXPECT_EQ(*canonical, c.canonical) << "\"" << c.text << "\"";
        } else {
            EXPECT_FALSE(canonical.has_value()) << "\"" << c.text << "\" read as " << canonical.value_or("");
        }
    }
}

} // namespace
