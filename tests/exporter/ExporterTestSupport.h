#pragma once
// Helpers of the exporter tests: virtual units with constant sensor values, and a
// configuration for them.
#include "exporter/CExporterConfig.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#define REQUIRE_PORT_161()                                                                                            \
    if (!testsupport::CanBindPrivilegedPorts())                                                                        \
    GTEST_SKIP() << "needs root to serve port 161"

// A TCP client from a loopback address of its own, as the limits per address see clients.
// A TCP connection from the loopback address from (each test host its own) to to:port; the
// descriptor, or -1.
int ConnectFrom(const std::string& from, const std::string& to, std::uint16_t port);

class RawClient {
public:
    RawClient() = default;
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() { Close(); }

    bool Connect(const std::string& from, const std::string& to, std::uint16_t port);
    bool Send(const std::string& bytes);
    // What arrives until the server closes the connection or timeout passes; closed tells which.
    std::string Read(std::chrono::milliseconds timeout, bool* closed = nullptr);
    // The status code of an answer that is there within waitMs, else 0; reads nothing away.
    int PeekStatus(int waitMs);
    void Close();

private:
    int m_fd = -1;
};

// A zero-based unit without sub-tables whose table-16 sensors at ports 0, 1, ... read values
// (numbers or texts), described "<name> sensor <port>".
QJsonObject VirtualUnit(const std::string& address, const std::string& name, const QJsonArray& values,
                        const QJsonObject& faults = {}, const std::string& community = "public");

// The unit's table-16 value OID at port.
std::string ValueOid(int port);

// A configured unit reading every online sensor, with a one-second time-out and no resend.
CExporterUnit ConfiguredUnit(const std::string& name, const std::string& address,
                             const std::string& community = "public");

// A unit address of the running test: "#<n>" after the test's name.
std::string UnitAddress(int n);

// The lines of a page that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& page, const std::string& prefix);

// Runs promtool check metrics on the page; empty when it accepts the page, else its output.
// Sets skipped when promtool is not installed.
std::string PromtoolProblems(const std::string& page, bool& skipped);

// GET of url; the body, with the HTTP status in status (0 when nothing answered).
std::string HttpGet(const QString& url, int& status);

// What serving over TLS with users takes, made in a folder with openssl and htpasswd (the
// programs an operator uses): a CA, a server certificate for an IPv4 address signed by it, a
// client certificate signed by it, another client certificate signed by no one, and a web
// configuration (web.yml) with them and the user "prometheus" whose password is kPassword.
struct TlsFiles {
    static constexpr const char* kPassword = "scrape-secret";
    QString folder;
    // Empty when made, else what went wrong. Skips (skipped) when openssl or htpasswd is missing.
    QString Make(const QString& serverAddress, bool& skipped);
    QString Path(const QString& name) const { return folder + "/" + name; }
};

// A Prometheus server (Debian's /usr/bin/prometheus) with a folder of its own.
class PrometheusProcess {
public:
    static QString Program();
    ~PrometheusProcess();
    // Writes config (YAML) and starts it on listen ("127.x.y.z:port"); agent: in agent mode,
    // else a server that also receives remote_write.
    bool Start(const QString& listen, const QString& config, bool agent = false);
    // The instant vector of query, one entry per series ({"metric": labels, "value": [t, text]}).
    QJsonArray Query(const QString& query);
    // The range vector of query over [from, to] every step seconds.
    QJsonArray QueryRange(const QString& query, std::int64_t from, std::int64_t to, int step);
    QString Output();
    // Where the server keeps its blocks (before Start: where backfilled blocks go).
    QString DataFolder() const { return m_dir.filePath("data"); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_strApi;
};

// A file of the source tree, with each pair's first text replaced by the second.
QString SourceFile(const QString& path, const std::vector<std::pair<QString, QString>>& replaced = {});

// veltrane-cli serve as a process, on a configuration file of its own (mode 0600).
class ServeProcess {
public:
    ~ServeProcess();
    // Starts it listening on listen ("127.x.y.z:port"), with further options, and waits for its
    // "serving" line.
    bool Start(const QJsonObject& config, const QString& listen, const QStringList& options = {});
    // Writes the configuration file anew with these bytes and mode, as an operator edits it.
    bool WriteConfig(const QByteArray& bytes, int mode = 0600);
    // Sends signal; for SIGTERM and SIGINT waits for the end. True when it ended with status 0.
    bool Signal(int number);
    // Standard error so far.
    QString Log();
    QString Url() const { return "http://" + m_strListen + "/metrics"; }
    qint64 Pid() const { return m_process.processId(); }
    QString ConfigPath() const { return m_dir.filePath("units.json"); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_strListen;
    QString m_strLog;
};
