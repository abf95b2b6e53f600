#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

namespace testsupport {

// A loopback address of the test's own, derived from key (use the test's full name), in
// 127.16.0.0 - 127.215.255.255: parallel test runs never share a unit address, and no test ever
// sends a packet off this machine.
std::string TestAddress(const std::string& key);
// The address for the running gtest test.
std::string CurrentTestAddress();

// Runs the event loop until pred is true or timeoutMs passed; returns pred's last value.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

// Writes bytes to path (made or emptied) and gives it mode; a failure fails the test.
void WriteFileWithMode(const QString& path, const QByteArray& bytes, unsigned mode);

// True when this process may bind the real ports 161 and 811 (root, as CI runs).
bool CanBindPrivilegedPorts();

// Records every message box while it lives (and answers it with OK).
class MessageBoxSpy {
public:
    MessageBoxSpy();
    ~MessageBoxSpy();
    QStringList texts() const;
    QStringList captions() const;

private:
    struct Data;
    std::shared_ptr<Data> m_data;
};

} // namespace testsupport
