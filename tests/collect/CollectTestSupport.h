#pragma once
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace collecttest {

// Reads a whole file as bytes ("" when it cannot be read).
std::string ReadFile(const QString& path);
void WriteFile(const QString& path, const std::string& bytes);

// Another program holding an fcntl lock on a file: a child process that takes the lock and
// keeps it until this object is destroyed.
class CLockHolder {
public:
    CLockHolder(const QString& path, bool writeLock);
    ~CLockHolder();
    CLockHolder(const CLockHolder&) = delete;
    CLockHolder& operator=(const CLockHolder&) = delete;
    bool Holds() const { return m_bHolds; }

private:
    int m_pid = -1;
    bool m_bHolds = false;
};

// What another program can do with a file: read it, and take a write lock on it.
struct OtherProgramAccess {
    bool canRead = false;
    bool canLockForWriting = false;
};
OtherProgramAccess ProbeFromOtherProgram(const QString& path);

// Answers File Name dialogs in turn, driving the real dialog (the radio buttons, the edit and
// OK or Cancel), and records what each one showed when it opened.
struct FileNameAnswer {
    int choice;            // 1 Save Continuously, 2 Overwrite, 3 Rename
    QString newName = {};  // typed into the edit (after choosing)
    bool ok = true;        // OK, else Cancel
};
class CFileNameAnswers {
public:
    explicit CFileNameAnswers(std::vector<FileNameAnswer> answers);
    ~CFileNameAnswers();
    QStringList ShownNames() const;   // the edit's text at opening
    QStringList StatusTexts() const;  // the status text at opening
    int Count() const;

private:
    struct Data;
    std::shared_ptr<Data> m_data;
};

} // namespace collecttest
