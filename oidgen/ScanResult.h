#pragma once
#include <string>
#include <vector>

// What a discovery scan found: the rows the Generate OID dialog lists, its status text and
// messages, and whether the unit answered at all.
struct ScanResult {
    struct Row {
        std::string label;
        std::string description; // bytes as the unit sent them
        std::string oid;
        std::string type;  // the sensor type's name, empty when not known
        int typeCode = 0;  // the unit's type number (CSensorRow::m_nType)
    };
    std::vector<Row> rows;             // the dialog's list, in its order
    std::string status;                // the last status text, without its padding blanks
    std::vector<std::string> messages; // the message boxes' texts, in order
    bool answered = false;             // the unit answered the first read with the community
    bool ticked = false;               // the dialog ticks every row (at least one was counted)

    // The OID list that OK would take: every row when ticked, else none.
    std::vector<std::string> Oids() const;
};
