#include "snmp/CSnmpSession.h"
#include "snmp/SnmpOid.h"
#include "snmp/SnmpReply.h"
#include "snmp/SnmpValue.h"

#include <arpa/inet.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr long kMaxTimeoutSeconds = 3600;
// The longest single wait for the sockets: how late an abandoned read notices.
constexpr long kWaitSliceMicroseconds = 250000;
static_assert(CSnmpSession::kAbandonedCode == SNMPERR_ABORT);

// net-snmp's session open walks process-wide lists (transports, session list, request-id
// seeds) without locking in non-reentrant builds such as Debian's.
std::mutex& LibraryMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Lets the kernel drop datagrams from any address but the agent's: net-snmp matches replies by
// request id only, so without this a reply from another host would be taken as the agent's.
void RestrictToPeer(void* session)
{
    netsnmp_transport* transport = snmp_sess_transport(session);
    if (!transport || transport->sock < 0 || !transport->data
        || transport->data_length < static_cast<int>(sizeof(netsnmp_indexed_addr_pair)))
        return;
    const auto* pair = static_cast<const netsnmp_indexed_addr_pair*>(transport->data);
    const sockaddr* remote = &pair->remote_addr.sa;
    socklen_t length = 0;
    if (remote->sa_family == AF_INET)
        length = sizeof(sockaddr_in);
    else if (remote->sa_family == AF_INET6)
        length = sizeof(sockaddr_in6);
    if (length != 0)
        ::connect(transport->sock, remote, length);
}

} // namespace

// The answer to one request, filled in by net-snmp's callback.
struct CSnmpSession::PendingGet {
    std::vector<std::vector<oid>> names; // what was asked for, in order
    bool waiting = true;
    int status = STAT_ERROR;
    // The answer, taken while net-snmp's callback holds the response (it frees it afterwards):
    // the unit's error-status and index, or the values as text.
    long errorStatus = 0;
    long errorIndex = 0;
    std::vector<std::string> values;
    std::chrono::steady_clock::time_point sent;
    std::chrono::steady_clock::time_point done;

    void Finish(int finalStatus)
    {
        status = finalStatus;
        waiting = false;
        done = std::chrono::steady_clock::now();
    }
};

namespace {

int OnRequestDone(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic)
{
    auto* pending = static_cast<CSnmpSession::PendingGet*>(magic);
    if (!pending->waiting)
        return 1;
    switch (operation) {
    case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        // Declining keeps the request pending: net-snmp goes on waiting and resending.
        if (!pdu || !AnswersRequest(*pdu, pending->names))
            return 0;
        pending->errorStatus = pdu->errstat;
        pending->errorIndex = pdu->errindex;
        if (pdu->errstat <= 0) {
            pending->values.reserve(pending->names.size());
            for (const netsnmp_variable_list* var = pdu->variables; var; var = var->next_variable)
                pending->values.push_back(CSnmpSession::FormatValue(*var));
        }
        pending->Finish(STAT_SUCCESS);
        break;
    case NETSNMP_CALLBACK_OP_TIMED_OUT:
        pending->Finish(STAT_TIMEOUT);
        break;
    default:
        // Resend notices and failed resends: net-snmp keeps the request and ends it later with
        // a response or a time-out, so the wait goes on.
        break;
    }
    return 1;
}

} // namespace

bool AnswersRequest(const netsnmp_pdu& response, const std::vector<std::vector<oid>>& names)
{
    if (response.errstat > 0)
        return true;
    const netsnmp_variable_list* var = response.variables;
    for (const auto& name : names) {
        if (!var || snmp_oid_compare(var->name, var->name_length, name.data(), name.size()) != 0)
            return false;
        var = var->next_variable;
    }
    return var == nullptr;
}

CSnmpSession::CSnmpSession() = default;

// The owners close before they destroy; closing here as well only matters for an owner that
// forgot, which would otherwise leak a socket per collection cycle.
CSnmpSession::~CSnmpSession()
{
    Close();
}

void CSnmpSession::InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // A log handler that discards everything: without any enabled handler net-snmp falls
        // back to stderr.
        netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
        // No snmp.conf, no persistent state files, no MIB directories (so no MIB is parsed,
        // whatever MIBS says), no SIGALRM.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES, 1);
        netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIBDIRS, "");
        std::lock_guard lock(LibraryMutex());
        init_snmp("veltrane");
    });
}

namespace {
std::atomic<bool>& LoopbackOnly()
{
    static std::atomic<bool> loopbackOnly{false};
    return loopbackOnly;
}
} // namespace

void CSnmpSession::RestrictToLoopback()
{
    LoopbackOnly() = true;
}

