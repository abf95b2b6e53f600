#pragma once
#include <string>
#include <vector>

namespace cli {

// The discovery scan of the Generate OID dialog, run on the calling thread, with what the
// dialog would list. Its message boxes become lines on standard error, after messagePrefix.
struct ScanResult {
    struct Row {
        std::string label;
        std::string description; // bytes as the unit sent them
        std::string oid;
        std::string type; // the sensor type's name, empty when not known
    };
    std::vector<Row> rows;    // the dialog's list, in its order
    std::string status;       // the dialog's status text, without its padding blanks
    bool answered = false;    // the unit answered the first read with the community
    bool ticked = false;      // the dialog would tick every row (at least one was counted)

    // The OID list that OK would take: every row when ticked, else none.
    std::vector<std::string> Oids() const;
};

ScanResult ScanUnitAt(const std::string& address, const std::string& community, const std::string& messagePrefix);

} // namespace cli
