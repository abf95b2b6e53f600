// Template 102: the main dialog's controls at their dialog-unit positions.
#include "app/CIpAddressCtrl.h"
#include "app/CMainDialog.h"
#include "app/CMainDownload.h"
#include "app/ProgramInfo.h"
#include "platform/DialogUnits.h"
#include "platform/Resources.h"
#include "ui/CGifAnimator.h"
#include "ui/CStatusListBox.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace {
struct DluRect {
    int x, y, width, height;
};

QLineEdit* MakeEdit(QWidget* parent, const CDialogUnits& du, DluRect r, int id, const QString& label)
{
    auto* edit = du.Place(new QLineEdit(parent), r.x, r.y, r.width, r.height, id);
    edit->setAccessibleName(label);
    return edit;
}
} // namespace

void CMainDialog::CreateControls()
{
    setFont(CDialogUnits::DialogFont());
    const CDialogUnits du(font());
    setWindowTitle(QLatin1String(kMainCaption));
    // Caption, system menu and minimise box; no maximise box; the size is fixed.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(du.Size(314, 318));

    // Group boxes as dialog templates draw them: the frame line runs through the middle of the
    // title, so the frame fills the box's whole rectangle.
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
                                 "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
    // Frames and group boxes first, so that the controls lie above them.
    du.Place(new QGroupBox(this), 5, 5, 304, 130);
    du.Place(new QGroupBox(QStringLiteral("Status"), this), 5, 138, 304, 155);
    du.Place(new QGroupBox(QStringLiteral("Setting"), this), 11, 12, 132, 76);
    du.Place(new QGroupBox(QStringLiteral("Folder to save data"), this), 146, 12, 157, 33);
    du.Place(new QGroupBox(QStringLiteral("Data Download"), this), 11, 93, 291, 35);
    auto* labelIp = du.Place(new QLabel(QStringLiteral("IP Address"), this), 16, 25, 37, 10);
    auto* labelPassword = du.Place(new QLabel(QStringLiteral("Password"), this), 16, 48, 37, 10);
    // Up to the edit rather than 37 units wide: in the desktop's wider font the text needs the
    // room to stay on two lines.
    auto* labelPeriod = du.Place(new QLabel(QStringLiteral("Collection period (sec)"), this), 16, 66, 42, 18);
    labelPeriod->setWordWrap(true);
    labelPeriod->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // The controls in tab order.
    m_ipAddress = du.Place(new CIpAddressCtrl(this), 59, 22, 75, 14, IdIpAddress);
    m_ipAddress->setAccessibleName(labelIp->text());
    m_editPassword = MakeEdit(this, du, {59, 45, 34, 14}, IdPassword, labelPassword->text());
    m_editPassword->setEchoMode(QLineEdit::Password);
    m_editPeriod = MakeEdit(this, du, {59, 68, 34, 14}, IdPeriod, labelPeriod->text());
    m_editPeriod->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_editPeriod));
    m_editFolder = MakeEdit(this, du, {152, 24, 100, 14}, IdFolder, QStringLiteral("Folder to save data"));
    labelIp->setBuddy(m_ipAddress);
    labelPassword->setBuddy(m_editPassword);
    labelPeriod->setBuddy(m_editPeriod);

    m_btnBrowse = du.Place(new QPushButton(QStringLiteral("Browse"), this), 257, 22, 40, 17, IdBrowse);
    m_btnStart = du.Place(new QPushButton(QStringLiteral("Start"), this), 202, 49, 45, 17, IdStart);
    m_btnStop = du.Place(new QPushButton(QStringLiteral("Stop"), this), 255, 49, 45, 17, IdStop);
    m_btnGetOid = du.Place(new QPushButton(QStringLiteral("Get OID"), this), 202, 72, 45, 17, IdGetOid);
    m_btnExit = du.Place(new QPushButton(QStringLiteral("Exit"), this), 255, 72, 45, 17, IdExit);

    m_listStatus = du.Place(new CStatusListBox(this), 12, 150, 290, 137, IdStatusList);
    m_listStatus->setAccessibleName(QStringLiteral("Status"));

    m_staticStatus = du.Place(new QLabel(QStringLiteral("Status"), this), 5, 299, 304, 13, IdStatusText);
    m_staticStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_staticStatus->setTextFormat(Qt::PlainText);
    // Inside the right end of the status text, which reads "Downloading Data..." meanwhile.
    auto* progressDownload = du.Place(new QProgressBar(this), 250, 300, 58, 11);
    progressDownload->setAccessibleName(QStringLiteral("Download progress"));
    progressDownload->setFocusPolicy(Qt::NoFocus);
    progressDownload->hide();
    m_pDownload = std::make_unique<CMainDownload>(this, this, progressDownload);

    m_animation = du.Place(new CGifAnimator(this), 159, 57, 24, 23, IdLamp);
    m_animation->setAccessibleName(QStringLiteral("Status lamp"));

    m_checkOverwrite = du.Place(new QCheckBox(QStringLiteral("Overwrite existed file"), this), 29, 107, 81, 12, IdCheckOverwrite);
    m_checkLocalTimezone = du.Place(new QCheckBox(QStringLiteral("Use local timezone"), this), 127, 107, 74, 12, IdCheckLocalTimezone);
    m_btnDownload = du.Place(new QPushButton(QStringLiteral("Download"), this), 227, 104, 45, 17, IdDownload);

    // Enter in an edit ends the program, so no button may look like the default one; a focused
    // button still takes Enter (keyPressEvent).
    for (QPushButton* button : {m_btnBrowse, m_btnStart, m_btnStop, m_btnGetOid, m_btnExit, m_btnDownload})
        button->setAutoDefault(false);

    const QList<QWidget*> tabOrder = {m_ipAddress, m_editPassword, m_editPeriod, m_editFolder, m_btnBrowse,
                                      m_btnStart,  m_btnStop,      m_btnGetOid,  m_btnExit,    m_listStatus,
                                      m_checkOverwrite, m_checkLocalTimezone, m_btnDownload};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_btnStart, &QPushButton::clicked, this, &CMainDialog::OnStart);
    connect(m_btnGetOid, &QPushButton::clicked, this, &CMainDialog::OnGetOid);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CMainDialog::OnBrowse);
    connect(m_btnStop, &QPushButton::clicked, this, &CMainDialog::OnStop);
    connect(m_btnExit, &QPushButton::clicked, this, &QDialog::reject);
    // toggled, not clicked: a box changed through its accessibility action is not clicked.
    connect(m_checkOverwrite, &QCheckBox::toggled, this, &CMainDialog::OnCheckOverwrite);
    connect(m_checkLocalTimezone, &QCheckBox::toggled, this, &CMainDialog::OnCheckLocalTimezone);
    connect(m_btnDownload, &QPushButton::clicked, this, &CMainDialog::OnDownload);
}
