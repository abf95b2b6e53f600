#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CWebConfig;

// The basic_auth_users check of every request, off the HTTP server's thread: a few threads of
// its own (kThreads bcrypt checks at once, each costing the same whether the password is right
// or not), so a flood of wrong passwords never holds the server. An Authorization header that
// passed is remembered (as a hash keyed by this process's own random key, at most kRemembered)
// and passes at once from then on: a scraper that knows its password is not queued behind the
// checks of those who do not.
class CPasswordCheck {
public:
    static constexpr int kThreads = 2;
    static constexpr std::size_t kRemembered = 16;

    enum class Outcome {
        kPassed,  // remembered: passed at once, done is never called
        kQueued,  // done gets the result on a check thread
        kStopped, // no check any more (Stop was called)
    };
    using Done = std::function<void(bool passed)>;

    // web: the users; kept for as long as the check runs.
    explicit CPasswordCheck(std::shared_ptr<const CWebConfig> web);
    ~CPasswordCheck();
    CPasswordCheck(const CPasswordCheck&) = delete;
    CPasswordCheck& operator=(const CPasswordCheck&) = delete;

    // Checks an Authorization header's value; the bytes are wiped once checked.
    Outcome Check(std::string authorization, Done done);
    // Ends the threads: a check running finishes and reports, those still queued report false.
    void Stop();

private:
    struct Pending {
        std::string strAuthorization;
        Done done;
    };
    void Loop();
    std::string Fingerprint(const std::string& authorization) const;
    bool Remembered(const std::string& fingerprint);
    void Remember(std::string fingerprint);

    const std::shared_ptr<const CWebConfig> m_pWeb;
    std::string m_strKey; // random, this process's own
    std::mutex m_mutex;   // guards the four below
    std::condition_variable m_wanted;
    std::deque<Pending> m_pending;
    std::deque<std::string> m_remembered; // fingerprints of headers that passed
    bool m_bEnd = false;
    std::vector<std::thread> m_threads;
};
