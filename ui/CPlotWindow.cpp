#include "ui/CPlotWindow.h"

#include "platform/FileError.h"
#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "platform/TextBytes.h"
#include "plot/CPlotReader.h"
#include "plot/CsvExport.h"
#include "ui/CPlotChart.h"

#include <QChartView>
#include <QFile>
#include <QFileDialog>
#include <QRegularExpression>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Bytes read per turn of the event loop while loading: the window stays responsive.
constexpr std::int64_t kSliceBytes = 8 * 1024 * 1024;
// A live window looks at the file's size this often, besides the watcher's notices.
constexpr int kLivePollMs = 1000;
// A zoom is read in detail once the wheel has rested this long.
constexpr int kDetailDelayMs = 150;
// A range read looks whether it is still wanted after this many bytes.
constexpr std::int64_t kDetailSliceBytes = 1024 * 1024;

// The chart view: the mouse wheel zooms the time axis around the pointer, a drag zooms to the
// stretch of time dragged over.
class CPlotView : public QChartView {
public:
    CPlotView(CPlotChart* chart, QWidget* parent) : QChartView(chart, parent), m_chart(chart)
    {
        setRubberBand(QChartView::HorizontalRubberBand);
        setRenderHint(QPainter::Antialiasing);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void wheelEvent(QWheelEvent* event) override
    {
        const double steps = event->angleDelta().y() / 120.0;
        if (steps == 0 || m_chart->SeriesCount() == 0) {
            event->ignore();
            return;
        }
        const QPointF value = m_chart->mapToValue(event->position(), m_chart->Series(0));
        m_chart->ZoomTime(std::pow(0.8, steps), value.x());
        event->accept();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        // The keyboard zooms too: + and - around the middle, 0 shows everything.
        const double middle = (m_chart->ShownFrom() + m_chart->ShownTo()) / 2;
        if (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal)
            m_chart->ZoomTime(0.8, middle);
        else if (event->key() == Qt::Key_Minus)
            m_chart->ZoomTime(1.25, middle);
        else if (event->key() == Qt::Key_0)
            m_chart->ResetZoom();
        else
            QChartView::keyPressEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        // A right click zooms out a step (the rubber band's own right click would zoom both axes).
        if (event->button() == Qt::RightButton) {
            m_chart->ZoomTime(1.25, (m_chart->ShownFrom() + m_chart->ShownTo()) / 2);
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }

private:
    CPlotChart* m_chart;
};

} // namespace

CPlotWindow::CPlotWindow(const QString& path, const QStringList& columnNames, bool live, QWidget* parent)
    : QWidget(parent, Qt::Window), m_pReader(std::make_unique<CPlotReader>()), m_strShownPath(platform::ShownPath(path)),
      m_columnNames(columnNames), m_bLive(live)
{
    const QString fileName = QFileInfo(m_strShownPath).fileName();
    setWindowTitle(QStringLiteral("Plot - %1").arg(fileName));
    setAccessibleName(windowTitle());
    resize(820, 560);

    m_chart = new CPlotChart();
    m_chart->setTitle(fileName.toHtmlEscaped());
    m_view = new CPlotView(m_chart, this);
    m_view->setAccessibleName(QStringLiteral("Chart of %1").arg(fileName));
    m_view->setMinimumSize(320, 220);

    m_labelReadOut = new QLabel(this);
    m_labelReadOut->setTextFormat(Qt::PlainText);
    m_labelReadOut->setText(QStringLiteral("Point at a line to read its time and value."));
    m_labelSkipped = new QLabel(this);
    m_labelSkipped->setTextFormat(Qt::PlainText);
    m_labelSkipped->setWordWrap(true);
    m_labelSkipped->setText(QStringLiteral("Reading..."));
    m_labelNames = new QLabel(this);
    m_labelNames->setTextFormat(Qt::PlainText);
    m_labelNames->setWordWrap(true);
    m_labelNames->hide();
    auto* summaryLabel = new QLabel(QStringLiteral("Summary"), this);
    m_editSummary = new QPlainTextEdit(this);
    m_editSummary->setReadOnly(true);
    m_editSummary->setAccessibleName(summaryLabel->text());
    m_editSummary->setMaximumHeight(fontMetrics().height() * 5);
    summaryLabel->setBuddy(m_editSummary);
    m_btnResetZoom = new QPushButton(QStringLiteral("Reset Zoom"), this);
    m_btnResetZoom->setAccessibleName(m_btnResetZoom->text());
    m_btnExport = new QPushButton(QStringLiteral("Export to CSV..."), this);
    m_btnExport->setAccessibleName(m_btnExport->text());
    m_btnClose = new QPushButton(QStringLiteral("Close"), this);
    m_btnClose->setAccessibleName(m_btnClose->text());

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_labelReadOut, 1);
    buttons->addWidget(m_btnResetZoom);
    buttons->addWidget(m_btnExport);
    buttons->addWidget(m_btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_labelSkipped);
    layout->addWidget(m_labelNames);
    layout->addWidget(summaryLabel);
    layout->addWidget(m_editSummary);

