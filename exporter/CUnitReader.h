#pragma once
#include <string>
#include <vector>

// Reads many units at once from the calling thread: one SNMP GET per unit, all sent before any
// answer is awaited, each bounded by its unit's own time-out and resends, so a dead unit costs
// its own time-out and never the others'. Sessions and sockets live only inside Read.
class CUnitReader {
public:
    struct Request {
        std::string strAddress;
        std::string strCommunity;
        int nTimeout = 2;
        int nRetries = 2;
        std::vector<std::string> oids;
    };
    struct Result {
        bool bAnswered = false;           // values holds one text per OID, in order
        std::vector<std::string> values;
        int nErrorCode = 0;               // as the session reports it: 40 time-out, 6 no access, ...
        std::string strError;             // the session's text; never contains the community
        double dSeconds = 0;              // from the send to the answer or to giving up
    };

    // One result per request, in the same order.
    static std::vector<Result> Read(const std::vector<Request>& requests);
};
