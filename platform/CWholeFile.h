#pragma once
#include <string>

// Puts a whole text into its file, or nothing at all: a datalog report, a column sidecar.
//
// Open checks that the file can be written and, for a replacement, makes a new file beside
// it. Commit then either appends the text with one write, cut back to the old end if the write
// fails, or writes the new file and renames it over the old one. Both are flushed to the disk
// before they count, and so is the folder after a rename or a new file, so that a power cut
// brings back neither the old text nor none. Only regular files are written; a path
// with a zero byte is refused.
class CWholeFile {
public:
    CWholeFile() = default;
    ~CWholeFile();
    CWholeFile(const CWholeFile&) = delete;
    CWholeFile& operator=(const CWholeFile&) = delete;

    bool Open(const std::string& path, bool append);
    bool Commit(const std::string& text);
    // The system's text for the last failure.
    std::string ErrorText() const;
    // The failed Commit did put the new report in place; only syncing its folder failed.
    bool InPlace() const { return m_bInPlace; }

private:
    void Discard();

    std::string m_strPath;
    std::string m_strTempPath; // the replacement, until it is renamed
    int m_fd = -1;
    bool m_bAppend = false;
    bool m_bCreated = false;   // appending made the file: a failed write removes it again
    bool m_bInPlace = false;
    int m_nError = 0;
};
