#include "collect/ColumnsSidecarFile.h"

#include "platform/CWholeFile.h"

#include <cerrno>
#include <cstring>

bool WriteColumnsRecord(const std::string& dataPath, const datafile::ColumnsRecord& record, bool fresh,
                        std::string& error)
{
    const std::string path = datafile::SidecarPath(dataPath);
    std::string existing;
    if (!fresh) {
        const int err = datafile::ReadSidecarBytes(path, existing);
        if (err != 0) {
            char buffer[256];
            error = path + ": " + ::strerror_r(err, buffer, sizeof buffer);
            return false;
        }
    }
    const std::string text = datafile::AddRecord(existing, record);
    if (static_cast<std::int64_t>(text.size()) > datafile::kMaxFileSize) {
        error = path + ": full (a reader would not see this run)";
        return false;
    }
    CWholeFile file;
    if (!file.Open(path, false) || !file.Commit(text)) {
        error = path + ": " + file.ErrorText();
        return false;
    }
    return true;
}
