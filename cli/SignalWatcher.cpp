#include "cli/SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The write end of the watcher's pipe: a signal handler can reach nothing else.
volatile sig_atomic_t g_signalFd = -1;
struct sigaction g_previous[std::size(kSignals)];

void OnSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (g_signalFd >= 0)
        [[maybe_unused]] const ssize_t n = ::write(g_signalFd, &byte, 1);
    errno = saved;
}

} // namespace

SignalWatcher::SignalWatcher() = default;

SignalWatcher::~SignalWatcher()
{
    if (m_bInstalled) {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
        g_signalFd = -1;
    }
    delete m_pNotifier;
    for (const int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

bool SignalWatcher::Install()
{
    if (m_bInstalled)
        return true;
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    m_pNotifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &SignalWatcher::OnReadable);
    g_signalFd = m_fds[1];
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
            for (std::size_t j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &g_previous[j], nullptr);
            g_signalFd = -1;
            return false;
        }
    }
    m_bInstalled = true;
    return true;
}

void SignalWatcher::OnReadable()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(m_fds[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            emit Received(bytes[i]);
}

} // namespace cli
