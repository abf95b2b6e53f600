#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CDatalogReport;
class IDownloadView;
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

// How a download ended.
struct DownloadResult {
    int reportsWritten = 0;
    int reportsFailed = 0;  // channels with records whose report could not be written
    int pairsAsked = 0;
    // Port/channel pairs (port index 0 to 7, channel) that the unit did not answer for: no
    // report, and none of its own "no datalog", "offline" or "no records" either (code 107,
    // socket errors, time-outs of the records, the unit's other error bytes). The run went on.
    std::vector<std::pair<int, int>> pairsFailed;
    bool stopped = false;   // the unit did not answer, refused the password or is too old
    bool cancelled = false; // Cancel() ended it
    bool halted = false;    // no socket could be made: the program is to end
};

// The download of every sensor channel of a unit: ports 0 to 7, channel 0 then 1, one report
// per channel that has records. It works on the front end's client and report writer and
// reaches the user only through the view, so the window and the command line run the same
// download.
class CDownloadDriver {
public:
    static constexpr int kPortCount = 8;
    static constexpr int kChannelCount = 2;
    static constexpr int kPairCount = kPortCount * kChannelCount;
    // The exit status of a program that could not make a socket.
    static constexpr int kHaltStatus = 255;

    // The client's messages go to the view from now on.
    CDownloadDriver(getdata& client, CDatalogReport& report, IDownloadView& view);
    // Cancels a running download and waits for its thread.
    ~CDownloadDriver();
    CDownloadDriver(const CDownloadDriver&) = delete;
    CDownloadDriver& operator=(const CDownloadDriver&) = delete;

    // Starts the download on a thread of its own. False, with nothing started, while one runs.
    // The thread counts as running until just before it gives the controls back
    // (EnableDownloadControls): once they are back, Start starts a new download.
    bool Start(DownloadSettings settings);
    bool IsRunning() const { return m_bRunning.load(); }
    // Waits for the thread started last (nothing without one).
    void Wait();
    // From any thread: a wait in progress ends within moments, no further request is sent
    // and no further report is started. The download then ends quietly.
    void Cancel();

    // The download on the calling thread, ending with EnableDownloadControls (unless the
    // program halts).
    DownloadResult Run(const DownloadSettings& settings);

    // What the driver does after a failed pair.
    enum class Next { Channel, Port, Stop };
    // Reacts to a failed pair's code: status line or message box, and where to go on. The
    // codes are told apart by their low byte read as a signed value, as the unit's firmware
    // defines them; socket errors (10000 and up) are never read that way.
    Next React(std::int32_t code, int port);
    // Whether a failed pair's code is the unit's own answer for the channel: "no datalog",
    // "offline" or no records. Read the way React reads it.
    static bool IsAnswer(std::int32_t code);

private:
    // Run without its last call to the view.
    DownloadResult Download(const DownloadSettings& settings);

    getdata& m_client;
    CDatalogReport& m_report;
    IDownloadView& m_view;
    std::thread m_thread;
    std::atomic<bool> m_bRunning {false};
};
