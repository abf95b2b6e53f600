#include "platform/CFilePropertiesDialog.h"


#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace {
QString Permissions(const QFileInfo& info)
{
    QStringList parts;
    if (info.isReadable())
        parts << QStringLiteral("read");
    if (info.isWritable())
        parts << QStringLiteral("write");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}
} // namespace

CFilePropertiesDialog::CFilePropertiesDialog(const QString& path, QWidget* parent)
    : QDialog(parent)
{
    const QFileInfo info(path);
    setWindowTitle(QStringLiteral("%1 Properties").arg(info.fileName()));
    auto* form = new QFormLayout;
    auto addRow = [this, form](const QString& label, const QString& value) {
        auto* text = new QLabel(value, this);
        text->setTextFormat(Qt::PlainText); // paths are shown as they are, never as markup
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        text->setAccessibleName(label);
        form->addRow(label, text);
    };
    addRow(QStringLiteral("Name"), info.fileName());
    addRow(QStringLiteral("Folder"), info.absolutePath());
    if (info.exists()) {
        const QLocale locale;
        addRow(QStringLiteral("Size"), QStringLiteral("%1 bytes").arg(locale.toString(info.size())));
        addRow(QStringLiteral("Modified"), locale.toString(info.lastModified(), QLocale::LongFormat));
        addRow(QStringLiteral("Access"), Permissions(info));
    } else {
        addRow(QStringLiteral("State"), QStringLiteral("The file does not exist."));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}
