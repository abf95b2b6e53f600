// Template expansion and the template catalogue: what the scan reads and what it puts into the
// OID list.
#include "oidgen/OidTemplates.h"

#include <gtest/gtest.h>

#include <climits>
#include <regex>
#include <string>
#include <utility>

namespace {

std::string Expanded(std::string text, int port, int array)
{
    ExpandOidTemplate(text, port, array);
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST(OidTemplates, OemPrefixIsTheEnterpriseSubtree)
{
    const std::string number = oidtpl::EnterpriseNumber();
    ASSERT_FALSE(number.empty());
    EXPECT_TRUE(std::regex_match(number, std::regex("[0-9]+"))) << number;
    EXPECT_EQ(oidtpl::OemPrefix(), ".1.3.6.1.4.1." + number); // no dot after the number
}

TEST(OidTemplates, ExpansionEdgeCases)
{
    const std::string& oem = oidtpl::OemPrefix();
    struct Row {
        std::string templ;
        int port;
        int array;
        std::string expected;
    };
    const Row rows[] = {
        // No index: only the prefix goes in.
        {oidtpl::kNumberingBase, -1, -1, oem + ".1.2.2.1.101.0"},
        {oidtpl::kTable16Status, 3, -1, oem + ".1.2.2.1.16.1.5.3"},
        {oidtpl::kTable16Status, 0, -1, oem + ".1.2.2.1.16.1.5.0"},
        {oidtpl::kTable16Status, 7, -1, oem + ".1.2.2.1.16.1.5.7"},
        {oidtpl::kArrayValue, 4, 2, oem + ".1.2.2.1.19.33.2.2.1.3.4"},
        {oidtpl::kArrayProbe, -1, 5, oem + ".1.2.2.1.19.33.5.1.0"},
        // -1 leaves the placeholder as it stands, and raises no error.
        {oidtpl::kTable17Status, -1, -1, oem + ".1.2.2.1.17.1.5.$[PORT]"},
        {oidtpl::kArrayStatus, 6, -1, oem + ".1.2.2.1.19.33.$[ARRAY].2.1.5.6"},
        {oidtpl::kArrayStatus, -1, 1, oem + ".1.2.2.1.19.33.1.2.1.5.$[PORT]"},
        // Every occurrence is replaced; placeholders are case-sensitive.
        {"$[OEM].$[PORT].$[PORT]", 12, -1, oem + ".12.12"},
        {"$[OEM]$[OEM]", -1, -1, oem + oem},
        {"$[oem].$[port].$[Array]", 1, 2, "$[oem].$[port].$[Array]"},
        {"$[PORT ].$PORT.[PORT]", 1, -1, "$[PORT ].$PORT.[PORT]"},
        // Only -1 means "no value"; other numbers are written as signed decimals.
        {"$[OEM].$[PORT].$[ARRAY]", -2, INT_MAX, oem + ".-2.2147483647"},
        {"$[OEM].$[PORT].$[ARRAY]", INT_MIN, 0, oem + ".-2147483648.0"},
        {"", 1, 1, ""},
        {"no placeholders", 1, 1, "no placeholders"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Expanded(row.templ, row.port, row.array), row.expected)
            << row.templ << " port " << row.port << " array " << row.array;
}

// The inserted text is not searched again: an index that happens to spell a placeholder's tail
// next to a dangling "$[" forms no new placeholder.
TEST(OidTemplates, InsertedTextIsNotSearchedAgain)
{
    EXPECT_EQ(Expanded("$[$[PORT]", 5, -1), "$[5");
    EXPECT_EQ(Expanded("$[PORT]$[PORT]", 1, -1), "11");
    EXPECT_EQ(Expanded("$[$[OEM]", -1, -1), "$[" + oidtpl::OemPrefix());
}

// ExpandedOid expands a copy: the template constant is untouched.
TEST(OidTemplates, ExpandedOidWorksOnACopy)
{
    const std::string templ = oidtpl::kTable17Value;
    EXPECT_EQ(oidtpl::kTable17Value, std::string("$[OEM].1.2.2.1.17.1.3.$[PORT]"));
    EXPECT_EQ(ExpandedOid(templ, 2), oidtpl::OemPrefix() + ".1.2.2.1.17.1.3.2");
    EXPECT_EQ(templ, "$[OEM].1.2.2.1.17.1.3.$[PORT]");
    EXPECT_EQ(ExpandedOid(oidtpl::kArrayProbe, -1, 3), oidtpl::OemPrefix() + ".1.2.2.1.19.33.3.1.0");
}

// The whole catalogue. Note the value column: 3 in the port tables and arrays, 13 in the
// sub-table families.
TEST(OidTemplates, Catalogue)
{
    const std::pair<const char*, const char*> fixed[] = {
        {oidtpl::kTable16Status, "$[OEM].1.2.2.1.16.1.5.$[PORT]"},
        {oidtpl::kTable17Status, "$[OEM].1.2.2.1.17.1.5.$[PORT]"},
        {oidtpl::kTable16Description, "$[OEM].1.2.2.1.16.1.1.$[PORT]"},
        {oidtpl::kTable17Description, "$[OEM].1.2.2.1.17.1.1.$[PORT]"},
        {oidtpl::kTable17Type, "$[OEM].1.2.2.1.18.1.9.$[PORT]"},
        {oidtpl::kTable16Value, "$[OEM].1.2.2.1.16.1.3.$[PORT]"},
        {oidtpl::kTable17Value, "$[OEM].1.2.2.1.17.1.3.$[PORT]"},
        {oidtpl::kNumberingBase, "$[OEM].1.2.2.1.101.0"},
        {oidtpl::kArrayProbe, "$[OEM].1.2.2.1.19.33.$[ARRAY].1.0"},
        {oidtpl::kArrayStatus, "$[OEM].1.2.2.1.19.33.$[ARRAY].2.1.5.$[PORT]"},
        {oidtpl::kArrayDescription, "$[OEM].1.2.2.1.19.33.$[ARRAY].2.1.2.$[PORT]"},
        {oidtpl::kArrayValue, "$[OEM].1.2.2.1.19.33.$[ARRAY].2.1.3.$[PORT]"},
    };
    for (const auto& [constant, text] : fixed)
        EXPECT_STREQ(constant, text);

    const std::vector<int> order(std::begin(oidtpl::kSubTableFamilies), std::end(oidtpl::kSubTableFamilies));
    EXPECT_EQ(order, (std::vector<int>{30, 26, 27, 28, 32}));
    for (int family : order) {
        const std::string f = "$[OEM].1.2.2.1.19." + std::to_string(family);
        const oidtpl::SubTableTemplates t = oidtpl::SubTable(family);
        EXPECT_EQ(t.count, f + ".1.0");
        EXPECT_EQ(t.status, f + ".2.1.5.$[PORT]");
        EXPECT_EQ(t.description, f + ".2.1.2.$[PORT]");
        EXPECT_EQ(t.value, f + ".2.1.13.$[PORT]");
    }
}

// Expanded with real indexes, every template is an absolute numeric OID under the prefix.
TEST(OidTemplates, EveryTemplateExpandsToANumericOid)
{
    std::vector<std::string> templates = {oidtpl::kTable16Status,      oidtpl::kTable17Status, oidtpl::kTable16Description,
                                          oidtpl::kTable17Description, oidtpl::kTable17Type,   oidtpl::kTable16Value,
                                          oidtpl::kTable17Value,       oidtpl::kNumberingBase, oidtpl::kArrayProbe,
                                          oidtpl::kArrayStatus,        oidtpl::kArrayDescription, oidtpl::kArrayValue};
    for (int family : oidtpl::kSubTableFamilies) {
        const auto t = oidtpl::SubTable(family);
        templates.insert(templates.end(), {t.count, t.status, t.description, t.value});
    }
    const std::regex numeric(R"((\.[0-9]+)+)");
    for (const auto& templ : templates) {
        for (int index : {0, 1, 7, 16}) {
            const std::string oid = ExpandedOid(templ, index, index);
            EXPECT_TRUE(oid.rfind(oidtpl::OemPrefix() + ".", 0) == 0) << oid;
            EXPECT_TRUE(std::regex_match(oid, numeric)) << oid;
            EXPECT_FALSE(EndsWith(oid, "."));
        }
    }
}
