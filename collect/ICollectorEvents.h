#pragma once
#include <QString>

#include <string>
#include <vector>

// One line a collection cycle read: its time stamp, the unit's values and the line as the data
// file holds it, without its line end.
struct CollectedLine {
    std::string time;                // datafile::kTimeStampFormat
    std::vector<std::string> values; // one per OID, each kept on one line
    QString text;                    // the time and the values joined by datafile::kSeparator
};

// A cycle that got no values: the session could not be opened, or the read failed.
struct ReadFailure {
    bool sessionOpened = false; // false: no request went out
    int errorCode = 0;          // the read's error code; 0 when no session was opened
    QString message;            // as a status line shows it
};

// A run that began: its data file is open and its first cycle follows at once.
struct RunStart {
    QString fileName;        // the data file's name, without its folder
    QString message;         // "Saving data in file name : <name>."
    QString columnsNotSaved; // why the column sidecar was not written; empty when it was
};

// What a collection does, as it happens: the collector reports its runs and each cycle's
// outcome here, and asks what to do with a data file that exists. Every call runs on the UI
// thread: a worker's call is carried there with platform::SendToUi and the worker waits until
// it has run. Every method does nothing by default, so a front end overrides what it shows:
// the main window turns the events into its buttons, lamp and status lines, the command line
// into lines on its standard output and error.
class ICollectorEvents {
public:
    // What to do with a data file that exists (the File Name dialog's choices); 0 is Cancel.
    static constexpr int kCancel = 0;
    static constexpr int kSaveContinuously = 1;
    static constexpr int kOverwrite = 2;
    static constexpr int kRename = 3;

    // Why a run ended, or did not begin.
    enum class RunEnd {
        Stopped,   // StopRun
        Cancelled, // the data file exists and no choice was made for it
        FileError, // the data file could not be tested or opened (a message box said why)
    };

    virtual ~ICollectorEvents() = default;

    virtual void RunStarted(const RunStart& /*start*/) {}
    // runGoesOn: the line's run has not been stopped by the time the event arrives.
    virtual void LineWritten(const CollectedLine& /*line*/, bool /*runGoesOn*/) {}
    // The line could not be written; error says why, naming the file.
    virtual void WriteFailed(const CollectedLine& /*line*/, const QString& /*error*/, bool /*runGoesOn*/) {}
    // The line was read after its run had been stopped: it is not in the file.
    virtual void LineAfterStop(const CollectedLine& /*line*/) {}
    // A failed read is reported only while its run goes on; a session that could not be opened
    // always is.
    virtual void ReadFailed(const ReadFailure& /*failure*/) {}
    virtual void RunEnded(RunEnd /*why*/) {}

    // The data file of a new run exists: kCancel, or the choice for it. After a choice fileName
    // holds the name to use with kRename. The main window asks through the File Name dialog
    // (CFileNameDialog::Ask); by default no run starts.
    virtual int AskExistingFile(QString& /*fileName*/) { return kCancel; }
};
