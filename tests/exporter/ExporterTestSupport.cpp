#include "ExporterTestSupport.h"

#include "common/TestSupport.h"
#include "oidgen/OidTemplates.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>

#include <sstream>

int ConnectFrom(const std::string& from, const std::string& to, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in remote {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    ::inet_pton(AF_INET, to.c_str(), &remote.sin_addr);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0
        && ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool RawClient::Connect(const std::string& from, const std::string& to, std::uint16_t port)
{
    m_fd = ConnectFrom(from, to, port);
    return m_fd >= 0;
}

bool RawClient::Send(const std::string& bytes)
{
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::string RawClient::Read(std::chrono::milliseconds timeout, bool* closed)
{
    std::string received;
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd one {m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&one, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed)
                *closed = true;
            return received;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    if (closed)
        *closed = false;
    return received;
}

int RawClient::PeekStatus(int waitMs)
{
    pollfd one {m_fd, POLLIN, 0};
    if (::poll(&one, 1, waitMs) <= 0)
        return 0;
    char buffer[64] = {};
    if (::recv(m_fd, buffer, sizeof buffer - 1, MSG_PEEK) < 12)
        return 0;
    return std::atoi(buffer + 9);
}

void RawClient::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QJsonObject VirtualUnit(const std::string& address, const std::string& name, const QJsonArray& values,
                        const QJsonObject& faults, const std::string& community)
{
    QJsonArray ports;
    for (int i = 0; i < values.size(); ++i)
        ports.append(QJsonObject{{"index", i},
                                 {"table16", QJsonObject{{"status", 1},
                                                         {"description", QString::fromStdString(name) +
                                                                             QString(" sensor %1").arg(i)},
                                                         {"value", values.at(i)}}}});
    QJsonObject unit{{"address", QString::fromStdString(address)},
                     {"community", QString::fromStdString(community)},
                     {"name", QString::fromStdString(name)},
                     {"portCount", 8},
                     {"ports", ports}};
    if (!faults.isEmpty())
        unit["faults"] = faults;
    return unit;
}

std::string ValueOid(int port)
{
    return ExpandedOid(oidtpl::kTable16Value, port);
}

CExporterUnit ConfiguredUnit(const std::string& name, const std::string& address, const std::string& community)
{
    CExporterUnit unit;
    unit.m_strName = name;
    unit.m_strAddress = address;
    unit.m_strCommunity = community;
    unit.m_bAllOnline = true;
    unit.m_nTimeout = 1;
    unit.m_nRetries = 0;
    return unit;
}

std::string UnitAddress(int n)
{
    return testsupport::TestAddress(testsupport::CurrentTestAddress() + "#" + std::to_string(n));
}

std::vector<std::string> LinesStartingWith(const std::string& page, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(page);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    return lines;
}

std::string PromtoolProblems(const std::string& page, bool& skipped)
{
    const QString promtool = QStandardPaths::findExecutable("promtool");
    skipped = promtool.isEmpty();
    if (skipped)
        return {};
    QProcess process;
    process.start(promtool, {"check", "metrics"});
    process.write(QByteArray::fromStdString(page));
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return "promtool did not finish";
    const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return "promtool failed: " + output.toStdString();
    return output.trimmed().toStdString();
}

std::string HttpGet(const QString& url, int& status)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(url)));
    testsupport::WaitUntil([reply] { return reply->isFinished(); }, 30000);
    status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    delete reply;
    return body.toStdString();
}

