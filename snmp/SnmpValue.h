#pragma once
// A returned binding's value as the text that goes into the data file and the dialogs.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <string>

namespace snmpvalue {

// By the value's ASN type (CSnmpSession::FormatValue says how).
std::string FormatValue(const variable_list& binding);

} // namespace snmpvalue
