#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSnmpSession;

// Reads many units at once from the calling thread: one SNMP GET per unit, all sent before any
// answer is awaited, each bounded by its unit's own time-out and resends, so a dead unit costs
// its own time-out and never the others'. A request may bring a session kept open from an
// earlier read, and takes back the one it used: at thousands of units, opening a socket per unit
// per scrape is much of a scrape's work.
class CUnitReader {
public:
    using Clock = std::chrono::steady_clock;

    struct Request {
        std::string strAddress;
        std::string strCommunity;
        int nTimeout = 2;
        int nRetries = 2;
        std::vector<std::string> oids;
        // In: a session left open by an earlier read of this unit (or none); out: the session
        // to keep for the next read, none when it failed in a way a new one might not.
        std::unique_ptr<CSnmpSession> pSession;
    };
    struct Result {
        bool bAnswered = false;           // values holds one text per OID, in order
        std::vector<std::string> values;
        int nErrorCode = 0;               // as the session reports it: 40 time-out, 6 no access, ...
        std::string strError;             // the session's text; never contains the community
        double dSeconds = 0;              // from the send to the answer or to giving up
    };

    // A unit still silent when its read was cut short at the deadline: an answer that might yet
    // come is not waited for.
    static constexpr int kDeadlineErrorCode = 41;

    // Beyond the slowest unit's own time-outs, so that every unit can end its wait itself.
    static constexpr std::chrono::milliseconds kDeadlineSlack {500};

    // When a Read ends at the latest: a time that other threads may bring forward while the Read
    // runs (a client in a hurry, the program ending).
    class Deadline {
    public:
        explicit Deadline(Clock::time_point at = Clock::time_point::max()) : m_at(at) {}
        // Moves the deadline to at, if that is earlier.
        void BringForward(Clock::time_point at);
        void CutNow() { BringForward(Clock::time_point::min()); }
        // The deadline as it stands now.
        Clock::time_point At();
        // Waits until the deadline or until Finish; true when the deadline came first.
        bool Wait();
        void Finish();

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        Clock::time_point m_at;
        bool m_bFinished = false;
    };

    // One thread that watches the deadlines of many Reads at once, for callers that read often
    // (a probe per unit): a thread of each Read's own would cost more than its read.
    class Watch {
    public:
        Watch();
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        // Calls cut once, within a slice of deadline's time, unless Remove(id) came first.
        int Add(Deadline* deadline, std::function<void()> cut);
        void Remove(int id);

    private:
        void Loop();
        struct Entry {
            Deadline* pDeadline;
            std::function<void()> cut;
        };
        std::mutex m_mutex; // guards the four below; cut runs with it held
        std::condition_variable m_changed;
        std::map<int, Entry> m_entries;
        int m_nNextId = 0;
        bool m_bEnd = false;
        std::thread m_thread;
    };

    // One result per request, in the same order. With a deadline, Read brings it forward to the
    // slowest unit's time-out x (resends + 1) after the last send, plus kDeadlineSlack; reads
    // still waiting at the deadline end with kDeadlineErrorCode. The deadline is watched by
    // watch, or by a thread of the Read's own.
    static std::vector<Result> Read(std::vector<Request>& requests, Deadline* deadline = nullptr,
                                    Watch* watch = nullptr);
};
