#include "common/SnmpSimAgent.h"

#include "common/SnmpBer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kStopTimeout = std::chrono::seconds(5);

} // namespace

SnmpSimAgent::SnmpSimAgent(const std::string& address, const std::vector<std::string>& recordFiles, int port)
    : m_strAddress(address), m_nPort(port)
{
    char dir[] = "/tmp/veltrane-snmpsim-XXXXXX";
    if (!mkdtemp(dir)) {
        m_strError = "cannot create a temporary folder";
        return;
    }
    m_strDir = dir;
    // The agent drops to nobody after binding the port: it must be able to read its data and
    // write its index cache.
    const passwd* nobody = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    if (!nobody || !nogroup) {
        m_strError = "user nobody or group nogroup missing";
        return;
    }
    std::error_code ec;
    fs::create_directory(m_strDir + "/data", ec);
    fs::create_directory(m_strDir + "/cache", ec);
    ::chmod(m_strDir.c_str(), 0755);
    ::chmod((m_strDir + "/data").c_str(), 0755);
    if (::chown((m_strDir + "/cache").c_str(), nobody->pw_uid, nogroup->gr_gid) != 0) {
        m_strError = "cannot hand the cache folder to nobody";
        return;
    }
    for (const auto& file : recordFiles) {
        const std::string target = m_strDir + "/data/" + fs::path(file).filename().string();
        if (!fs::copy_file(file, target, fs::copy_options::overwrite_existing, ec)) {
            m_strError = "cannot copy " + file + ": " + ec.message();
            return;
        }
        ::chmod(target.c_str(), 0644);
    }
    if (recordFiles.empty() || !Launch())
        return;
    m_bReady = WaitUntilAnswering(fs::path(recordFiles.front()).stem().string());
}

SnmpSimAgent::~SnmpSimAgent()
{
    Stop();
    if (!m_strDir.empty()) {
        std::error_code ec;
        fs::remove_all(m_strDir, ec);
    }
}

std::string SnmpSimAgent::DataFile(const std::string& name)
{
    return std::string(VELTRANE_SOURCE_DIR) + "/tests/data/snmpsim/" + name;
}

bool SnmpSimAgent::IsAvailable()
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/snmpsimd").c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string SnmpSimAgent::Log() const
{
    std::string text = m_strError;
    std::ifstream log(m_strDir + "/snmpsim.log");
    if (log) {
        std::stringstream content;
        content << log.rdbuf();
        text += "\n--- snmpsimd output ---\n" + content.str();
    }
    return text;
}

bool SnmpSimAgent::Launch()
{
    const std::string logFile = m_strDir + "/snmpsim.log";
    std::vector<std::string> args = {
        "snmpsimd",
        "--data-dir=" + m_strDir + "/data",
        "--cache-dir=" + m_strDir + "/cache",
        "--agent-udpv4-endpoint=" + m_strAddress + ":" + std::to_string(m_nPort),
        "--process-user=nobody",
        "--process-group=nogroup",
        "--logging-method=stderr",
    };
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&m_pid, "snmpsimd", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        m_strError = "cannot start snmpsimd: " + std::string(strerror(rc));
        return false;
    }
    return true;
}

bool SnmpSimAgent::WaitUntilAnswering(const std::string& community)
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        m_strError = "cannot open a probe socket";
        return false;
    }
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    agent.sin_port = htons(static_cast<std::uint16_t>(m_nPort));
    ::inet_pton(AF_INET, m_strAddress.c_str(), &agent.sin_addr);
    const ber::Bytes probe = ber::Message(0, community, 0xA0, 1, 0, 0, {{{1, 3, 6, 1, 2, 1, 1, 1, 0}, ber::Null()}});

    bool answered = false;
    const auto deadline = Clock::now() + kStartTimeout;
    while (!answered && Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_strError = "snmpsimd ended before it answered (status " + std::to_string(status) + ")";
            break;
        }
        ::sendto(sock, probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr*>(&agent), sizeof agent);
        pollfd pfd{sock, POLLIN, 0};
        if (::poll(&pfd, 1, 250) > 0) {
            std::uint8_t reply[2048];
            answered = ::recv(sock, reply, sizeof reply, 0) > 0;
        }
    }
    ::close(sock);
    if (!answered && m_strError.empty())
        m_strError = "snmpsimd did not answer in time";
    return answered;
}

void SnmpSimAgent::Stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    const auto deadline = Clock::now() + kStopTimeout;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
}

} // namespace testsupport
