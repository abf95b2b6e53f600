#pragma once
#include "oidgen/CSensorRow.h"
#include "oidgen/IScanView.h"
#include "oidgen/ScanResult.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CSnmpSession;

// The discovery scan of one unit and the walk of its sub-tables: the Generate OID dialog's
// fields and operations that work without any widget. The dialog derives from it (and from
// IScanView, bound with SetScanView(this) in its constructor), sets m_strIpAddress and
// m_strCommunity, and runs ScanUnit once on its worker thread. Front ends without a list (the
// command line, the exporter) run Scan and use its ScanResult. Tests drive it headless.
//
// A row whose description read failed keeps an empty description, and a table-17 row whose
// type read failed keeps type 0 (no icon); either way the row is still listed and counted,
// after the "Error" message box.
class CSensorScan {
public:
    CSensorScan() = default;
    virtual ~CSensorScan() = default;
    CSensorScan(const CSensorScan&) = delete;
    CSensorScan& operator=(const CSensorScan&) = delete;

    // Where rows, ticks, status texts and message boxes are shown as the scan goes; null shows
    // nothing.
    void SetScanView(IScanView* view) { m_pView = view; }

    // Scans the unit at m_strIpAddress: port count, numbering, both port tables and, on units
    // that have them, the sub-table families and sensor arrays. Returns m_nSensorCount, the
    // rows counted (0 when the unit gave no usable answer). Runs once per object.
    int ScanUnit();
    // ScanUnit, then what it found.
    ScanResult Scan();
    // What the last ScanUnit found.
    const ScanResult& Result() const { return m_result; }
    // Lists a row that is already in m_rows, at the end of the list.
    void AddSensorRow(CSensorRow* row);
    // Walks family 30, 26, 27, 28 or 32, at most its first 64 entries whatever count the unit
    // gives. Returns the rows added, 0 for a family without entries, or -1 as soon as a read
    // fails (rows added before stay listed).
    int WalkSubTable(CSnmpSession& session, int family);
    // Walks sensor arrays 1 to 8 with 8 entries each; results as WalkSubTable.
    int WalkSensorArrays(CSnmpSession& session);

    // From any thread: the scan ends as soon as it can. The read under way gives up within
    // about a second, no further request goes out, and no message box is shown.
    void Abandon() { m_bAbandon = true; }

    // The number in a value text: leading blanks skipped, an optional sign, decimal digits up
    // to the first other character; 0 without digits. Saturates at the int range.
    static int ValueNumber(const std::string& text);
    // A status text without the blanks the dialog pads it with, for a line of text.
    static std::string TrimmedStatus(const std::string& text);

    std::string m_strIpAddress;
    std::string m_strCommunity;
    // The session's time-out (seconds) and resends; the dialog keeps 4 and 4.
    int m_nTimeout = 4;
    int m_nRetries = 4;
    int m_nSensorCount = 0;
    int m_nPortCount = 0;
    bool m_bZeroBasedPorts = true;
    bool m_bHasSubTables = false;
    std::vector<std::unique_ptr<CSensorRow>> m_rows; // creation order; owned here

private:
    // A new row appended to m_rows.
    CSensorRow* NewRow();
    // The row of an online port-table sensor at port p from the table's value and description
    // templates; its type is read with typeTemplate, or is 1 (temperature) without one.
    void AddPortRow(CSnmpSession& session, int p, const char* valueTemplate, const char* descriptionTemplate,
                    const char* typeTemplate);
    void SetStatus(const std::string& text);
    void ShowMessage(const std::string& text);

    IScanView* m_pView = nullptr;
    ScanResult m_result;
    std::atomic<bool> m_bAbandon{false};
};
