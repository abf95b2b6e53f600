#include "collect/CCollector.h"

#include "collect/CCollectRun.h"
#include "collect/ColumnsSidecarFile.h"
#include "collect/DataFileFormat.h"
#include "collect/ICollectorEvents.h"
#include "platform/MessageBox.h"
#include "platform/TextBytes.h"

#include <algorithm>
#include <ctime>
#include <sys/stat.h>
#include <system_error>

CCollector* g_pCollector = nullptr;

CCollector::CCollector(ICollectorEvents* pDialog) : m_pDialog(pDialog), m_pViewLink(std::make_shared<CViewLink>())
{
    m_pViewLink->pView = pDialog;
    m_timer.setTimerType(Qt::PreciseTimer); // lines a whole number of periods apart
    QObject::connect(&m_timer, &QTimer::timeout, &CCollector::OnCollectTimer);
    g_pCollector = this;
}

CCollector::~CCollector()
{
    m_timer.stop();
    // From here on no worker reaches the window, and none writes: its run is stopped.
    m_pViewLink->bClosed = true;
    m_pViewLink->pView = nullptr;
    if (m_pRun)
        m_pRun->Stop();
    // A cycle that waits for a silent unit may take several seconds more. It holds nothing but
    // its own run, which is stopped, so it is cut loose rather than keeping the program open.
    ReapWorkers(kCloseWait);
    for (CWorker& worker : m_workers)
        worker.thread.detach();
    if (g_pCollector == this)
        g_pCollector = nullptr;
}

void CCollector::SetOidList(const QStringList& oidList)
{
    m_oidList.clear();
    for (const QString& oid : oidList)
        m_oidList.push_back(oid.toStdString());
}

void CCollector::SetOidList(const std::vector<std::string>& oidList)
{
    m_oidList = oidList;
}

void CCollector::SetColumns(const std::vector<datafile::Column>& columns)
{
    m_columns = columns;
}

void CCollector::SetAgent(const QString& agent)
{
    m_strAgent = agent;
}

void CCollector::SetCommunity(const std::string& community)
{
    m_strCommunity = community;
}

void CCollector::SetPeriod(std::int32_t period)
{
    m_nPeriod = period;
}

void CCollector::SetFolder(const std::string& folder)
{
    m_strFolder = folder;
}

void CCollector::StartRun()
{
    if (IsRunActive())
        return; // Start is disabled during a run
    QString name = QString::fromStdString(datafile::FileName(m_strAgent.toStdString()));
    std::string path;
    CDataFile::Mode mode;
    for (;;) {
        // The separator always goes in; a doubled one does no harm.
        path = m_strFolder + '/' + platform::BytesFromText(name);
        const CDataFile::Result exists = CDataFile::TestExists(path);
        if (exists.cause == platform::FileCause::FileNotFound) {
            mode = CDataFile::Mode::NewFile;
            break;
        }
        if (!exists.ok()) {
            FailStart(exists.Text(path));
            return;
        }
        QString fileName = name;
        const int choice = m_pDialog->AskExistingFile(fileName);
        if (choice == ICollectorEvents::kSaveContinuously) {
            mode = CDataFile::Mode::SaveContinuously;
            break;
        }
        if (choice == ICollectorEvents::kOverwrite) {
            mode = CDataFile::Mode::Overwrite;
            break;
        }
        if (choice != ICollectorEvents::kRename) {
            m_pDialog->RunEnded(ICollectorEvents::RunEnd::Cancelled);
            return;
        }
        name = fileName; // the new name is tested in its turn
    }

    auto run = std::make_shared<CCollectRun>(m_pViewLink, path, m_strAgent.toStdString(),
                                             m_strCommunity, m_oidList);
    if (const CDataFile::Result opened = run->Open(mode); !opened.ok()) {
        FailStart(opened.Text(path));
        return;
    }

    m_strMessage = QString::asprintf("Saving data in file name : %s.", name.toUtf8().constData());
    m_pDialog->RunStarted({name, m_strMessage, WriteColumns(path, mode)});
    m_pRun = run; // a fresh run: m_bCycleBusy and m_bStopped are clear
    ReapWorkers(std::chrono::milliseconds(0));
    m_timer.start(CollectInterval(m_nPeriod));
    RunCycle(); // the first line is taken at the moment of Start
}

