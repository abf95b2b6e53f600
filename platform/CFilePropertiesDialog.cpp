#include "platform/CFilePropertiesDialog.h"

#include "platform/TextBytes.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString Permissions(const std::string& path)
{
    QStringList parts;
    if (::access(path.c_str(), R_OK) == 0)
        parts << QStringLiteral("read");
    if (::access(path.c_str(), W_OK) == 0)
        parts << QStringLiteral("write");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}
} // namespace

CFilePropertiesDialog::CFilePropertiesDialog(const QString& path, QWidget* parent)
    : QDialog(parent)
{
    // The file is found by its bytes and named readable: its folder's name need not be UTF-8.
    const std::string bytes = platform::EscapedBytes(path);
    const std::size_t slash = bytes.rfind('/');
    const std::string name = slash == std::string::npos ? bytes : bytes.substr(slash + 1);
    std::string folder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : bytes.substr(0, slash);
    if (folder.empty() || folder.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd))
            folder = folder == "." ? std::string(cwd) : std::string(cwd) + "/" + folder;
    }
    setWindowTitle(QStringLiteral("%1 Properties").arg(platform::TextFromBytes(name)));
    auto* form = new QFormLayout;
    auto addRow = [this, form](const QString& label, const QString& value) {
        auto* text = new QLabel(value, this);
        text->setTextFormat(Qt::PlainText); // paths are shown as they are, never as markup
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        text->setAccessibleName(label);
        form->addRow(label, text);
    };
    addRow(QStringLiteral("Name"), platform::TextFromBytes(name));
    addRow(QStringLiteral("Folder"), platform::TextFromBytes(folder));
    struct stat st {};
    if (bytes.find('\0') == std::string::npos && ::stat(bytes.c_str(), &st) == 0) {
        const QLocale locale;
        addRow(QStringLiteral("Size"), QStringLiteral("%1 bytes").arg(locale.toString(qint64(st.st_size))));
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        addRow(QStringLiteral("Modified"), locale.toString(modified, QLocale::LongFormat));
        addRow(QStringLiteral("Access"), Permissions(bytes));
    } else {
        addRow(QStringLiteral("State"), QStringLiteral("The file does not exist."));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}
