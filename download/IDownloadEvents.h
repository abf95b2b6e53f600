#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// How one port/channel pair of a download ended.
struct ChannelOutcome {
    enum class Kind {
        ReportWritten, // its report is in its file
        ReportFailed,  // it had records, but their report could not be written
        UnitAnswered,  // the unit's own "no datalog", "offline" or "no records": nothing to write
        NoAnswer,      // no answer the unit meant for it (see DownloadResult::pairsFailed)
        Stopped,       // the unit did not answer, refused the password or is too old: the end
    };
    int port = 0; // 0 to 7
    int channel = 0;
    Kind kind = Kind::ReportWritten;
    std::int32_t code = 0; // the client's code for a pair that got no report; 0 otherwise
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

// What a download does, as it happens, and what it shows on the way: the driver reports its
// progress, each channel's outcome and its end here, and the main window's status list, status
// text and message boxes get their lines. Every method does nothing by default, so a front end
// overrides what it shows.
//
// Every call comes from the download's own thread. A front end that owns windows carries each
// call whole to its window thread and blocks the download until it has run there (for a
// message, until the user has closed its box). Texts are bytes as the unit and the settings
// give them.
class IDownloadEvents {
public:
    virtual ~IDownloadEvents() = default;

    // One line at the end of the status list; isFileLink when the line names a written file
    // between its first two double quotes.
    virtual void AddStatusLine(const std::string& /*text*/, bool /*isFileLink*/) {}
    virtual std::string GetStatusText() { return {}; }
    virtual void SetStatusText(const std::string& /*text*/) {}
    // Empties the status list and forgets its file-link marks.
    virtual void ClearStatusList() {}
    // A message the user has to acknowledge (the window's OK-only box); returns once done.
    virtual void Message(const std::string& /*text*/) {}

    // pairsDone of pairCount port/channel pairs are over, and of the current channel records of
    // recordCount are in (recordCount 0 while its status is being asked for).
    virtual void Progress(int /*pairsDone*/, int /*pairCount*/, int /*records*/, int /*recordCount*/) {}
    // No more progress comes: the channels are over.
    virtual void ProgressEnded() {}
    virtual void ChannelDone(const ChannelOutcome& /*outcome*/) {}
    // The end of a download, after its last status text. With result.halted no socket could be
    // made: the program is to end with CDownloadDriver::kHaltStatus, the way it ends when its
    // window is closed (the message has been shown).
    virtual void Finished(const DownloadResult& /*result*/) {}
};
