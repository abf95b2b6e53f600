#pragma once
// OID texts as the session sends them: numeric only, since MIBs are never loaded.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <string>
#include <vector>

namespace snmpoid {

// A numeric OID text: ".1.3.6.1..." is absolute; a text without the leading dot is relative to
// MIB-2 (1.3.6.1.2.1). False for anything else, and for an OID that BER cannot encode.
bool ConvertOid(const std::string& text, std::vector<oid>& subids);
// True for a text that ConvertOid takes.
bool IsValidOid(const std::string& text);

} // namespace snmpoid
