#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A real SNMP agent for tests: snmpsimd serving .snmprec files on address:port (the test's own
// loopback address, normally the real port 161), as the unprivileged user nobody. Each file's
// base name is the community it answers. Starting waits until the agent answers a GET;
// destruction stops it and removes its files.
class SnmpSimAgent {
public:
    SnmpSimAgent(const std::string& address, const std::vector<std::string>& recordFiles, int port = 161);
    ~SnmpSimAgent();
    SnmpSimAgent(const SnmpSimAgent&) = delete;
    SnmpSimAgent& operator=(const SnmpSimAgent&) = delete;

    // True once the agent answered; false when it could not be started (see Log()).
    bool IsReady() const { return m_bReady; }
    // What went wrong while starting, and the simulator's own output.
    std::string Log() const;
    const std::string& Address() const { return m_strAddress; }
    int Port() const { return m_nPort; }

    // Path of a record file in the test data folder tests/data/snmpsim/.
    static std::string DataFile(const std::string& name);
    // True when snmpsimd is installed.
    static bool IsAvailable();

private:
    bool Launch();
    bool WaitUntilAnswering(const std::string& community);
    void Stop();

    std::string m_strAddress;
    int m_nPort;
    std::string m_strDir;
    std::string m_strError;
    pid_t m_pid = -1;
    bool m_bReady = false;
};

} // namespace testsupport
