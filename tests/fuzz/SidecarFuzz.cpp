// The column sidecar's reader on any bytes: it never reads out of bounds, keeps its bounds, and
// every record it keeps writes back and reads again as the same record. Lines of a data file
// are then named through it.
#include "collect/ColumnsSidecar.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const datafile::Sidecar sidecar = datafile::ParseSidecar(bytes);
    if (sidecar.records.size() > datafile::kMaxRecords)
        std::abort();
    for (const datafile::ColumnsRecord& record : sidecar.records) {
        if (record.columns.size() > datafile::kMaxColumns)
            std::abort();
        for (const datafile::Column& c : record.columns)
            for (const std::string* field : {&c.port, &c.description, &c.type, &c.oid})
                if (field->size() > datafile::kMaxFieldLength)
                    std::abort();
        const datafile::Sidecar again = datafile::ParseSidecar(datafile::AddRecord("", record));
        if (again.dropped != 0 || again.records.size() != 1 || !(again.records[0] == record))
            std::abort();
    }
    // Adding a record to whatever is there never spoils the new record.
    const datafile::ColumnsRecord added {0, 7, {{"Port 1", "a\tb", "", ".1.2"}}};
    const datafile::Sidecar appended = datafile::ParseSidecar(datafile::AddRecord(bytes, added));
    if (appended.records.empty() || !(appended.records.back() == added))
        std::abort();
    datafile::CColumnMap map(sidecar);
    std::vector<int> series;
    for (std::int64_t line = 0; line < 4; ++line) {
        map.Resolve(line * 1000, line * 100, static_cast<std::size_t>(size % 7), series);
        for (const int s : series)
            if (s < 0 || static_cast<std::size_t>(s) >= map.SeriesCount())
                std::abort();
    }
    return 0;
}
