#pragma once
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CPlotChart;
class CPlotReader;
class QChartView;
class QFileSystemWatcher;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
template <typename T> class QFutureWatcher;

// A window that plots a data file or a report: the chart (wheel and drag zoom the time axis,
// legend entries hide and show their line, the pointer on a line reads out its point), the
// read-out, what was skipped, and the chart's text alternative. The file is read in slices so
// the program stays responsive on a large one; a live window then follows the file as it
// grows (a running collection's new lines appear as they are written). A zoomed view reads its
// range again at full resolution in the background, from the stretches of the file that hold it.
class CPlotWindow : public QWidget {
    Q_OBJECT
public:
    // The file is opened here; IsOpen() tells whether that worked (Error() is its errno). path
    // carries the file name's bytes as platform::EscapedText gives them.
    CPlotWindow(const QString& path, const QStringList& columnNames, bool live, QWidget* parent = nullptr);
    ~CPlotWindow() override;

    bool IsOpen() const;
    int Error() const;
    // True once the whole file has been read (the first time).
    bool IsLoaded() const { return m_bLoaded; }
    void SetColumnNames(const QStringList& names);

    // Reads what the file gained since the last look and redraws when anything changed.
    void Refresh();
    // Reads the values timed from..to at full resolution in the background and shows them if
    // the chart is still zoomed; a request made meanwhile supersedes it (its result is dropped).
    void ShowDetail(double from, double to);
    // "Export to CSV...": asks where, then writes the file as CSV there (see plot/CsvExport.h).
    void OnExportCsv();
    // Writes the file as CSV to out (bytes); the outcome goes to the read-out line, a failure
    // also to a message box. True when written.
    bool ExportCsv(const std::string& out);

    CPlotChart* Chart() const { return m_chart; }
    QChartView* ChartView() const;
    QString ReadOutText() const;
    QString SkippedText() const;
    // The chart's note on columns without names (empty when all have one).
    QString NamesText() const;
    const CPlotReader& Reader() const { return *m_pReader; }

    // Opens a plot window for path, or tells the user why it cannot (message box). Returns the
    // window, shown and deleted when closed; null on failure.
    static CPlotWindow* Open(const QString& path, const QStringList& columnNames, bool live, QWidget* parent);

signals:
    // The file has been read (the first time) or gained lines that are now drawn.
    void Updated();
    // The chart shows the values of from..to at full resolution.
    void DetailShown(std::int64_t from, std::int64_t to);

private:
    void ReadSlice();
    void Redraw();
    void ShowReadOut(const QString& text);
    void OnZoomChanged();
    void StartDetail();
    void OnDetailRead();

    std::unique_ptr<CPlotReader> m_pReader;
    QString m_strShownPath; // the path as the user reads it
    QStringList m_columnNames;
    CPlotChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QLabel* m_labelReadOut = nullptr;
    QLabel* m_labelSkipped = nullptr;
    QLabel* m_labelNames = nullptr; // why columns have no names, when any have none
    QPlainTextEdit* m_editSummary = nullptr;
    QPushButton* m_btnResetZoom = nullptr;
    QPushButton* m_btnExport = nullptr;
    QPushButton* m_btnClose = nullptr;
    QTimer* m_timerRead = nullptr;
    QTimer* m_timerLive = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    // The zoomed view's range read: one at a time; the latest request waits for it.
    QTimer* m_timerDetail = nullptr; // lets a run of wheel steps settle first
    QFutureWatcher<std::shared_ptr<CPlotReader>>* m_detailWatcher = nullptr;
    std::shared_ptr<std::atomic_bool> m_pDetailCancel;
    std::int64_t m_nDetailFrom = 0;
    std::int64_t m_nDetailTo = 0;
    std::uint64_t m_nDetailWanted = 0;  // the latest request
    std::uint64_t m_nDetailRunning = 0; // the request being read
    bool m_bDetailPending = false;
    bool m_bLive = false;
    bool m_bLoaded = false;
};
