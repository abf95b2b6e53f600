#pragma once
#include <string>

class CSensorRow;

// What the discovery scan shows, as the Generate OID dialog's widgets will show it. Every call
// comes from the scanning thread: an implementation that touches widgets hands the call to the
// UI thread with platform::SendToUi (which blocks the scan until it has run, as the dialog's
// window messages do). Tests implement it headless.
class IScanView {
public:
    virtual ~IScanView() = default;

    // Appends a list item at the end: text label, image iconIndex (CSensorRow::kNoIcon shows
    // none), sub-item 1 the description, sub-item 2 the status; its item data is row, which
    // stays owned by the scan.
    virtual void AddListItem(const std::string& label, int iconIndex, const std::string& description,
                             const std::string& status, CSensorRow* row) = 0;
    // Ticks the check box of every item, first to last.
    virtual void CheckAllItems() = 0;
    // Sets the dialog's status field.
    virtual void SetStatusText(const std::string& text) = 0;
    // An OK-only message box that blocks the scan until it is closed. By default
    // platform::MessageBox, which is safe to call from any thread.
    virtual void ShowMessageBox(const std::string& text);
};
