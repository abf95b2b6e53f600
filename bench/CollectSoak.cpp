// Soak driver for the collector: one run against a unit, ticks as fast as the unit answers
// (a tick every millisecond, dropped while a cycle runs, as the collection timer's are), until
// the given number of cycles has run. Prints the process's resident memory, open descriptors
// and threads at the start and at the end of the run (and after Stop), and the lines written against the cycles run.
//
//   collect_soak <unit address> <folder> <cycles> <oid>...
#include "collect/CCollector.h"
#include "collect/ICollectorEvents.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Counts what the cycles report; keeps nothing, so the driver's own memory stays flat.
class CCountingView : public ICollectorEvents {
public:
    long long dataLines = 0;
    long long otherLines = 0;
    QString lastOther;

    void RunStarted(const RunStart& start) override
    {
        dataLines = otherLines = 0;
        if (!start.columnsNotSaved.isEmpty())
            Other(start.columnsNotSaved);
    }
    void LineWritten(const CollectedLine&, bool) override { ++dataLines; }
    void WriteFailed(const CollectedLine&, const QString& error, bool) override
    {
        ++dataLines;
        Other(error);
    }
    void LineAfterStop(const CollectedLine&) override { ++dataLines; }
    void ReadFailed(const ReadFailure& failure) override { Other(failure.message); }

private:
    void Other(const QString& text)
    {
        ++otherLines;
        lastOther = text;
    }
};

long StatusField(const char* name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(name) + ':';
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

long OpenFds()
{
    return static_cast<long>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

void PrintUsage(const char* when)
{
    std::printf("%-6s RSS %ld kB, open fds %ld, threads %ld\n", when, StatusField("VmRSS"), OpenFds(),
                StatusField("Threads"));
}

long long CountLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count("\r\n");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <unit address> <folder> <cycles> <oid>...\n", argv[0]);
        return 2;
    }
    const long long cycles = std::atoll(argv[3]);
    std::vector<std::string> oids(argv + 4, argv + argc);

    CCountingView view;
    CCollector collector(&view);
    collector.SetOidList(oids);
    collector.SetAgent(QString::fromLocal8Bit(argv[1]));
    collector.SetCommunity(std::string("public"));
    collector.SetPeriod(3600); // the driver ticks; the collector's own timer stays out of the way
    collector.SetFolder(argv[2]);
    collector.StartRun(); // a new file; the first cycle runs here
    if (!collector.IsRunActive()) {
        std::fprintf(stderr, "the run did not start (does %s exist, is the data file new?)\n", argv[2]);
        return 1;
    }
    const QString path = QFile::decodeName(QByteArray::fromStdString(collector.DataFilePath()));
    PrintUsage("start");

    QElapsedTimer elapsed;
    elapsed.start();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (view.dataLines + view.otherLines >= cycles) {
            if (!collector.IsCycleBusy())
                QCoreApplication::quit();
            return;
        }
        CCollector::OnCollectTimer();
    });
    ticker.start(1);
    app.exec();
    const qint64 ms = elapsed.elapsed();
    QThread::msleep(20); // the last worker's thread ends right after its cycle
    PrintUsage("end");   // the run still active, as at the start
    collector.StopRun();
    PrintUsage("stop");  // the data file closed

    const long long run = view.dataLines + view.otherLines;
    std::printf("cycles run %lld (%lld lines, %lld errors) in %.1f s, %.0f cycles/s\n", run, view.dataLines,
                view.otherLines, ms / 1000.0, ms > 0 ? run * 1000.0 / ms : 0.0);
    if (view.otherLines > 0)
        std::printf("last error: %s\n", view.lastOther.toLocal8Bit().constData());
    std::printf("lines written %lld of %lld cycles run\n", CountLines(path), run);
    return 0;
}
