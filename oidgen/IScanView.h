#pragma once
#include <string>

class CSensorRow;

// What the discovery scan shows while it runs, as the Generate OID dialog's widgets show it:
// each row as it is found, the ticks, the status field and the message boxes. What the scan
// found comes back whole as its ScanResult; a front end overrides only what it shows as it
// happens, since every method does nothing by default.
//
// Every call comes from the scanning thread: an implementation that touches widgets hands the
// call to the UI thread with platform::SendToUi (which blocks the scan until it has run, as the
// dialog's window messages do). Tests implement it headless.
class IScanView {
public:
    virtual ~IScanView() = default;

    // Appends a list item at the end: text label, image iconIndex (CSensorRow::kNoIcon shows
    // none), sub-item 1 the description, sub-item 2 the status; its item data is row, which
    // stays owned by the scan.
    virtual void AddListItem(const std::string& /*label*/, int /*iconIndex*/, const std::string& /*description*/,
                             const std::string& /*status*/, CSensorRow* /*row*/)
    {
    }
    // Ticks the check box of every item, first to last.
    virtual void CheckAllItems() {}
    // Sets the dialog's status field.
    virtual void SetStatusText(const std::string& /*text*/) {}
    // A message for the user; the scan goes on once it returns (the dialog's OK-only box blocks
    // it until closed). Not called once the scan is abandoned.
    virtual void ShowMessageBox(const std::string& /*text*/) {}
};
