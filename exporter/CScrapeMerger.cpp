#include "exporter/CScrapeMerger.h"

#include <utility>

CScrapeMerger::CScrapeMerger(int threads, std::chrono::milliseconds reuse, std::size_t maxWaiting)
    : m_reuse(reuse), m_nMaxWaiting(maxWaiting)
{
    m_pool.setMaxThreadCount(threads);
    m_pool.setExpiryTimeout(-1); // a thread per read at every scrape would cost more than it keeps
}

CScrapeMerger::~CScrapeMerger()
{
    Stop();
}

CHttpServer::Response CScrapeMerger::PageResponse(std::shared_ptr<const std::string> page)
{
    return CHttpServer::Response{200, "text/plain; version=0.0.4; charset=utf-8", {}, {}, std::move(page)};
}

CScrapeMerger::Outcome CScrapeMerger::Join(const std::string& key, const std::shared_ptr<CHttpServer::Reply>& reply,
                                           std::optional<Clock::time_point> until, const ReadFunction& read)
{
    std::lock_guard lock(m_mutex);
    if (m_bStopping)
        return Outcome::kStopping;
    const auto running = m_reads.find(key);
    if (running == m_reads.end() && m_reuse.count() > 0) {
        const auto kept = m_kept.find(key);
        if (kept != m_kept.end() && Clock::now() - kept->second.end < m_reuse) {
            reply->Send(PageResponse(kept->second.page));
            return Outcome::kAnswered;
        }
    }
    if (m_nMaxWaiting > 0 && m_nWaiting >= m_nMaxWaiting)
        return Outcome::kBusy;
    ++m_nWaiting;
    if (running != m_reads.end()) {
        Read& one = running->second;
        one.waiting.push_back(reply);
        if (until) {
            if (one.pDeadline)
                one.pDeadline->BringForward(*until);
            if (!one.until || *until < *one.until)
                one.until = until;
        }
        return Outcome::kWaiting;
    }
    Read& one = m_reads[key];
    one.waiting.push_back(reply);
    one.until = until;
    m_pool.start([this, key, read] { Run(key, read); });
    return Outcome::kWaiting;
}

void CScrapeMerger::Run(const std::string& key, const ReadFunction& read)
{
    CUnitReader::Deadline deadline;
    std::uint64_t changes = 0;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_reads.find(key);
        if (m_bStopping) {
            // Not read at all: the server's own last answer goes to the requests waiting.
            m_nWaiting -= it->second.waiting.size();
            m_reads.erase(it);
            return;
        }
        if (it->second.until)
            deadline.BringForward(*it->second.until);
        it->second.pDeadline = &deadline;
        changes = m_nChanges;
    }
    auto page = std::make_shared<const std::string>(read(deadline));
    std::vector<std::shared_ptr<CHttpServer::Reply>> answered;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_reads.find(key);
        answered = std::move(it->second.waiting);
        m_reads.erase(it);
        m_nWaiting -= answered.size();
        // A scan that ended or a reload during the read may have changed a list it read.
        if (m_reuse.count() > 0) {
            if (m_nChanges == changes)
                m_kept[key] = Kept{page, Clock::now()};
            else
                m_kept.erase(key);
        }
    }
    const CHttpServer::Response response = PageResponse(page);
    for (const auto& reply : answered)
        reply->Send(response); // nothing happens for a client that left
}

void CScrapeMerger::Invalidate()
{
    std::lock_guard lock(m_mutex);
    ++m_nChanges;
    m_kept.clear();
}

void CScrapeMerger::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
        for (auto& [key, read] : m_reads)
            if (read.pDeadline)
                read.pDeadline->CutNow();
    }
    // The reads running end within a wait slice and answer the requests waiting for them.
    m_pool.waitForDone();
}
