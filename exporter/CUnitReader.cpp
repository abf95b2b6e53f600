#include "exporter/CUnitReader.h"

#include "snmp/CSnmpSession.h"

#include <memory>

std::vector<CUnitReader::Result> CUnitReader::Read(const std::vector<Request>& requests)
{
    std::vector<Result> results(requests.size());
    std::vector<std::unique_ptr<CSnmpSession>> sessions(requests.size());
    std::vector<CSnmpSession*> sent;
    sent.reserve(requests.size());

    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request& request = requests[i];
        Result& result = results[i];
        auto session = std::make_unique<CSnmpSession>();
        if (!session->Open(request.strAddress, request.strCommunity, request.nTimeout, request.nRetries,
                           result.strError))
            continue;
        if (!session->StartGet(request.oids, result.strError, result.nErrorCode))
            continue;
        sent.push_back(session.get());
        sessions[i] = std::move(session);
    }

    CSnmpSession::WaitAll(sent);

    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (!sessions[i])
            continue;
        Result& result = results[i];
        result.bAnswered = sessions[i]->FinishGet(result.values, result.strError, result.nErrorCode);
        result.dSeconds = sessions[i]->RequestSeconds();
        sessions[i]->Close();
    }
    return results;
}
