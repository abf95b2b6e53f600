#include "oidgen/ReadOidDlg.h"

#include "platform/DialogUnits.h"
#include "platform/MessageBox.h"
#include "platform/Resources.h"
#include "platform/TextBytes.h"
#include "platform/UiThread.h"
#include "ui/CGifAnimator.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>

namespace {
constexpr int kBusyAnimationId = 138;
constexpr int kRowIconsId = 135;
constexpr int kScanStartDelayMs = 500;
const QSize kRowIconSize(19, 20);

CSensorRow* RowOf(const QTreeWidgetItem* item)
{
    return reinterpret_cast<CSensorRow*>(item->data(0, Qt::UserRole).value<quintptr>());
}
} // namespace

COidGenDialog::COidGenDialog(QWidget* parent) : QDialog(parent)
{
    SetScanView(this);
    CreateControls();
}

COidGenDialog::~COidGenDialog()
{
    if (m_pScanThread.joinable()) {
        // Normally the worker is past OnScanFinished here (the dialog cannot end before). Only
        // the program's end tears the dialog down under a running scan: cut the scan short, and
        // let the worker's pending calls run until it is done, so nothing it touches is gone.
        // The wait sleeps in the event loop; the worker's last act wakes it.
        Abandon();
        while (!m_bWorkerDone)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_pScanThread.join();
    }
}

void COidGenDialog::CreateControls()
{
    setFont(CDialogUnits::DialogFont());
    const CDialogUnits du(font());
    setWindowTitle(QStringLiteral("Genarate OID"));
    // A modal frame with caption and system menu (close box); no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(du.Size(314, 175));

    du.Place(new QGroupBox(this), 5, 5, 304, 146);

    // The controls in tab order, disabled until the scan is over.
    m_listSensors = du.Place(new QTreeWidget(this), 11, 14, 230, 116, IdList);
    m_listSensors->setRootIsDecorated(false);
    m_listSensors->setItemsExpandable(false);
    m_listSensors->setUniformRowHeights(true);
    m_listSensors->setSelectionBehavior(QAbstractItemView::SelectRows); // full-row select
    m_listSensors->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listSensors->setIconSize(kRowIconSize);
    m_listSensors->header()->setStretchLastSection(false);
    m_listSensors->header()->setSectionsMovable(false);
    m_listSensors->setAccessibleName(QStringLiteral("Sensors"));
    m_listSensors->setEnabled(false);

    m_btnSelectAll = du.Place(new QPushButton(QStringLiteral("Select All"), this), 11, 134, 37, 12, IdSelectAll);
    m_btnClearAll = du.Place(new QPushButton(QStringLiteral("Clear All"), this), 54, 134, 37, 12, IdClearAll);
    m_btnOK = du.Place(new QPushButton(QStringLiteral("OK"), this), 251, 14, 49, 17, IdOK);
    m_btnCancel = du.Place(new QPushButton(QStringLiteral("Cancel"), this), 251, 40, 49, 17, IdCancel);
    m_btnGenOid = du.Place(new QPushButton(QStringLiteral("Gen. OID"), this), 252, 66, 49, 17, IdGenOid);
    m_btnOK->setDefault(true);
    for (QPushButton* button : {m_btnSelectAll, m_btnClearAll, m_btnOK, m_btnCancel, m_btnGenOid})
        button->setEnabled(false);
    // Generation is reached through OK; the button itself is never shown.
    m_btnGenOid->setVisible(false);

    m_staticStatus = du.Place(new QLabel(QStringLiteral("Status"), this), 5, 156, 304, 14, IdStatus);
    m_staticStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Plain text: it shows the unit's address. No fixed accessible name, so a screen reader
    // reads the label's text, whatever the scan has put there.
    m_staticStatus->setTextFormat(Qt::PlainText);
    m_animation = du.Place(new CGifAnimator(this), 259, 100, 31, 30, IdAnimation);
    m_animation->setAccessibleName(QStringLiteral("Busy"));

    connect(m_btnSelectAll, &QPushButton::clicked, this, &COidGenDialog::OnSelectAll);
    connect(m_btnClearAll, &QPushButton::clicked, this, &COidGenDialog::OnClearAll);
    connect(m_btnGenOid, &QPushButton::clicked, this, &COidGenDialog::OnGenOid);
    connect(m_btnOK, &QPushButton::clicked, this, &COidGenDialog::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &COidGenDialog::reject);
}

QWidget* COidGenDialog::GetDlgItem(int id) const
{
    return DialogItem(this, id);
}

void COidGenDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The caller sets the address and community after construction; the scan starts with the
    // first showing, as a dialog's initialisation does.
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
}

void COidGenDialog::OnInitDialog()
{
    SetupColumns();
    SetupImageList();
    m_listSensors->clear();
    if (m_animation->LoadResourcePicture(kBusyAnimationId, QStringLiteral("GIF")))
        m_animation->ShowPicture();
    char text[160];
    std::snprintf(text, sizeof text, " Finding sensor online at IP %s .", m_strIpAddress.c_str());
    m_strStatus = platform::TextFromBytes(text);
    SetStatusText(text);
    m_pScanThread = std::thread([this] { ScanThreadProc(this); });
}

std::array<int, 3> COidGenDialog::ColumnWidths(int clientWidth)
{
    const int u = clientWidth / 9;
    return {static_cast<int>(u * 2.7), static_cast<int>(u * 4.5), 2 * u};
}

