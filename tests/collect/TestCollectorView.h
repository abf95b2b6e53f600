#pragma once
#include "collect/ICollectorEvents.h"

#include <QString>
#include <QStringList>

#include <vector>

// The main window as the collector's events leave it: its status list, lamps, status text and
// run controls, turned from the events as the window turns them. All events arrive on the UI
// thread (workers go through SendToUi), where the tests read them too.
class CTestView : public ICollectorEvents {
public:
    QStringList lines;          // the status list
    std::vector<int> lamps;     // every lamp state set, in order
    QString statusText = QStringLiteral("Ready...");
    bool collectingControls = false; // Start, Stop, Get OID and the inputs as for a run
    int fileNameDialogs = 0;    // how often the File Name dialog ran

    void RunStarted(const RunStart& start) override;
    void LineWritten(const CollectedLine& line, bool runGoesOn) override;
    void WriteFailed(const CollectedLine& line, const QString& error, bool runGoesOn) override;
    void LineAfterStop(const CollectedLine& line) override { AddStatusLine(line.text); }
    void ReadFailed(const ReadFailure& failure) override;
    void RunEnded(RunEnd why) override;
    int AskExistingFile(QString& fileName) override;

    // The idle state of the window after Stop (or before any run).
    bool IsIdle() const;
    // The collecting state after a successful Start.
    bool IsCollecting() const;
    // Status lines that are not data lines (errors, session texts).
    QStringList OtherLines() const;
    QStringList DataLines() const;

private:
    void AddStatusLine(const QString& text);
};
