#pragma once
#include <QString>

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
    // 1 idle (red), 2 collecting normally (green), 3 last read failed (yellow).
    virtual void SetStatusLamp(int state) = 0;
};
