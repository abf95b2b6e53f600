#pragma once
// Helpers of the discovery-scan tests: a headless view that records what the scan shows,
// the reads the scan is expected to send, and the rows it is expected to list.
#include "oidgen/CSensorScan.h"

#include <QList>
#include <QStringList>

#include <string>
#include <vector>

struct RecordedItem {
    std::string label;
    int icon;
    std::string description;
    std::string status;
    CSensorRow* row;
    bool checked = false;
};

class RecordingView : public IScanView {
public:
    void AddListItem(const std::string& label, int iconIndex, const std::string& description,
                     const std::string& status, CSensorRow* row) override;
    void CheckAllItems() override;
    void SetStatusText(const std::string& text) override;
    // As the dialog shows them: platform::MessageBox, which tests catch.
    void ShowMessageBox(const std::string& text) override;

    std::vector<RecordedItem> items;
    std::vector<std::string> statusTexts;
    int checkAllCalls = 0;
};

// The OEM prefix of this build followed by rest ("1.2.2.1.16.1.5.2").
QString Oem(const std::string& rest);

// The reads a scan should send, in order, as the unit's request log shows them.
class ExpectedReads {
public:
    ExpectedReads& Get(const std::vector<std::string>& rests);
    ExpectedReads& PortCountProbe() { return Get({"1.2.2.1.16.1.5.2"}); }
    ExpectedReads& NumberingProbe() { return Get({"1.2.2.1.101.0"}); }
    ExpectedReads& StatusPair(int p);
    ExpectedReads& Description16(int p);
    ExpectedReads& Description17AndType(int p);
    ExpectedReads& FamilyCount(int family);
    ExpectedReads& FamilyStatus(int family, int e);
    ExpectedReads& FamilyDescription(int family, int e);
    ExpectedReads& ArrayProbe(int array);
    ExpectedReads& ArrayStatus(int array, int e);
    ExpectedReads& ArrayDescription(int array, int e);

    QList<QStringList> requests;
};

struct ExpectedRow {
    std::string label;
    std::string description;
    int icon;
    std::string oidRest; // the row's OID after the OEM prefix
};

// Checks the listed items against rows, in order: label, description, status "Online", icon,
// OID, the item pointing at the row of the same position in scan.m_rows, and the tick.
void ExpectRows(const CSensorScan& scan, const RecordingView& view, const std::vector<ExpectedRow>& rows,
                bool ticked);
