#pragma once
#include <string>

namespace platform {

// Makes a rename into the folder that holds path, or the creation of path, survive a power cut:
// syncing a file reaches its data, not the folder entry that names it, so after a rename or a
// new file the folder is synced too. 0 on success, else an errno value. A file system that
// cannot sync a folder at all (EINVAL) counts as success: it has nothing to keep.
int SyncFolderOf(const std::string& path);

} // namespace platform
