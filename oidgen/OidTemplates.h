#pragma once
#include <string>

// The unit's private MIB as the program reads it: template texts in which "$[OEM]" stands for
// the vendor prefix, "$[PORT]" for a port or entry index and "$[ARRAY]" for an array index.
namespace oidtpl {

// ".1.3.6.1.4.1." followed by the enterprise number this program was built for.
const std::string& OemPrefix();
// The enterprise number alone (a build setting), for the About box.
const char* EnterpriseNumber();

// Port tables.
inline constexpr const char* kTable16Status = "$[OEM].1.2.2.1.16.1.5.$[PORT]";
inline constexpr const char* kTable17Status = "$[OEM].1.2.2.1.17.1.5.$[PORT]";
inline constexpr const char* kTable16Description = "$[OEM].1.2.2.1.16.1.1.$[PORT]";
inline constexpr const char* kTable17Description = "$[OEM].1.2.2.1.17.1.1.$[PORT]";
inline constexpr const char* kTable17Type = "$[OEM].1.2.2.1.18.1.9.$[PORT]";
inline constexpr const char* kTable16Value = "$[OEM].1.2.2.1.16.1.3.$[PORT]";
inline constexpr const char* kTable17Value = "$[OEM].1.2.2.1.17.1.3.$[PORT]";
inline constexpr const char* kNumberingBase = "$[OEM].1.2.2.1.101.0";

// Sub-table families, walked in this order.
inline constexpr int kSubTableFamilies[] = {30, 26, 27, 28, 32};

struct SubTableTemplates {
    std::string count;
    std::string status;
    std::string description;
    std::string value;
};
// The four templates of one family (30, 26, 27, 28 or 32).
SubTableTemplates SubTable(int family);

// Sensor arrays (family 33).
inline constexpr const char* kArrayProbe = "$[OEM].1.2.2.1.19.33.$[ARRAY].1.0";
inline constexpr const char* kArrayStatus = "$[OEM].1.2.2.1.19.33.$[ARRAY].2.1.5.$[PORT]";
inline constexpr const char* kArrayDescription = "$[OEM].1.2.2.1.19.33.$[ARRAY].2.1.2.$[PORT]";
inline constexpr const char* kArrayValue = "$[OEM].1.2.2.1.19.33.$[ARRAY].2.1.3.$[PORT]";

} // namespace oidtpl

// Expands a template in place: "$[OEM]" always, "$[PORT]" unless port is -1, "$[ARRAY]" unless
// array is -1. Placeholders are case-sensitive; inserted text is not searched again.
void ExpandOidTemplate(std::string& text, int port, int array);

// Convenience: a fresh copy of a template, expanded.
std::string ExpandedOid(const std::string& templ, int port = -1, int array = -1);
