#include "exporter/CPasswordCheck.h"

#include "exporter/CWebConfig.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <algorithm>
#include <cstring>

CPasswordCheck::CPasswordCheck(std::shared_ptr<const CWebConfig> web) : m_pWeb(std::move(web))
{
    m_strKey.resize(32);
    gnutls_rnd(GNUTLS_RND_KEY, m_strKey.data(), m_strKey.size());
    for (int i = 0; i < kThreads; ++i)
        m_threads.emplace_back(&CPasswordCheck::Loop, this);
}

CPasswordCheck::~CPasswordCheck()
{
    Stop();
}

CPasswordCheck::Outcome CPasswordCheck::Check(std::string authorization, Done done)
{
    const std::string fingerprint = Fingerprint(authorization);
    std::unique_lock lock(m_mutex);
    if (Remembered(fingerprint)) {
        lock.unlock();
        explicit_bzero(authorization.data(), authorization.size());
        return Outcome::kPassed;
    }
    if (m_bEnd) {
        lock.unlock();
        explicit_bzero(authorization.data(), authorization.size());
        return Outcome::kStopped;
    }
    m_pending.push_back(Pending{std::move(authorization), std::move(done)});
    lock.unlock();
    m_wanted.notify_one();
    return Outcome::kQueued;
}

void CPasswordCheck::Stop()
{
    std::deque<Pending> unchecked;
    {
        std::lock_guard lock(m_mutex);
        m_bEnd = true;
        unchecked.swap(m_pending);
    }
    m_wanted.notify_all();
    for (Pending& pending : unchecked) {
        explicit_bzero(pending.strAuthorization.data(), pending.strAuthorization.size());
        pending.done(false);
    }
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
}

void CPasswordCheck::Loop()
{
    while (true) {
        Pending pending;
        {
            std::unique_lock lock(m_mutex);
            m_wanted.wait(lock, [this] { return m_bEnd || !m_pending.empty(); });
            if (m_bEnd)
                return;
            pending = std::move(m_pending.front());
            m_pending.pop_front();
        }
        // The same bcrypt work for every header that names a user, known or not, right or wrong.
        const bool passed = m_pWeb->CheckAuthorization(pending.strAuthorization);
        if (passed) {
            std::string fingerprint = Fingerprint(pending.strAuthorization);
            std::lock_guard lock(m_mutex);
            Remember(std::move(fingerprint));
        }
        explicit_bzero(pending.strAuthorization.data(), pending.strAuthorization.size());
        pending.done(passed);
    }
}

std::string CPasswordCheck::Fingerprint(const std::string& authorization) const
{
    unsigned char digest[32];
    if (gnutls_hmac_fast(GNUTLS_MAC_SHA256, m_strKey.data(), m_strKey.size(), authorization.data(),
                         authorization.size(), digest) != 0)
        return {};
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

bool CPasswordCheck::Remembered(const std::string& fingerprint)
{
    return !fingerprint.empty() && std::find(m_remembered.begin(), m_remembered.end(), fingerprint) != m_remembered.end();
}

void CPasswordCheck::Remember(std::string fingerprint)
{
    if (fingerprint.empty() || Remembered(fingerprint))
        return;
    if (m_remembered.size() >= kRemembered)
        m_remembered.pop_front();
    m_remembered.push_back(std::move(fingerprint));
}
