#include "collect/CFileNameDialog.h"

#include "platform/DialogUnits.h"
#include "platform/ModalDialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

CFileNameDialog::CFileNameDialog(const QString& fileName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_strFileName(fileName)
{
    setWindowTitle(QStringLiteral("File Name"));
    setAccessibleName(windowTitle());
    const QFont font = CDialogUnits::DialogFont();
    setFont(font);
    const CDialogUnits du(font);
    setFixedSize(du.Size(228, 108));

    // Created in tab order; the group box and the label go first so the controls lie above them.
    auto* group = new QGroupBox(QStringLiteral("Options"), this);
    group->setGeometry(du.Rect(5, 5, 160, 79));
    auto* label = new QLabel(QStringLiteral("To"), this);
    label->setGeometry(du.Rect(18, 64, 10, 14));

    auto radio = [&](const QString& text, int y) {
        auto* button = new QRadioButton(text, this);
        button->setAccessibleName(text);
        button->setGeometry(du.Rect(21, y, 76, 16));
        return button;
    };
    m_radioSave = radio(QStringLiteral("Save Continuously"), 14);
    m_radioOverwrite = radio(QStringLiteral("Overwrite"), 29);
    m_radioRename = radio(QStringLiteral("Rename"), 44);
    auto* choices = new QButtonGroup(this);
    choices->addButton(m_radioSave, kSaveContinuously);
    choices->addButton(m_radioOverwrite, kOverwrite);
    choices->addButton(m_radioRename, kRename);
    connect(choices, &QButtonGroup::idClicked, this, &CFileNameDialog::OnChoice);

    m_editFileName = new QLineEdit(this);
    m_editFileName->setAccessibleName(label->text());
    m_editFileName->setGeometry(du.Rect(32, 63, 124, 15));
    label->setBuddy(m_editFileName);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setAccessibleName(ok->text());
    ok->setGeometry(du.Rect(173, 5, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CFileNameDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAccessibleName(cancel->text());
    cancel->setGeometry(du.Rect(173, 24, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &CFileNameDialog::reject);

    m_staticStatus = new QLabel(QStringLiteral("status"), this);
    m_staticStatus->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_staticStatus->setTextFormat(Qt::PlainText); // it names a file
    m_staticStatus->setGeometry(du.Rect(5, 89, 218, 14));

    // Initialisation: the existing name, Save Continuously chosen, the edit off.
    m_editFileName->setText(m_strFileName);
    m_radioSave->setChecked(true);
    m_nChoice = kSaveContinuously;
    m_editFileName->setEnabled(false);
    m_staticStatus->setText(QString::asprintf("File %s already exist.", m_strFileName.toUtf8().constData()));
    m_radioSave->setFocus();
}

void CFileNameDialog::OnChoice(int choice)
{
    m_nChoice = choice;
    m_editFileName->setEnabled(choice == kRename);
    if (choice == kRename)
        m_editFileName->setFocus();
}

void CFileNameDialog::accept()
{
    m_strFileName = m_editFileName->text();
    QDialog::accept();
}

int CFileNameDialog::Ask(QString& fileName, QWidget* parent)
{
    CFileNameDialog dialog(fileName, parent);
    if (platform::ExecModal(dialog) != QDialog::Accepted)
        return ICollectorEvents::kCancel;
    fileName = dialog.m_strFileName;
    return dialog.m_nChoice;
}
