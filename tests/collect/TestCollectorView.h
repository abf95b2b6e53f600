#pragma once
#include "collect/ICollectorView.h"

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

// The main window as the collector sees it, recording every call. All calls arrive on the UI
// thread (workers go through SendToUi), where the tests read them too.
class CTestView : public ICollectorView {
public:
    QStringList lines;          // the status list
    std::vector<int> lamps;     // every lamp state set, in order
    QString statusText = QStringLiteral("Ready...");
    bool inputsEnabled = true;
    std::map<RunButton, bool> buttons {{RunButton::Start, true}, {RunButton::Stop, false}, {RunButton::GetOid, true}};
    RunButton focus = RunButton::Start;
    int fileNameDialogs = 0;    // how often the File Name dialog ran

    void AddStatusLine(const QString& text, bool isFileLink) override;
    void SetStatusText(const QString& text) override { statusText = text; }
    void SetStatusLamp(int state) override { lamps.push_back(state); }
    void EnableSettingInputs(bool enable) override { inputsEnabled = enable; }
    void EnableRunButton(RunButton button, bool enable) override { buttons[button] = enable; }
    void FocusRunButton(RunButton button) override { focus = button; }
    void ClearStatusList() override { lines.clear(); }
    int RunFileNameDialog(QString& fileName) override;

    // The idle state of the window after Stop (or before any run).
    bool IsIdle() const;
    // The collecting state after a successful Start.
    bool IsCollecting() const;
    // Status lines that are not data lines (errors, session texts).
    QStringList OtherLines() const;
    QStringList DataLines() const;
};