bool CSnmpSession::Open(const std::string& agentAddress, const std::string& community, int timeout, int retries,
                        std::string& statusText)
{
    InitLibrary();
    Close(); // a second Open must not leak the first session

    // Units are addressed by dotted IPv4 address only. Anything else would reach net-snmp's
    // name resolution and send a DNS query before the first SNMP packet.
    in_addr parsed{};
    if (inet_pton(AF_INET, agentAddress.c_str(), &parsed) != 1
        || (LoopbackOnly().load() && (ntohl(parsed.s_addr) >> 24) != 127)) {
        statusText = "Session could not be opened successfully";
        return false;
    }

    netsnmp_session settings;
    std::string peer = "udp:" + agentAddress + ":161";
    std::string communityBytes = community;
    {
        std::lock_guard lock(LibraryMutex());
        snmp_sess_init(&settings);
        settings.version = SNMP_VERSION_1;
        settings.peername = peer.data();
        settings.community = reinterpret_cast<u_char*>(communityBytes.data());
        settings.community_len = communityBytes.size();
        // Seconds, at least one: callers pass 2 or 4, which as milliseconds would time out
        // against any real unit.
        const long seconds = timeout < 1 ? 1 : (timeout > kMaxTimeoutSeconds ? kMaxTimeoutSeconds : timeout);
        settings.timeout = seconds * 1000000L;
        settings.retries = retries < 0 ? 0 : retries;
        m_hSession = snmp_sess_open(&settings);
        if (m_hSession)
            RestrictToPeer(m_hSession);
    }
    statusText = m_hSession ? "Session opened successfully" : "Session could not be opened successfully";
    return m_hSession != nullptr;
}

bool CSnmpSession::Get(const std::vector<std::string>& oids, std::vector<std::string>& values, std::string& errorText,
                       int& errorCode)
{
    values.clear();
    if (!StartGet(oids, errorText, errorCode))
        return false;
    WaitAll({this});
    return FinishGet(values, errorText, errorCode);
}

bool CSnmpSession::StartGet(const std::vector<std::string>& oids, std::string& errorText, int& errorCode)
{
    errorText.clear();
    errorCode = 0;
    // net-snmp may still call back into an earlier request: let it end before its state goes.
    if (Waiting())
        WaitAll({this});
    m_pPending.reset();

    if (Abandoned())
        return FailAbandoned(errorText, errorCode);
    if (!m_hSession) {
        errorText = "Error: Session not open";
        return false;
    }
    if (oids.empty()) {
        errorText = "Error: Empty OID list";
        return false;
    }

    // Convert every OID before anything is sent: one bad entry fails the whole read.
    auto pending = std::make_unique<PendingGet>();
    pending->names.resize(oids.size());
    for (std::size_t i = 0; i < oids.size(); ++i) {
        if (!snmpoid::ConvertOid(oids[i], pending->names[i])) {
            errorText = "Error: Invalid OID : " + oids[i];
            return false;
        }
    }

    netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
    if (!request) {
        errorText = "Error: Error allocating OID";
        return false;
    }
    for (const auto& name : pending->names) {
        if (!snmp_add_null_var(request, name.data(), name.size())) {
            snmp_free_pdu(request);
            errorText = "Error: Error allocating OID";
            return false;
        }
    }

    m_pPending = std::move(pending);
    m_pPending->sent = std::chrono::steady_clock::now();
    // net-snmp's callback ends the wait: it fires on the response, or on the time-out after the
    // last resend. A request that cannot be sent ends at once, reported by FinishGet.
    if (!snmp_sess_async_send(m_hSession, request, OnRequestDone, m_pPending.get())) {
        snmp_free_pdu(request);
        m_pPending->Finish(STAT_ERROR);
    }
    return true;
}

bool CSnmpSession::Waiting() const
{
    return m_pPending && m_pPending->waiting;
}

void CSnmpSession::StopWaiting()
{
    if (Waiting())
        m_pPending->Finish(m_pPending->status);
}

