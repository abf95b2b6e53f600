#pragma once
#include <QString>

// The status lamp's states (pictures 146, 147, 148). SetStatusLamp takes an int: a state it does
// not know keeps the picture it shows.
enum StatusLamp : int {
    kLampIdle = 1,       // red: no run
    kLampCollecting = 2, // green: the last read of the run succeeded
    kLampReadFailed = 3, // yellow: the last read failed (or its line could not be written)
};

// The main window's status operations as the workers see them. Every call must run on the UI
// thread; a worker goes through platform::SendToUi, so each call runs whole while it waits.
// Tests implement it headless.
class IStatusReporter {
public:
    virtual ~IStatusReporter() = default;
    // One line at the end of the status list; isFileLink when the line names a written file
    // between its first two double quotes.
    virtual void AddStatusLine(const QString& text, bool isFileLink) = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual QString GetStatusText() const = 0;
    // kLampIdle, kLampCollecting or kLampReadFailed.
    virtual void SetStatusLamp(int state) = 0;
};
