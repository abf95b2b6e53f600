#include "ExporterTestSupport.h"

#include "common/TestSupport.h"
#include "oidgen/OidTemplates.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <sys/stat.h>

#include <sstream>

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

bool ServeProcess::Start(const QJsonObject& config, const QString& listen)
{
    if (!WriteConfig(QJsonDocument(config).toJson()))
        return false;
    m_strListen = listen;
    m_process.start(VELTRANE_CLI, {"serve", "--listen", listen, ConfigPath()});
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
