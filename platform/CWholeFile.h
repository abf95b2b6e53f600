#pragma once
#include <sys/types.h>

#include <string>
#include <string_view>

// Puts a whole file in place, or nothing at all: the settings, a datalog report, a column
// sidecar, a CSV export, a chart's picture. The one way the programs replace a file.
//
// Open checks that the file can be written and, for a replacement, makes a new file beside
// it. Write adds bytes (a stream, written as it comes); Commit then either keeps what was
// appended, cut back to the old end if a write failed, or renames the new file over the old
// one. Both are flushed to the disk before they count, and so is the folder after a rename or a
// new file, so that a power cut brings back neither the old text nor none. Only regular files
// are written; a path with a zero byte is refused.
//
// Permissions: a replaced file keeps its mode; a new one gets newMode under the umask (0666
// under the umask, as any program's new file, unless the caller asks for less). A caller whose
// file must have the same mode every time (the settings' 0600, whatever was there) says
// ModeRule::Always. The replacement is private to its owner until it is whole. The umask is
// never changed: it is process-wide, and another thread may be creating a file that moment.
class CWholeFile {
public:
    enum class ModeRule {
        KeepOld, // a replaced file keeps its mode
        Always,  // the file gets newMode under the umask, replaced or new
    };
    static constexpr mode_t kNewFileMode = 0666;

    CWholeFile() = default;
    ~CWholeFile();
    CWholeFile(const CWholeFile&) = delete;
    CWholeFile& operator=(const CWholeFile&) = delete;

    bool Open(const std::string& path, bool append, mode_t newMode = kNewFileMode, ModeRule rule = ModeRule::KeepOld);
    // Adds bytes to the file being written; false (and nothing will be committed) on failure.
    bool Write(std::string_view bytes);
    // Writes text, then commits.
    bool Commit(std::string_view text);
    // Puts what was written in place.
    bool Commit();

    // The errno value of the last failure, and the system's text for it.
    int Error() const { return m_nError; }
    std::string ErrorText() const;
    // The path is there but is no regular file (a folder, a FIFO, a device).
    bool NotRegular() const { return m_bNotRegular; }
    // The failed Commit did put the new file in place; only syncing its folder failed.
    bool InPlace() const { return m_bInPlace; }

    // The process's umask, read once from /proc/self/status (reading it with umask(2) would
    // change it for every thread). 077 when it cannot be read.
    static mode_t Umask();

private:
    void Discard();
    bool Fail(int err);

    std::string m_strPath;
    std::string m_strTempPath; // the replacement, until it is renamed
    int m_fd = -1;
    bool m_bAppend = false;
    bool m_bCreated = false;   // appending made the file: a failed write removes it again
    bool m_bInPlace = false;
    bool m_bNotRegular = false;
    bool m_bWriteFailed = false;
    off_t m_nOldSize = -1;     // appending: where the file ended
    mode_t m_nMode = 0;        // replacing: the mode the file gets
    int m_nError = 0;
};
