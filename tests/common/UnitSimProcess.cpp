#include "common/UnitSimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace testsupport {

UnitSimProcess::UnitSimProcess() = default;

UnitSimProcess::~UnitSimProcess()
{
    Stop();
}

QString UnitSimProcess::Program()
{
    return QStringLiteral(VELTRANE_BINARY_DIR "/tools/unitsim/veltrane-unitsim");
}

testing::AssertionResult Started(const UnitSimProcess& sim, bool ok)
{
    if (ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << sim.Error().toStdString();
}

bool UnitSimProcess::StartUnit(const QJsonObject& unit, const std::string& address)
{
    QJsonObject u = unit;
    u["address"] = QString::fromStdString(address);
    return Start(QJsonObject{{"units", QJsonArray{u}}});
}

bool UnitSimProcess::Start(const QJsonObject& description)
{
    const QString path = m_dir.filePath("units.json");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QJsonDocument(description).toJson()) < 0) {
        m_error = "cannot write " + path;
        return false;
    }
    file.close();
    return StartFile(path);
}

bool UnitSimProcess::StartFile(const QString& path)
{
    Stop();
    m_error.clear();
    m_stdout.clear();
    m_nSkipLines = 0;
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(Program());
    m_process->setArguments({"--log", m_dir.filePath("requests.log"), path});
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        m_error = "cannot start " + Program() + ": " + m_process->errorString();
        m_process.reset();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!m_stdout.contains("veltrane-unitsim: ready\n")) {
        if (m_process->state() == QProcess::NotRunning || timer.elapsed() > 15000) {
            m_process->waitForFinished(1000);
            m_error = QString::fromUtf8(m_process->readAllStandardError()).trimmed();
            if (m_error.isEmpty())
                m_error = "veltrane-unitsim did not become ready";
            m_process.reset();
            return false;
        }
        m_process->waitForReadyRead(100);
        m_stdout += QString::fromUtf8(m_process->readAllStandardOutput());
    }
    return true;
}

bool UnitSimProcess::Stop()
{
    if (!m_process)
        return false;
    bool clean = false;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        } else {
            clean = m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
        }
    }
    m_stdout += QString::fromUtf8(m_process->readAllStandardOutput());
    const QString err = QString::fromUtf8(m_process->readAllStandardError()).trimmed();
    if (!err.isEmpty())
        m_error = err;
    m_process.reset();
    return clean;
}

bool UnitSimProcess::IsRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

QStringList UnitSimProcess::LogLines() const
{
    QFile file(m_dir.filePath("requests.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    return lines.mid(m_nSkipLines);
}

QList<QStringList> UnitSimProcess::Requests() const
{
    QList<QStringList> requests;
    for (const QString& line : LogLines()) {
        QStringList oids;
        for (const QString& word : line.split(' ', Qt::SkipEmptyParts))
            if (word.startsWith('.'))
                oids << word;
        requests << oids;
    }
    return requests;
}

void UnitSimProcess::ClearLog()
{
    m_nSkipLines += static_cast<int>(LogLines().size());
}

} // namespace testsupport
