#include "collect/CCollectRun.h"

#include "collect/DataFileFormat.h"
#include "collect/ICollectorEvents.h"
#include "platform/OneLine.h"
#include "platform/UiThread.h"
#include "snmp/CSnmpSession.h"

CCollectRun::CCollectRun(std::shared_ptr<CViewLink> view, std::string path, std::string agent, std::string community,
                         std::vector<std::string> oidList)
    : m_pView(std::move(view)),
      m_strPath(std::move(path)),
      m_strAgent(std::move(agent)),
      m_strCommunity(std::move(community)),
      m_oidList(std::move(oidList))
{
}

CDataFile::Result CCollectRun::Open(CDataFile::Mode mode)
{
    std::lock_guard lock(m_mutex);
    return m_file.Open(m_strPath, mode);
}

void CCollectRun::Stop()
{
    std::lock_guard lock(m_mutex);
    m_bStopped = true;
    m_file.Close();
}

bool CCollectRun::IsStopped() const
{
    std::lock_guard lock(m_mutex);
    return m_bStopped;
}

void CCollectRun::CallView(const std::function<void(ICollectorEvents&, bool)>& fn)
{
    if (m_pView->bClosed)
        return;
    // By value: a call dropped at shutdown still sits in the event queue after this frame is gone.
    platform::SendToUi([self = shared_from_this(), fn] {
        if (ICollectorEvents* view = self->m_pView->pView)
            fn(*view, self->IsStopped());
    });
}

void CCollectRun::RunCycle()
{
    // The time of the line is the time the cycle starts, before any network traffic.
    CollectedLine collected;
    collected.time = datafile::TimeStampNow();
    CSnmpSession session;
    std::string error;
    if (!session.Open(m_strAgent, m_strCommunity, kTimeout, kRetries, error)) {
        const ReadFailure failure {false, 0, QString::fromStdString(error)};
        CallView([failure](ICollectorEvents& events, bool) { events.ReadFailed(failure); });
        session.Close();
        return;
    }

    std::vector<std::string> values;
    int errorCode = 0;
    if (!session.Get(m_oidList, values, error, errorCode)) {
        // After Stop a failed read leaves no trace.
        const ReadFailure failure {true, errorCode, QString::asprintf("Error No %d : %s", errorCode, error.c_str())};
        CallView([failure](ICollectorEvents& events, bool stopped) {
            if (!stopped)
                events.ReadFailed(failure);
        });
        session.Close();
        return;
    }
    session.Close();

    std::string line = collected.time;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += datafile::kSeparator;
        // A value's own line break would start a forged line.
        collected.values.push_back(platform::OneLine(values[i]));
        line += collected.values.back();
    }
    collected.text = QString::fromStdString(line);
    line += datafile::kLineEnd;

    // The file is written before the line is shown, so a line the user has seen is on disk.
    bool written = false;
    CDataFile::Result result;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bStopped) {
            result = m_file.WriteLine(line);
            written = true;
        }
    }
    const QString writeError = result.ok() ? QString() : result.Text(m_strPath);
    CallView([collected, written, writeError](ICollectorEvents& events, bool stopped) {
        if (!written)
            events.LineAfterStop(collected); // the read did answer
        else if (writeError.isEmpty())
            events.LineWritten(collected, !stopped);
        else
            events.WriteFailed(collected, writeError, !stopped);
    });
}