void CSnmpSession::WaitAll(const std::vector<CSnmpSession*>& sessions, long sliceMicroseconds)
{
    // Thousands of units are read at once: each round looks only at the sessions still waiting,
    // reads only the sockets that have something, and lets net-snmp resend or time out only
    // when a wait ended without an answer or its shortest time-out has come.
    std::vector<CSnmpSession*> waiting(sessions.begin(), sessions.end());
    using Clock = std::chrono::steady_clock;
    // When net-snmp's time-outs must next be looked at: the earliest end of a wait since the
    // last look (each wait ends at the earliest time-out of any session, or sooner).
    Clock::time_point lookAt = Clock::time_point::max();
    while (true) {
        netsnmp_large_fd_set fds;
        netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
        int numfds = 0;
        timeval wait{0, std::clamp(sliceMicroseconds, 1000L, kWaitSliceMicroseconds)};
        const auto stillWaiting = [&](CSnmpSession* session) {
            if (!session->Waiting())
                return false;
            if (session->Abandoned()) {
                session->StopWaiting(); // FinishGet closes the session
                return false;
            }
            int block = 0;
            if (session->m_hSession)
                snmp_sess_select_info2_flags(session->m_hSession, &numfds, &fds, &wait, &block,
                                             NETSNMP_SELECT_NOALARMS);
            // net-snmp holds no request any more, yet gave no final word: nothing will come.
            if (block || !session->m_hSession) {
                session->StopWaiting();
                return false;
            }
            return true;
        };
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(), [&](CSnmpSession* s) { return !stillWaiting(s); }),
                      waiting.end());
        if (waiting.empty()) {
            netsnmp_large_fd_set_cleanup(&fds);
            return;
        }
        lookAt = std::min(lookAt, Clock::now() + std::chrono::seconds(wait.tv_sec) + std::chrono::microseconds(wait.tv_usec));
        const int count = netsnmp_large_fd_set_select(numfds, &fds, nullptr, nullptr, &wait);
        const bool timeoutsCome = count <= 0 || Clock::now() >= lookAt;
        for (CSnmpSession* session : waiting) {
            if (count > 0) {
                const netsnmp_transport* transport = snmp_sess_transport(session->m_hSession);
                if (!transport || transport->sock < 0 || NETSNMP_LARGE_FD_ISSET(transport->sock, &fds))
                    snmp_sess_read2(session->m_hSession, &fds);
            }
            // Resends and time-outs of requests whose time has come; nothing for the others.
            if (timeoutsCome && session->Waiting())
                snmp_sess_timeout(session->m_hSession);
        }
        if (timeoutsCome)
            lookAt = Clock::time_point::max();
        netsnmp_large_fd_set_cleanup(&fds);
    }
}

bool CSnmpSession::FinishGet(std::vector<std::string>& values, std::string& errorText, int& errorCode)
{
    values.clear();
    errorText.clear();
    errorCode = 0;
    if (!m_pPending) {
        errorText = m_hSession ? "Error: No request sent" : "Error: Session not open";
        return false;
    }
    if (Waiting())
        WaitAll({this});
    if (Abandoned())
        return FailAbandoned(errorText, errorCode);
    PendingGet& pending = *m_pPending;

    if (pending.status == STAT_TIMEOUT) {
        errorCode = kTimeoutErrorCode;
        errorText = "The request timed-out.";
        return false;
    }
    if (pending.status != STAT_SUCCESS) {
        // net-snmp's own (negative) error number, which never collides with 40 or an
        // error-status from a unit.
        int snmpErrno = 0;
        if (m_hSession) {
            int systemErrno = 0;
            char* text = nullptr;
            snmp_sess_error(m_hSession, &systemErrno, &snmpErrno, &text);
            std::free(text);
        }
        errorCode = snmpErrno < 0 ? snmpErrno : SNMPERR_GENERR;
        errorText = "Error in SnmpMgrRequest";
        return false;
    }

    if (pending.errorStatus > 0) {
        errorCode = static_cast<int>(pending.errorStatus);
        if (pending.errorStatus == kNoSuchName) {
            char buffer[96];
            std::snprintf(buffer, sizeof buffer, "The requested operation identified an unknown variable in OID : %d.",
                          static_cast<int>(pending.errorIndex));
            errorText = buffer;
        } else if (pending.errorStatus == kNoAccess) {
            errorText = "wrong password!";
        } else {
            errorText = "Error in SnmpMgrRequest : OID";
        }
        return false;
    }

    values = std::move(pending.values); // handed out once
    return true;
}

double CSnmpSession::RequestSeconds() const
{
    if (!m_pPending)
        return 0;
    const auto end = m_pPending->waiting ? std::chrono::steady_clock::now() : m_pPending->done;
    return std::chrono::duration<double>(end - m_pPending->sent).count();
}

bool CSnmpSession::IsValidOid(const std::string& text)
{
    return snmpoid::IsValidOid(text);
}

bool CSnmpSession::FailAbandoned(std::string& errorText, int& errorCode)
{
    Close(); // drops a request still in flight; m_pPending, which it points into, stays till then
    errorCode = kAbandonedCode;
    errorText = "Error: Request abandoned";
    return false;
}

bool CSnmpSession::Close()
{
    if (!m_hSession)
        return false;
    int closed = 0;
    {
        std::lock_guard lock(LibraryMutex());
        closed = snmp_sess_close(m_hSession);
    }
    m_hSession = nullptr;
    StopWaiting(); // a request net-snmp dropped with the session has no answer to wait for
    return closed != 0;
}

std::string CSnmpSession::FormatValue(const variable_list& binding)
{
    return snmpvalue::FormatValue(binding);
}