    connect(m_btnResetZoom, &QPushButton::clicked, m_chart, &CPlotChart::ResetZoom);
    connect(m_btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_btnExport, &QPushButton::clicked, this, &CPlotWindow::OnExportCsv);
    connect(m_chart, &CPlotChart::ReadOutChanged, this, &CPlotWindow::ShowReadOut);
    connect(m_chart, &CPlotChart::ZoomChanged, this, &CPlotWindow::OnZoomChanged);
    m_timerDetail = new QTimer(this);
    m_timerDetail->setSingleShot(true);
    m_timerDetail->setInterval(kDetailDelayMs);
    connect(m_timerDetail, &QTimer::timeout, this, [this] { ShowDetail(m_chart->ShownFrom(), m_chart->ShownTo()); });
    m_detailWatcher = new QFutureWatcher<std::shared_ptr<CPlotReader>>(this);
    connect(m_detailWatcher, &QFutureWatcherBase::finished, this, &CPlotWindow::OnDetailRead);

    if (!m_pReader->Open(path)) {
        m_labelSkipped->setText(platform::FileErrorText(m_pReader->Error(), m_strShownPath));
        return;
    }
    m_timerRead = new QTimer(this);
    m_timerRead->setInterval(0);
    connect(m_timerRead, &QTimer::timeout, this, &CPlotWindow::ReadSlice);
    m_timerRead->start();
}

CPlotWindow::~CPlotWindow()
{
    // A range read still running holds its own reader; it only needs to stop soon.
    if (m_pDetailCancel)
        *m_pDetailCancel = true;
}

bool CPlotWindow::IsOpen() const
{
    return m_pReader->IsOpen();
}

int CPlotWindow::Error() const
{
    return m_pReader->Error();
}

QChartView* CPlotWindow::ChartView() const
{
    return m_view;
}

QString CPlotWindow::ReadOutText() const
{
    return m_labelReadOut->text();
}

QString CPlotWindow::SkippedText() const
{
    return m_labelSkipped->text();
}

QString CPlotWindow::NamesText() const
{
    return m_labelNames->text();
}

void CPlotWindow::SetColumnNames(const QStringList& names)
{
    m_columnNames = names;
    if (m_bLoaded)
        Redraw();
}

void CPlotWindow::ReadSlice()
{
    const CPlotReader::Status status = m_pReader->Read(kSliceBytes);
    if (status == CPlotReader::Status::More)
        return;
    m_timerRead->stop();
    m_pReader->TakeRestarted();
    m_bLoaded = true;
    if (status == CPlotReader::Status::Failed) {
        m_labelSkipped->setText(platform::FileErrorText(m_pReader->Error(), m_strShownPath));
        return;
    }
    Redraw();
    if (m_chart->IsZoomed())
        m_timerDetail->start(); // zoomed while loading
    if (m_bLive) {
        // The watcher takes the path as text: one whose bytes are not UTF-8 would be watched under
        // another name, so such a file is followed by the polling alone.
        const QString& path = m_pReader->Path();
        if (QFile::encodeName(path).toStdString() == platform::EscapedBytes(path)) {
            m_watcher = new QFileSystemWatcher(QStringList {path}, this);
            connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &CPlotWindow::Refresh);
        }
        m_timerLive = new QTimer(this);
        connect(m_timerLive, &QTimer::timeout, this, &CPlotWindow::Refresh);
        m_timerLive->start(kLivePollMs);
    }
}

void CPlotWindow::Refresh()
{
    if (!m_bLoaded || !m_pReader->IsOpen())
        return;
    const std::int64_t before = m_pReader->Offset();
    const CPlotReader::Status status = m_pReader->Read(kSliceBytes);
    const bool restarted = m_pReader->TakeRestarted();
    if (status == CPlotReader::Status::More)
        QTimer::singleShot(0, this, &CPlotWindow::Refresh); // a big jump: the rest in later turns
    // A file replaced under its name is watched anew.
    if (m_watcher && !m_watcher->files().contains(m_pReader->Path()))
        m_watcher->addPath(m_pReader->Path());
    if (restarted || m_pReader->Offset() != before) {
        if (restarted)
            m_chart->ClearDetail(); // of the file that was replaced
        Redraw();
        if (m_chart->IsZoomed())
            m_timerDetail->start(); // the range may have gained values
    }
}

