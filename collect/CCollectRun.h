#pragma once
#include "collect/CDataFile.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ICollectorEvents;

// The collector's road to its front end (the main window), shared with every worker. pView is
// read and cleared on the UI thread only, so a late call from a worker finds it null once the collector is gone;
// bClosed tells workers not to queue any call at all from then on.
struct CViewLink {
    ICollectorEvents* pView = nullptr;
    std::atomic<bool> bClosed {false};
};

// One collection run: its settings as they were at Start, its data file and its flags. The
// collector and every worker of the run share it, so a worker that outlives its run (a read
// that answers after Stop, or after a new Start) still sees the settings it started with, finds
// its own run stopped and never touches a later run's file.
class CCollectRun : public std::enable_shared_from_this<CCollectRun> {
public:
    // The session parameters of a cycle: seconds to wait for an answer, and resends.
    static constexpr int kTimeout = 2;
    static constexpr int kRetries = 2;

    CCollectRun(std::shared_ptr<CViewLink> view, std::string path, std::string agent, std::string community,
                std::vector<std::string> oidList);

    const std::string& Path() const { return m_strPath; }
    CDataFile::Result Open(CDataFile::Mode mode);

    // One cycle on the calling thread: a worker's, or the UI thread's for the first line.
    void RunCycle();

    // Ends the run: sets m_bStopped and closes the file. Waits only for a write in progress,
    // never for a read, so a cycle that ends later writes nothing.
    void Stop();
    bool IsStopped() const;

    // A timer-started cycle of this run is running. Set by the tick on the UI thread, cleared by
    // the worker when its cycle is over.
    std::atomic<bool> m_bCycleBusy {false};

private:
    // Runs fn on the UI thread while this thread waits, unless the window is gone. fn gets the
    // front end and whether the run has been stopped by then.
    void CallView(const std::function<void(ICollectorEvents& events, bool stopped)>& fn);

    const std::shared_ptr<CViewLink> m_pView;
    const std::string m_strPath;
    const std::string m_strAgent;
    const std::string m_strCommunity;
    const std::vector<std::string> m_oidList;

    mutable std::mutex m_mutex; // guards m_file and m_bStopped; never held across a UI call
    CDataFile m_file;
    bool m_bStopped = false;
};