ServeProcess::~ServeProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString TlsFiles::Make(const QString& serverAddress, bool& skipped)
{
    skipped = QStandardPaths::findExecutable("openssl").isEmpty() || QStandardPaths::findExecutable("htpasswd").isEmpty();
    if (skipped)
        return "openssl or htpasswd (apache2-utils) is not installed";
    const QString script = QString(
        "set -e; cd \"$0\"; umask 077\n"
        "key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out \"$1\" 2>/dev/null; }\n"
        "key ca.key; openssl req -x509 -new -key ca.key -out ca.crt -days 2 -subj /CN=veltrane-test-ca\n"
        "key server.key; openssl req -new -key server.key -out server.csr -subj /CN=%1\n"
        "printf 'subjectAltName=IP:%1\\nextendedKeyUsage=serverAuth\\n' > server.ext\n"
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 "
        "-extfile server.ext 2>/dev/null\n"
        "key client.key; openssl req -new -key client.key -out client.csr -subj /CN=prometheus\n"
        "printf 'extendedKeyUsage=clientAuth\\n' > client.ext\n"
        "openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out client.crt -days 2 "
        "-extfile client.ext 2>/dev/null\n"
        "key other.key; openssl req -x509 -new -key other.key -out other.crt -days 2 -subj /CN=prometheus\n"
        "chmod 644 ca.crt server.crt client.crt other.crt\n"
        "printf '%2' > password\n"
        "hash=$(htpasswd -nbBC 5 '' '%2' | tr -d ':\\n')\n"
        "printf 'tls_server_config:\\n  cert_file: server.crt\\n  key_file: server.key\\n"
        "  client_ca_file: ca.crt\\n  client_auth_type: RequireAndVerifyClientCert\\n"
        "basic_auth_users:\\n  prometheus: %s\\n' \"$hash\" > web.yml\n")
                               .arg(serverAddress, kPassword);
    QProcess shell;
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start("sh", {"-c", script, folder});
    if (!shell.waitForFinished(60000) || shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
        return "making the certificates failed: " + QString::fromUtf8(shell.readAll());
    return {};
}

bool ServeProcess::Start(const QJsonObject& config, const QString& listen, const QStringList& options)
{
    if (!WriteConfig(QJsonDocument(config).toJson()))
        return false;
    m_strListen = listen;
    m_process.start(VELTRANE_CLI, QStringList{"serve", "--listen", listen} + options + QStringList{ConfigPath()});
    return testsupport::WaitUntil([this] { return Log().contains("serving") || m_process.state() == QProcess::NotRunning; },
                                  20000) &&
           m_process.state() == QProcess::Running;
}

bool ServeProcess::WriteConfig(const QByteArray& bytes, int mode)
{
    QFile file(ConfigPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::chmod(ConfigPath().toLocal8Bit().constData(), static_cast<mode_t>(mode)) == 0;
}

bool ServeProcess::Signal(int number)
{
    ::kill(static_cast<pid_t>(m_process.processId()), number);
    if (number != SIGTERM && number != SIGINT)
        return true;
    const bool ended = m_process.waitForFinished(20000);
    Log();
    return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString ServeProcess::Log()
{
    m_strLog += QString::fromUtf8(m_process.readAllStandardError());
    return m_strLog;
}

QString PrometheusProcess::Program()
{
    return QStandardPaths::findExecutable("prometheus");
}

PrometheusProcess::~PrometheusProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(15000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool PrometheusProcess::Start(const QString& listen, const QString& config, bool agent)
{
    const QString path = m_dir.filePath("prometheus.yml");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return false;
    file.close();
    m_strApi = "http://" + listen + "/api/v1/";
    QStringList arguments{"--config.file=" + path, "--web.listen-address=" + listen, "--log.level=warn"};
    if (agent)
        arguments << "--enable-feature=agent" << "--storage.agent.path=" + m_dir.filePath("agent");
    else
        arguments << "--storage.tsdb.path=" + m_dir.filePath("data") << "--web.enable-remote-write-receiver";
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(Program(), arguments);
    return m_process.waitForStarted(10000);
}

QJsonArray PrometheusProcess::Query(const QString& query)
{
    int status = 0;
    const std::string body = HttpGet(m_strApi + "query?query=" + QUrl::toPercentEncoding(query), status);
    if (status != 200)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object()["data"].toObject()["result"].toArray();
}

QJsonArray PrometheusProcess::QueryRange(const QString& query, std::int64_t from, std::int64_t to, int step)
{
    int status = 0;
    const std::string body = HttpGet(m_strApi + "query_range?query=" + QUrl::toPercentEncoding(query) +
                                         QString("&start=%1&end=%2&step=%3").arg(from).arg(to).arg(step),
                                     status);
    if (status != 200)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object()["data"].toObject()["result"].toArray();
}

QString PrometheusProcess::Output()
{
    return QString::fromUtf8(m_process.readAll());
}

QString SourceFile(const QString& path, const std::vector<std::pair<QString, QString>>& replaced)
{
    QFile file(QString(VELTRANE_SOURCE_DIR) + "/" + path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    for (const auto& [from, to] : replaced)
        text.replace(from, to);
    return text;
}
