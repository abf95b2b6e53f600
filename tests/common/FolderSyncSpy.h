#pragma once
#include <string>
#include <vector>

namespace testsupport {

// Sees every fsync of a folder: a power cut cannot be staged, but whether a folder was synced
// after a rename or a new file, and what it then held, can. While a spy lives, each fsync of a
// folder in this program, or in a program it runs with PreloadEnvironment(), appends the
// folder's path and its entries to a log of the spy's. Only one spy at a time.
class FolderSyncSpy {
public:
    FolderSyncSpy();
    ~FolderSyncSpy();
    FolderSyncSpy(const FolderSyncSpy&) = delete;
    FolderSyncSpy& operator=(const FolderSyncSpy&) = delete;

    // The entries (sorted, without . and ..) that each sync of folder found in it, in order.
    std::vector<std::vector<std::string>> SyncsOf(const std::string& folder) const;
    // True when a sync of folder found exactly these entries (sorted) in it.
    bool SyncedHolding(const std::string& folder, const std::vector<std::string>& entries) const;

    // The variables a child program needs for the spy: LD_PRELOAD of the spy's library and the
    // log's name, as NAME=value.
    std::vector<std::string> PreloadEnvironment() const;

private:
    std::string m_strLog;
};

} // namespace testsupport
