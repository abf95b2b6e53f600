#pragma once
#include "download/IDownloadEvents.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class CDatalogReport;
class getdata;

// What a download works from, taken once when it starts: a download is of one unit into one
// folder, whatever the settings become while it runs.
struct DownloadSettings {
    std::string ipAddress;
    std::string password;
    std::string folder;
    bool overwrite = false;  // "Overwrite existed file"
    bool collecting = false; // a collection run is active: the status list and text are kept
};

// The download of every sensor channel of a unit: ports 0 to 7, channel 0 then 1, one report
// per channel that has records. It works on the front end's client and report writer and
// reaches the user only through its events, so the window and the command line run the same
// download.
class CDownloadDriver {
public:
    static constexpr int kPortCount = 8;
    static constexpr int kChannelCount = 2;
    static constexpr int kPairCount = kPortCount * kChannelCount;
    // The exit status of a program that could not make a socket.
    static constexpr int kHaltStatus = 255;

    // The client's messages and the report writer's status lines go to events from now on.
    CDownloadDriver(getdata& client, CDatalogReport& report, IDownloadEvents& events);
    // Cancels a running download and waits for its thread.
    ~CDownloadDriver();
    CDownloadDriver(const CDownloadDriver&) = delete;
    CDownloadDriver& operator=(const CDownloadDriver&) = delete;

    // Starts the download on a thread of its own. False, with nothing started, while one runs.
    // The thread counts as running until just before Finished: once a front end has its end,
    // Start starts a new download.
    bool Start(DownloadSettings settings);
    bool IsRunning() const { return m_bRunning.load(); }
    // Waits for the thread started last (nothing without one).
    void Wait();
    // From any thread: a wait in progress ends within moments, no further request is sent
    // and no further report is started. The download then ends quietly.
    void Cancel();

    // The download on the calling thread, ending with Finished.
    DownloadResult Run(const DownloadSettings& settings);

    // What the driver does after a failed pair.
    enum class Next { Channel, Port, Stop };
    // Reacts to a failed pair's code: status line or message, and where to go on. The
    // codes are told apart by their low byte read as a signed value, as the unit's firmware
    // defines them; socket errors (10000 and up) are never read that way.
    Next React(std::int32_t code, int port);
    // Whether a failed pair's code is the unit's own answer for the channel: "no datalog",
    // "offline" or no records. Read the way React reads it.
    static bool IsAnswer(std::int32_t code);

private:
    // Run without Finished.
    DownloadResult Download(const DownloadSettings& settings);
    // Counts outcome into result and reports it.
    void ChannelOver(DownloadResult& result, const ChannelOutcome& outcome);

    getdata& m_client;
    CDatalogReport& m_report;
    IDownloadEvents& m_events;
    std::thread m_thread;
    std::atomic<bool> m_bRunning {false};
};