void COidGenDialog::SetupColumns()
{
    m_listSensors->ensurePolished();
    const std::array<int, 3> widths = ColumnWidths(m_listSensors->contentsRect().width());
    m_listSensors->setHeaderLabels({QStringLiteral("Port No."), QStringLiteral("Description"), QStringLiteral("Status")});
    for (int column = 0; column < 3; ++column) {
        m_listSensors->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
        m_listSensors->header()->resizeSection(column, widths[static_cast<std::size_t>(column)]);
    }
}

void COidGenDialog::SetupImageList()
{
    const QPixmap strip = platform::LoadBitmapResource(kRowIconsId);
    if (strip.isNull())
        return;
    // Magenta is the mask colour; the strip holds none, so every pixel shows.
    QPixmap masked = strip;
    masked.setMask(strip.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
    QPixmap blank(kRowIconSize);
    blank.fill(Qt::transparent);
    m_noIcon = QIcon(blank);
    for (int i = 0; i < 3; ++i)
        m_imageList[static_cast<std::size_t>(i)] = QIcon(masked.copy(i * kRowIconSize.width(), 0, kRowIconSize.width(), kRowIconSize.height()));
}

int COidGenDialog::ScanThreadProc(COidGenDialog* dialog)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kScanStartDelayMs));
    dialog->ScanUnit();
    dialog->OnScanFinished();
    dialog->m_bWorkerDone = true; // nothing of the dialog is used after this
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection); // wakes a waiting end
    return 1;
}

void COidGenDialog::OnScanFinished()
{
    platform::SendToUi([this] {
        m_animation->StopAnimation();
        m_animation->hide();
        if (m_nSensorCount > 0) {
            m_listSensors->setEnabled(true);
            m_btnGenOid->setEnabled(true);
            m_btnClearAll->setEnabled(true);
            m_btnSelectAll->setEnabled(true);
        }
        m_btnCancel->setEnabled(true);
        m_btnOK->setEnabled(true);
        m_btnCancel->setFocus();
        m_bScanFinished = true;
    });
}

void COidGenDialog::AddListItem(const std::string& label, int iconIndex, const std::string& description,
                                const std::string& status, CSensorRow* row)
{
    platform::SendToUi([=, this] {
        auto* item = new QTreeWidgetItem(m_listSensors);
        item->setText(0, platform::TextFromBytes(label));
        item->setText(1, platform::TextFromBytes(description));
        item->setText(2, platform::TextFromBytes(status));
        // An index past the image list shows no icon; an empty one of the same size keeps the
        // labels of all rows in one column.
        if (iconIndex >= 0 && iconIndex < static_cast<int>(m_imageList.size()))
            item->setIcon(0, m_imageList[static_cast<std::size_t>(iconIndex)]);
        else
            item->setIcon(0, m_noIcon);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren);
        item->setCheckState(0, Qt::Unchecked);
        item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(row)));
    });
}

void COidGenDialog::CheckAllItems()
{
    platform::SendToUi([this] { SetAllChecks(true); });
}

void COidGenDialog::ShowMessageBox(const std::string& text)
{
    platform::MessageBox(QString::fromStdString(text));
}

void COidGenDialog::SetStatusText(const std::string& text)
{
    platform::SendToUi([this, text] { m_staticStatus->setText(platform::TextFromBytes(text)); });
}

QString COidGenDialog::StatusText() const
{
    return m_staticStatus->text();
}

void COidGenDialog::SetAllChecks(bool checked)
{
    for (int i = 0; i < m_listSensors->topLevelItemCount(); ++i)
        m_listSensors->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void COidGenDialog::OnSelectAll()
{
    SetAllChecks(true);
}

void COidGenDialog::OnClearAll()
{
    SetAllChecks(false);
}

void COidGenDialog::OnGenOid()
{
    const int n = m_listSensors->topLevelItemCount();
    m_oidList.clear();
    m_sensorNames.clear();
    m_columns.clear();
    if (n == 0) {
        SetStatusText(" Cannot generate OID.");
        return;
    }
    for (int i = 0; i < n; ++i) {
        const QTreeWidgetItem* item = m_listSensors->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) {
            m_oidList.push_back(RowOf(item)->m_strOid);
            m_sensorNames.push_back((item->text(0) + QLatin1Char(' ') + item->text(1)).trimmed().toStdString());
            const CSensorRow* row = RowOf(item);
            m_columns.push_back({item->text(0).toStdString(), row->m_strDescription, row->TypeName(), row->m_strOid});
        }
    }
    if (m_oidList.empty()) {
        SetStatusText(" Cannot generate OID.");
        return;
    }
    SetStatusText(" Generate OID complete.");
    m_btnOK->setEnabled(true);
}

void COidGenDialog::OnOK()
{
    OnGenOid();
    QDialog::accept();
}

void COidGenDialog::accept()
{
    if (!m_bScanFinished)
        return; // the worker still uses this dialog
    OnOK();
}

void COidGenDialog::reject()
{
    if (!m_bScanFinished)
        return; // Escape or the close box while the scan runs: refused
    QDialog::reject();
}

void COidGenDialog::closeEvent(QCloseEvent* event)
{
    if (!m_bScanFinished) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
