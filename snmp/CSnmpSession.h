#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

struct variable_list;

// One SNMPv1 manager session to a unit's agent (community-based). All OIDs of one Get travel
// in one GET request. Texts are 8-bit bytes as the unit sends them.
//
// Time-out and retries: callers pass small numbers (2 and 2 per collection cycle, 4 and 4 per
// scan). They are read as seconds to wait for an answer and as the number of resends, so a
// unit that never answers costs timeout x (retries + 1) seconds.
class CSnmpSession {
public:
    struct PendingGet; // one request's state, private to the session's code
    CSnmpSession();
    // The owner calls Close first; a session still open is closed here so that it cannot leak.
    virtual ~CSnmpSession();
    CSnmpSession(const CSnmpSession&) = delete;
    CSnmpSession& operator=(const CSnmpSession&) = delete;

    // Initialises the SNMP library once: no MIB loading, nothing printed to stderr. Call on the
    // main thread before any worker starts; Open calls it too, for programs that forgot.
    static void InitLibrary();

    // Test programs call this first thing: from then on Open refuses every address outside
    // 127.0.0.0/8, so no test can ever send a packet to a real unit or a default address.
    static void RestrictToLoopback();

    bool Open(const std::string& agentAddress, const std::string& community, int timeout, int retries,
              std::string& statusText);
    // OID texts are numeric: with a leading dot absolute, without it relative to 1.3.6.1.2.1.
    // An empty list or a text that does not convert fails with code 0 and sends nothing. A
    // request that fails locally reports net-snmp's (negative) error number.
    bool Get(const std::vector<std::string>& oids, std::vector<std::string>& values, std::string& errorText,
             int& errorCode);
    bool Close();
    bool IsOpen() const { return m_hSession != nullptr; }

    // Lets the owner cut reads short from another thread (the program is ending): once *abandon
    // is true, a wait under way ends within about a second, the session closes, and no later
    // request is sent. Such a Get fails with kAbandonedCode. Null (the default): never.
    void SetAbandonFlag(const std::atomic<bool>* abandon) { m_pAbandon = abandon; }
    static constexpr int kAbandonedCode = -22; // net-snmp's SNMPERR_ABORT

    // Error codes of Get that callers tell apart: error-statuses of the unit (RFC 1157's
    // noSuchName, RFC 3416's noAccess) and the time-out.
    static constexpr int kNoSuchName = 2;
    static constexpr int kNoAccess = 6;
    static constexpr int kTimeoutErrorCode = 40;

    // Get in three steps, for reading many units at once from one thread: StartGet sends the
    // request and returns at once; WaitAll waits until every given session's request has its
    // answer or has run out of time-out and resends (each session by its own); FinishGet hands
    // out the result exactly as Get would, once. StartGet fails, with Get's texts and codes, only
    // where Get would send nothing; FinishGet then fails the same way.
    bool StartGet(const std::vector<std::string>& oids, std::string& errorText, int& errorCode);
    // A session's abandon flag is looked at every sliceMicroseconds at least (by default a
    // quarter second); callers that must end at a deadline pass a shorter slice.
    static void WaitAll(const std::vector<CSnmpSession*>& sessions, long sliceMicroseconds = 250000);
    bool FinishGet(std::vector<std::string>& values, std::string& errorText, int& errorCode);
    // Seconds from the last StartGet's send to its answer, or to the end of the wait.
    double RequestSeconds() const;

    // True for an OID text that Get would send: numeric, as under Get.
    static bool IsValidOid(const std::string& text);

    // The text of one returned binding's value, by its ASN type. Values are never cut (a cut
    // value would be a wrong value in the data file); Counter64 gives an unsigned decimal; NULL,
    // the exception values and other types give an empty text.
    static std::string FormatValue(const variable_list& binding);

private:
    bool Waiting() const;
    void StopWaiting();
    bool Abandoned() const { return m_pAbandon && m_pAbandon->load(); }
    // Closes the session for good and reports the abandoned read; always false.
    bool FailAbandoned(std::string& errorText, int& errorCode);

    void* m_hSession = nullptr; // net-snmp single-session handle; null when not open
    // The request in flight or its answer, from StartGet to FinishGet; net-snmp's callback
    // points into it, so it lives as long as the session may still call back.
    std::unique_ptr<PendingGet> m_pPending;
    const std::atomic<bool>* m_pAbandon = nullptr;
};
