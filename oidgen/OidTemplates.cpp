#include "oidgen/OidTemplates.h"

#include <cstdio>

namespace {
void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& with)
{
    std::string::size_type pos = 0;
    while ((pos = text.find(placeholder, pos)) != std::string::npos) {
        text.replace(pos, placeholder.size(), with);
        pos += with.size();
    }
}

std::string Decimal(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    return buffer;
}
} // namespace

namespace oidtpl {

const char* EnterpriseNumber()
{
    return VELTRANE_ENTERPRISE_NUMBER;
}

const std::string& OemPrefix()
{
    static const std::string prefix = std::string(".1.3.6.1.4.1.") + VELTRANE_ENTERPRISE_NUMBER;
    return prefix;
}

SubTableTemplates SubTable(int family)
{
    const std::string base = "$[OEM].1.2.2.1.19." + Decimal(family);
    return {base + ".1.0", base + ".2.1.5.$[PORT]", base + ".2.1.2.$[PORT]", base + ".2.1.13.$[PORT]"};
}

} // namespace oidtpl

void ExpandOidTemplate(std::string& text, int port, int array)
{
    ReplaceAll(text, "$[OEM]", oidtpl::OemPrefix());
    if (port != -1)
        ReplaceAll(text, "$[PORT]", Decimal(port));
    if (array != -1)
        ReplaceAll(text, "$[ARRAY]", Decimal(array));
}

std::string ExpandedOid(const std::string& templ, int port, int array)
{
    std::string text = templ;
    ExpandOidTemplate(text, port, array);
    return text;
}
