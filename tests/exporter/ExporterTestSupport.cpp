#include "ExporterTestSupport.h"

#include "common/TestSupport.h"
#include "oidgen/OidTemplates.h"

#include <QProcess>
#include <QStandardPaths>

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
