#pragma once
#include "exporter/CHttpServer.h"
#include "exporter/CUnitReader.h"

#include <QThreadPool>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Requests for the same page share one read of it. The first request for a key starts a read on
// one of the merger's threads; requests for that key that come while it runs wait for it and all
// get its page, so however many clients ask, the units are read once per round. A request with a
// time limit brings the read's deadline forward to it. With reuse, a request that comes this soon
// after a read ended gets that page, unless Invalidate() came since (a sensor list changed).
//
// A cap on the requests waiting at once, when given, turns the ones past it away (Busy).
class CScrapeMerger {
public:
    using Clock = CUnitReader::Clock;
    // Reads the page; ends by the deadline, which other requests or Stop may bring forward.
    using ReadFunction = std::function<std::string(CUnitReader::Deadline& deadline)>;

    enum class Outcome {
        kWaiting,  // reply gets the page of the read
        kAnswered, // reply got a page kept for reuse
        kBusy,     // as many requests as the cap are waiting: reply got nothing
        kStopping, // Stop came: reply got nothing
    };

    // threads: reads of different keys at once; maxWaiting: 0 for no cap.
    CScrapeMerger(int threads, std::chrono::milliseconds reuse, std::size_t maxWaiting = 0);
    ~CScrapeMerger();
    CScrapeMerger(const CScrapeMerger&) = delete;
    CScrapeMerger& operator=(const CScrapeMerger&) = delete;

    // Answers reply with the page of key's read: the one running, or a new one with read.
    Outcome Join(const std::string& key, const std::shared_ptr<CHttpServer::Reply>& reply,
                 std::optional<Clock::time_point> until, const ReadFunction& read);
    // Pages read so far are not given again, nor kept from the reads running.
    void Invalidate();
    // Takes no new request, cuts the reads running short (their pages still go to the requests
    // waiting for them) and waits for them to end.
    void Stop();

    static CHttpServer::Response PageResponse(std::shared_ptr<const std::string> page);

private:
    struct Read {
        std::vector<std::shared_ptr<CHttpServer::Reply>> waiting;
        std::optional<Clock::time_point> until;       // the earliest limit of a request waiting
        CUnitReader::Deadline* pDeadline = nullptr; // while it runs
    };
    struct Kept {
        std::shared_ptr<const std::string> page;
        Clock::time_point end;
    };
    void Run(const std::string& key, const ReadFunction& read);

    const std::chrono::milliseconds m_reuse;
    const std::size_t m_nMaxWaiting;
    std::mutex m_mutex; // guards everything below
    std::map<std::string, Read> m_reads;
    std::map<std::string, Kept> m_kept;
    std::size_t m_nWaiting = 0;
    std::uint64_t m_nChanges = 0; // Invalidate()s so far: a page read across one is not kept
    bool m_bStopping = false;
    QThreadPool m_pool;
};
