#pragma once
#include <gtest/gtest.h>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace testsupport {

// Runs veltrane-unitsim (the virtual unit) for one test and shows what it received.
//
//   UnitSimProcess sim;
//   ASSERT_TRUE(sim.StartUnit(QJsonObject{{"numbering", 0}, {"ports", ...}}, CurrentTestAddress()))
//       << sim.Error();
//   ... talk SNMP to CurrentTestAddress() ...
//   EXPECT_EQ(sim.Requests().size(), 3);
//
// The description is written to a temporary folder with the request log (--log). Start*
// returns once the simulator listens (its "ready" line), or false with Error() telling why
// (invalid description, address in use, ...). The destructor stops it. Port 161 needs root:
// skip such tests with GTEST_SKIP() unless CanBindPrivilegedPorts().
class UnitSimProcess {
public:
    UnitSimProcess();
    ~UnitSimProcess();
    UnitSimProcess(const UnitSimProcess&) = delete;
    UnitSimProcess& operator=(const UnitSimProcess&) = delete;

    // The path of the veltrane-unitsim executable of this build.
    static QString Program();

    // One unit: unit is a unit object without "address" (the address is set from address;
    // "community" defaults to "public").
    bool StartUnit(const QJsonObject& unit, const std::string& address);
    // A whole description ({"units": [...]}).
    bool Start(const QJsonObject& description);
    // A description file as it is.
    bool StartFile(const QString& path);

    // Sends SIGTERM and waits; true when the simulator exited cleanly (code 0).
    bool Stop();
    bool IsRunning() const;

    // Why Start failed, or what the simulator printed on stderr.
    QString Error() const { return m_error; }
    QString StandardOutput() const { return m_stdout; }

    // The request log, one entry per request received:
    // "<address> snmp GET .1.3.6.1.4.1.32473.1.2.2.1.16.1.5.2 ..."
    QStringList LogLines() const;
    // The OIDs of each request in the log, in arrival order (one list per request).
    QList<QStringList> Requests() const;
    // Forgets what the log holds so far (Requests() then shows only later requests).
    void ClearLog();

    // The folder the description and log are written to (lives as long as this object).
    QString Folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
    QString m_stdout;
    int m_nSkipLines = 0;
};

// For ASSERT_TRUE(Started(sim, sim.StartUnit(...))): the simulator's error as the failure text.
testing::AssertionResult Started(const UnitSimProcess& sim, bool ok);

} // namespace testsupport