void CCollector::FailStart(const QString& error)
{
    m_strError = error;
    platform::MessageBox(m_strError);
    m_pDialog->RunEnded(ICollectorEvents::RunEnd::FileError);
}

QString CCollector::WriteColumns(const std::string& path, CDataFile::Mode mode)
{
    // Taken before the first line's time stamp: the record covers the run from its first line.
    datafile::ColumnsRecord record;
    const std::time_t now = std::time(nullptr);
    record.start = datafile::LocalWallClock(now);
    // The zone makes each line's local time one instant, also in the hour that repeats.
    record.zone = datafile::MachineZone();
    record.utcOffset = datafile::LocalUtcOffset(now);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        record.offset = st.st_size; // where the run's first line goes
    const bool described = m_columns.size() == m_oidList.size();
    for (std::size_t i = 0; i < m_oidList.size(); ++i) {
        datafile::Column column = described ? m_columns[i] : datafile::Column();
        column.oid = m_oidList[i];
        record.columns.push_back(std::move(column));
    }
    std::string error;
    if (!WriteColumnsRecord(path, record, mode != CDataFile::Mode::SaveContinuously, error))
        return QStringLiteral("Column names not saved: %1").arg(platform::TextFromBytes(error));
    return {};
}

void CCollector::StopRun()
{
    m_timer.stop();
    if (m_pRun) {
        m_pRun->Stop();
        m_pRun.reset();
    }
    m_pDialog->RunEnded(ICollectorEvents::RunEnd::Stopped);
    ReapWorkers(std::chrono::milliseconds(0));
}

void CCollector::RunCycle()
{
    if (const std::shared_ptr<CCollectRun> run = m_pRun)
        run->RunCycle();
}

std::string CCollector::FormatTimeStamp()
{
    return datafile::TimeStampNow();
}

void CCollector::OnCollectTimer()
{
    CCollector* collector = g_pCollector;
    if (!collector || !collector->m_pRun)
        return;
    const std::shared_ptr<CCollectRun> run = collector->m_pRun;
    if (run->m_bCycleBusy)
        return; // dropped, not queued: a slow unit never causes a backlog
    run->m_bCycleBusy = true;
    collector->ReapWorkers(std::chrono::milliseconds(0));
    auto pDone = std::make_shared<std::atomic<bool>>(false);
    try {
        collector->m_workers.push_back({std::thread(&CCollector::CollectThreadProc, run, pDone), pDone});
    } catch (const std::system_error&) {
        run->m_bCycleBusy = false; // no thread to be had now; the next tick tries again
    }
}

int CCollector::CollectThreadProc(std::shared_ptr<CCollectRun> run, std::shared_ptr<std::atomic<bool>> pDone)
{
    run->RunCycle();
    run->m_bCycleBusy = false;
    *pDone = true;
    return 1;
}

std::chrono::milliseconds CCollector::CollectInterval(std::int32_t period)
{
    return std::chrono::milliseconds(std::int64_t {std::clamp(period, kMinPeriod, kMaxPeriod)} * 1000);
}

std::int32_t CCollector::PeriodFromText(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > std::int64_t {INT32_MAX} + 1)
            value = std::int64_t {INT32_MAX} + 1; // saturated; stays this size
    }
    if (negative)
        return static_cast<std::int32_t>(std::max(-value, std::int64_t {INT32_MIN}));
    return static_cast<std::int32_t>(std::min(value, std::int64_t {INT32_MAX}));
}

bool CCollector::IsRunActive() const
{
    return m_pRun && !m_pRun->IsStopped();
}

bool CCollector::IsCycleBusy() const
{
    return m_pRun && m_pRun->m_bCycleBusy;
}

std::string CCollector::DataFilePath() const
{
    return m_pRun ? m_pRun->Path() : std::string();
}

void CCollector::ReapWorkers(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        std::erase_if(m_workers, [](CWorker& worker) {
            if (!*worker.pDone)
                return false;
            worker.thread.join();
            return true;
        });
        if (m_workers.empty() || std::chrono::steady_clock::now() >= deadline)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
