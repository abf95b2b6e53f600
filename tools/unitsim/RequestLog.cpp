#include "tools/unitsim/RequestLog.h"

namespace unitsim {

bool RequestLog::Open(const QString& path, QString& error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QString("%1: cannot write the request log: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

void RequestLog::Write(const QString& address, const QString& protocol, const QString& text)
{
    if (!m_file.isOpen())
        return;
    m_file.write((address + ' ' + protocol + ' ' + text + '\n').toUtf8());
    m_file.flush();
}

} // namespace unitsim
