#pragma once
#include "collect/CDataFile.h"
#include "collect/ColumnsSidecar.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CCollectRun;
class ICollectorEvents;
struct CViewLink;

// The periodic collection: the settings of the next run, the run in progress, timer 11 and the
// worker threads of its ticks. Everything but the workers runs on the UI thread. One collector
// per process; the main window creates it on the first Start and keeps it to the end.
//
// The state a worker needs (the run's settings, its data file, m_bStopped, m_bCycleBusy) lives
// in the run (CCollectRun), which the worker shares: Set... calls and a new Start change only
// the collector's own fields, never those of a run a worker is still busy with.
class CCollector {
public:
    // The identifier the main window's collection timer has always had.
    static constexpr int kCollectTimerId = 11;
    // Period bounds in seconds. Below one second the time stamps (whole seconds) could no
    // longer tell lines apart, and a period of 0 would ask for a busy loop; above 2,147,483 s
    // (about 24.8 days) the interval in milliseconds no longer fits the timer's 32 bits.
    static constexpr std::int32_t kMinPeriod = 1;
    static constexpr std::int32_t kMaxPeriod = 2147483;
    // How long closing waits for a running cycle before cutting its worker loose.
    static constexpr std::chrono::milliseconds kCloseWait {1000};

    // Binds the collector to the front end that gets its events (the main window) and makes it
    // g_pCollector.
    explicit CCollector(ICollectorEvents* pDialog);
    // Ends an active run without Stop (the file is closed; a late cycle writes nothing) and
    // waits a little for running workers.
    ~CCollector();
    CCollector(const CCollector&) = delete;
    CCollector& operator=(const CCollector&) = delete;

    void SetOidList(const QStringList& oidList);
    void SetOidList(const std::vector<std::string>& oidList);
    // What each OID of the list is (the Generate OID dialog's rows, or a scan's), for the data
    // file's column sidecar. A list that does not match the OID list is ignored: the sidecar
    // then records the OIDs alone.
    void SetColumns(const std::vector<datafile::Column>& columns);
    void SetAgent(const QString& agent);
    // The community's bytes, sent as they are.
    void SetCommunity(const std::string& community);
    void SetPeriod(std::int32_t period);
    // The folder's bytes, as the system names it; the file name (typed by the user) goes on as
    // UTF-8.
    void SetFolder(const std::string& folder);

    // Chooses and opens the data file (asking AskExistingFile when it exists), records the run's
    // columns in the sidecar beside it (a failure is told with RunStarted, the run goes on),
    // reports RunStarted, starts timer 11 and takes the first line at once.
    // Ends early, with no run and RunEnded(Cancelled or FileError), on Cancel or a file error
    // (shown in a message box).
    void StartRun();
    // Kills the timer, closes the file and reports RunEnded(Stopped). Does not wait for a
    // running cycle: it finds the run stopped and writes nothing.
    void StopRun();

    // One cycle of the active run on the calling thread (nothing without a run).
    void RunCycle();

    // The local time now as the data file's lines begin (datafile::kTimeStampFormat).
    static std::string FormatTimeStamp();
    // Timer 11's callback, on the UI thread; reaches the collector through g_pCollector.
    static void OnCollectTimer();
    // A tick's worker: one cycle of run, then m_bCycleBusy cleared. Returns 1.
    static int CollectThreadProc(std::shared_ptr<CCollectRun> run, std::shared_ptr<std::atomic<bool>> pDone);

    // The timer interval for a period in seconds, bounded to [kMinPeriod, kMaxPeriod].
    static std::chrono::milliseconds CollectInterval(std::int32_t period);
    // The period text as a decimal integer (leading digits, like atoi), saturated to 32 bits
    // rather than wrapped.
    static std::int32_t PeriodFromText(const QString& text);

    bool IsRunActive() const;
    bool IsCycleBusy() const;
    // The data file of the active run, as bytes (empty without one).
    std::string DataFilePath() const;
    const QTimer& Timer() const { return m_timer; }

private:
    struct CWorker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> pDone;
    };
    // Joins the workers that have finished, waiting up to wait for the others.
    void ReapWorkers(std::chrono::milliseconds wait);
    // A run that cannot begin for a file error: the message box, then RunEnded(FileError).
    void FailStart(const QString& error);
    // The run's record into the data file's column sidecar. Returns the status line that says
    // why it was not written, or nothing.
    QString WriteColumns(const std::string& path, CDataFile::Mode mode);

    ICollectorEvents* const m_pDialog; // the main window, or another front end
    const std::shared_ptr<CViewLink> m_pViewLink;
    std::string m_strFolder;
    std::shared_ptr<CCollectRun> m_pRun; // the active run, with its m_file, m_bStopped, m_bCycleBusy
    std::string m_strCommunity;
    QString m_strAgent;
    std::int32_t m_nPeriod = 0;
    QString m_strError;   // the last file error of StartRun
    QString m_strMessage; // the "Saving data" text of the run
    std::vector<std::string> m_oidList;
    std::vector<datafile::Column> m_columns;
    QTimer m_timer;       // timer 11
    std::vector<CWorker> m_workers;
};

// The one collector of the process; set by its construction, cleared by its destruction.
extern CCollector* g_pCollector;
