#include "exporter/CUnitReader.h"

#include "snmp/CSnmpSession.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

void CUnitReader::Deadline::BringForward(Clock::time_point at)
{
    std::lock_guard lock(m_mutex);
    if (at < m_at) {
        m_at = at;
        m_changed.notify_all();
    }
}

CUnitReader::Clock::time_point CUnitReader::Deadline::At()
{
    std::lock_guard lock(m_mutex);
    return m_at;
}

bool CUnitReader::Deadline::Wait()
{
    std::unique_lock lock(m_mutex);
    while (!m_bFinished) {
        const Clock::time_point at = m_at;
        if (at == Clock::time_point::max()) {
            m_changed.wait(lock);
            continue;
        }
        if (Clock::now() >= at)
            return true;
        m_changed.wait_until(lock, at);
    }
    return false;
}

void CUnitReader::Deadline::Finish()
{
    std::lock_guard lock(m_mutex);
    m_bFinished = true;
    m_changed.notify_all();
}

CUnitReader::Watch::Watch() : m_thread(&Watch::Loop, this) {}

CUnitReader::Watch::~Watch()
{
    {
        std::lock_guard lock(m_mutex);
        m_bEnd = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

int CUnitReader::Watch::Add(Deadline* deadline, std::function<void()> cut)
{
    std::lock_guard lock(m_mutex);
    const int id = m_nNextId++;
    m_entries.emplace(id, Entry{deadline, std::move(cut)});
    m_changed.notify_all();
    return id;
}

void CUnitReader::Watch::Remove(int id)
{
    std::lock_guard lock(m_mutex);
    m_entries.erase(id);
}

void CUnitReader::Watch::Loop()
{
    // Each Read's wait looks at its flags once a slice: watching more often would gain nothing.
    constexpr auto kSlice = std::chrono::milliseconds(20);
    std::unique_lock lock(m_mutex);
    while (!m_bEnd) {
        if (m_entries.empty()) {
            m_changed.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (it->second.pDeadline->At() <= now) {
                it->second.cut();
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
        m_changed.wait_for(lock, kSlice);
    }
}

std::vector<CUnitReader::Result> CUnitReader::Read(std::vector<Request>& requests, Deadline* deadline, Watch* watch)
{
    std::vector<Result> results(requests.size());
    std::vector<std::unique_ptr<CSnmpSession>> sessions(requests.size());
    // One flag per session: the sessions still waiting at the deadline give up, and the ones that
    // had their answer before keep it.
    const auto cut = std::make_unique<std::atomic<bool>[]>(requests.size());
    std::vector<Clock::time_point> sentBy(requests.size());
    std::vector<CSnmpSession*> sent;
    sent.reserve(requests.size());

    for (std::size_t i = 0; i < requests.size(); ++i) {
        Request& request = requests[i];
        Result& result = results[i];
        std::unique_ptr<CSnmpSession> session = std::move(request.pSession);
        if (!session || !session->IsOpen()) {
            session = std::make_unique<CSnmpSession>();
            if (!session->Open(request.strAddress, request.strCommunity, request.nTimeout, request.nRetries,
                               result.strError))
                continue;
        }
        session->SetAbandonFlag(&cut[i]);
        if (!session->StartGet(request.oids, result.strError, result.nErrorCode))
            continue;
        sentBy[i] = Clock::now();
        sent.push_back(session.get());
        sessions[i] = std::move(session);
    }

    // Every unit ends its own wait by its time-out x (resends + 1) from its send; the deadline
    // is that of the slowest, and a little, unless a client brought it forward.
    int longestWait = 0;
    for (const Request& request : requests)
        longestWait = std::max(longestWait, request.nTimeout * (request.nRetries + 1));
    if (deadline)
        deadline->BringForward(Clock::now() + std::chrono::seconds(longestWait) + kDeadlineSlack);

    // The deadline's watch: at the deadline every flag is raised, and the wait ends within its
    // next slice, kept short for it.
    Clock::time_point cutAt = Clock::time_point::max();
    const auto cutAll = [&] {
        cutAt = Clock::now();
        for (std::size_t i = 0; i < requests.size(); ++i)
            cut[i] = true;
    };
    std::thread own;
    int watched = -1;
    if (deadline && watch)
        watched = watch->Add(deadline, cutAll);
    else if (deadline)
        own = std::thread([&] {
            if (deadline->Wait())
                cutAll();
        });
    // The wait looks at the flags once a slice: short when the deadline may cut a unit's own
    // wait, longer when every unit ends its wait before it (then only a deadline brought forward,
    // by the end of the program or a client in a hurry, is seen up to a quarter second late;
    // each look costs a probe of one unit about as much as its read).
    constexpr long kSliceMicroseconds = 20000;
    constexpr long kLongSliceMicroseconds = 250000;
    long slice = kSliceMicroseconds;
    if (deadline && deadline->At() > Clock::now() + std::chrono::seconds(longestWait) + kDeadlineSlack / 2)
        slice = kLongSliceMicroseconds;
    if (deadline)
        CSnmpSession::WaitAll(sent, slice);
    else
        CSnmpSession::WaitAll(sent);
    if (watched >= 0)
        watch->Remove(watched); // cutAll has run, or never will
    if (own.joinable()) {
        deadline->Finish();
        own.join();
    }

    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (!sessions[i])
            continue;
        Result& result = results[i];
        const double seconds = sessions[i]->RequestSeconds();
        // Ended before the flags went up: its own answer or time-out, which the flag must not hide.
        const bool endedBefore =
            sentBy[i] + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)) < cutAt;
        if (endedBefore)
            cut[i] = false;
        result.bAnswered = sessions[i]->FinishGet(result.values, result.strError, result.nErrorCode);
        result.dSeconds = seconds;
        if (!endedBefore) {
            result.nErrorCode = kDeadlineErrorCode;
            result.strError = "No answer before the scrape's deadline.";
        }
        // Kept for the next read while it is open and failed only as a unit can make it fail
        // (an answer, an error status, a time-out); a cut-short read has closed it already, and
        // a local failure is left to a new session.
        sessions[i]->SetAbandonFlag(nullptr);
        if (sessions[i]->IsOpen() && result.nErrorCode >= 0 && endedBefore)
            requests[i].pSession = std::move(sessions[i]);
        else
            sessions[i]->Close();
    }
    return results;
}
