#include "app/CAboutDialog.h"

#include "app/ProgramInfo.h"
#include "oidgen/OidTemplates.h"
#include "platform/DialogUnits.h"
#include "platform/Resources.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About %1").arg(QLatin1String(kProgramName)));
    setFont(CDialogUnits::DialogFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* icon = new QLabel(this);
    icon->setPixmap(platform::LoadIconResource(128).pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("Program icon"));

    auto* version = new QLabel(QStringLiteral("%1 Version %2").arg(QLatin1String(kProgramName), QLatin1String(kProgramVersion)), this);
    auto* date = new QLabel(QLatin1String(kProgramDate), this);
    auto* enterprise = new QLabel(
        QStringLiteral("SNMP enterprise number: %1").arg(QLatin1String(oidtpl::EnterpriseNumber())), this);
    for (QLabel* text : {version, date, enterprise}) {
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(version, 0, 1);
    layout->addWidget(date, 1, 1);
    layout->addWidget(enterprise, 2, 1);
    layout->addWidget(ok, 0, 2, Qt::AlignTop);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
