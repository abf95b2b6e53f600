#pragma once
// The checks a unit's reply passes before any of its values is used. Kept apart from the
// session so that they can be driven with arbitrary bindings (tests/fuzz/SnmpReplyFuzz.cpp).
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <vector>

// A successful GET response binds exactly the requested OIDs, in order. Anything else is not an
// answer to our request: taken, its values would land in the wrong columns of the data file.
// An error answer (error-status above 0) counts as an answer: its bindings are not used.
bool AnswersRequest(const netsnmp_pdu& response, const std::vector<std::vector<oid>>& names);
