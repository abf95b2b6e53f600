#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// A call in flight: the worker waits on it until the UI thread has run it or the UI is gone.
struct PendingCall {
    std::function<void()> fn;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool running = false;  // the UI thread has started it: the worker waits for its end
    bool gaveUp = false;   // the worker stopped waiting: it must not run any more
    const std::atomic<bool>* abandoned = nullptr; // read only while the worker still waits
};

// Shared between every worker and the UI thread; guarded by its own mutex.
struct HandoffState {
    std::mutex mutex;
    std::condition_variable cv;
    bool shuttingDown = false;
    bool hooked = false;
};

HandoffState& State()
{
    static HandoffState state;
    return state;
}

void HookShutdown()
{
    // Called on the UI thread only; connects once per application object.
    auto& st = State();
    std::lock_guard lock(st.mutex);
    if (st.hooked || !QCoreApplication::instance())
        return;
    st.hooked = true;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] { ShutdownUi(); });
}

} // namespace

bool IsUiThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool SendToUi(const std::function<void()>& fn)
{
    static const std::atomic<bool> never {false};
    return SendToUi(fn, never);
}

bool SendToUi(const std::function<void()>& fn, const std::atomic<bool>& abandoned)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (abandoned)
        return false;
    if (IsUiThread()) {
        HookShutdown();
        fn();
        return true;
    }
    auto& st = State();
    {
        std::lock_guard lock(st.mutex);
        if (st.shuttingDown)
            return false;
    }
    auto call = std::make_shared<PendingCall>();
    call->fn = fn;
    // The flag lives until its worker has returned from here; a call still queued after that
    // finds gaveUp set and never reads it.
    call->abandoned = &abandoned;
    QMetaObject::invokeMethod(app, [call] {
        {
            std::lock_guard lock(State().mutex);
            if (State().shuttingDown)
                return;
        }
        {
            std::lock_guard lock(call->mutex);
            if (call->gaveUp || (call->abandoned && *call->abandoned))
                return;
            call->running = true;
        }
        call->fn();
        std::lock_guard lock(call->mutex);
        call->done = true;
        call->cv.notify_all();
    }, Qt::QueuedConnection);

    // Wait until the UI thread ran it, waking now and then to see whether the UI has gone.
    std::unique_lock lock(call->mutex);
    while (!call->done) {
        call->cv.wait_for(lock, std::chrono::milliseconds(50));
        if (call->done)
            break;
        if (abandoned && !call->running) {
            call->gaveUp = true;
            return false;
        }
        std::lock_guard stLock(st.mutex);
        if (st.shuttingDown)
            return false;
    }
    return true;
}

void ShutdownUi()
{
    auto& st = State();
    std::lock_guard lock(st.mutex);
    st.shuttingDown = true;
    st.cv.notify_all();
}

void RestartUi()
{
    auto& st = State();
    std::lock_guard lock(st.mutex);
    st.shuttingDown = false;
}

} // namespace platform