void CPlotWindow::OnZoomChanged()
{
    if (m_chart->IsZoomed()) {
        m_timerDetail->start();
        return;
    }
    // Back to the whole file: whatever is being read for a zoom is no longer wanted.
    m_timerDetail->stop();
    ++m_nDetailWanted;
    m_bDetailPending = false;
    if (m_pDetailCancel)
        *m_pDetailCancel = true;
}

void CPlotWindow::ShowDetail(double from, double to)
{
    // Times of the files' format; anything else reads nothing.
    constexpr double kLimit = 1e13;
    if (!(from <= to) || from < -kLimit || to > kLimit)
        return;
    ++m_nDetailWanted;
    m_nDetailFrom = static_cast<std::int64_t>(std::floor(from));
    m_nDetailTo = static_cast<std::int64_t>(std::ceil(to));
    m_bDetailPending = true;
    if (m_detailWatcher->isRunning()) {
        *m_pDetailCancel = true; // starts anew once that one has stopped
        return;
    }
    StartDetail();
}

void CPlotWindow::StartDetail()
{
    m_bDetailPending = false;
    std::shared_ptr<CPlotReader> range = m_pReader->RangeReader(m_nDetailFrom, m_nDetailTo);
    if (!range)
        return;
    m_nDetailRunning = m_nDetailWanted;
    m_pDetailCancel = std::make_shared<std::atomic_bool>(false);
    m_detailWatcher->setFuture(QtConcurrent::run([range, cancel = m_pDetailCancel] {
        while (!*cancel && range->Read(kDetailSliceBytes) == CPlotReader::Status::More) {}
        return range;
    }));
}

void CPlotWindow::OnDetailRead()
{
    const std::shared_ptr<CPlotReader> range = m_detailWatcher->result();
    if (m_nDetailRunning != m_nDetailWanted) {
        // A late result, for a range no longer shown: dropped, and the one now wanted read.
        if (m_bDetailPending)
            StartDetail();
        return;
    }
    if (!m_chart->IsZoomed())
        return;
    m_chart->SetDetail(range->Data(), range->RangeFrom(), range->RangeTo());
    emit DetailShown(range->RangeFrom(), range->RangeTo());
}

void CPlotWindow::Redraw()
{
    m_chart->SetData(*m_pReader, m_columnNames);
    const QString skipped = m_chart->SkippedText();
    m_labelSkipped->setText(skipped.isEmpty() ? QStringLiteral("%1 lines read, none skipped.").arg(m_pReader->Count().lines)
                                              : skipped);
    const QString zoneNote = QString::fromStdString(AssumedZoneNote(m_pReader->Times().Assumed()));
    const QString note = QStringList {m_chart->NamesNote(), zoneNote}.filter(QRegularExpression(QStringLiteral("."))).join(QLatin1Char(' '));
    m_labelNames->setText(note);
    m_labelNames->setVisible(!note.isEmpty());
    const QString summary = m_chart->TextAlternative();
    m_view->setAccessibleDescription(summary);
    if (m_editSummary->toPlainText() != summary)
        m_editSummary->setPlainText(summary);
    emit Updated();
}

void CPlotWindow::OnExportCsv()
{
    const QFileInfo shown(m_strShownPath);
    QFileDialog dialog(this, QStringLiteral("Export to CSV"), shown.path(), QStringLiteral("CSV files (*.csv);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(shown.completeBaseName() + QStringLiteral(".csv"));
    if (platform::ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    ExportCsv(platform::EscapedBytes(dialog.selectedFiles().first()));
}

bool CPlotWindow::ExportCsv(const std::string& out)
{
    const csvexport::Result result = csvexport::Export(m_pReader->Path(), out);
    if (!result.ok) {
        const QString failed = result.inputFailed ? m_strShownPath : platform::TextFromBytes(out);
        const QString text = platform::FileErrorText(result.error, failed);
        m_labelReadOut->setText(text);
        platform::MessageBox(text);
        return false;
    }
    m_labelReadOut->setText(QStringLiteral("Exported %1 rows to %2.").arg(result.rows).arg(platform::TextFromBytes(out)));
    return true;
}

void CPlotWindow::ShowReadOut(const QString& text)
{
    if (!text.isEmpty())
        m_labelReadOut->setText(text);
}

CPlotWindow* CPlotWindow::Open(const QString& path, const QStringList& columnNames, bool live, QWidget* parent)
{
    auto* window = new CPlotWindow(path, columnNames, live, parent);
    if (!window->IsOpen()) {
        const int err = window->Error();
        delete window;
        platform::MessageBox(platform::FileErrorText(err, platform::ShownPath(path)));
        return nullptr;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}
