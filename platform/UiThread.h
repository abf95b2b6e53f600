#pragma once
#include <atomic>
#include <functional>

namespace platform {

// True on the thread that owns the windows (the thread that built the QApplication).
bool IsUiThread();

// The synchronous window message of a worker: runs fn whole on the UI thread and returns
// once it has run. On the UI thread itself fn runs at once. Returns false, without running
// fn, when the UI is shutting down: a late result from a worker is dropped, never applied.
bool SendToUi(const std::function<void()>& fn);
// The same for a worker whose window may go away before the UI shuts down: once abandoned is
// set (by the window, on the UI thread, before it waits for the worker), the worker stops
// waiting within moments and calls not yet run are dropped.
bool SendToUi(const std::function<void()>& fn, const std::atomic<bool>& abandoned);

// Called when the event loop is about to end: every worker waiting in SendToUi is released
// (its call is dropped) and later calls return false at once. Installed automatically on
// QCoreApplication::aboutToQuit; tests may call it directly.
void ShutdownUi();

// Undoes ShutdownUi: calls are carried to the UI thread again. For test programs, which start
// every test with a UI that takes calls whatever an earlier test did.
void RestartUi();

} // namespace platform
