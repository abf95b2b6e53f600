#include "platform/CFolderDialog.h"

#include "platform/ModalDialog.h"
#include "platform/TextBytes.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace platform {
namespace {

enum Role {
    PathRole = Qt::UserRole + 1,
    HasPathRole,
    LoadedRole,
    PlaceholderRole,
};

struct SubFolder {
    QString name;
    QString path;
};

QString JoinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The folders in folder, by name in the user's collation. Hidden folders (names starting with a
// dot) are left out, as file managers do; a path can still select one.
std::vector<SubFolder> ListSubfolders(const QString& folder)
{
    std::vector<SubFolder> result;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(EscapedBytes(folder).c_str()), closedir);
    if (!dir)
        return result;
    const int fd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isDir = fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isDir)
            continue;
        // Paths keep the name's bytes (escaped text); the name is shown readable.
        result.push_back({TextFromBytes(name), JoinPath(folder, EscapedText(name))});
    }
    std::sort(result.begin(), result.end(),
              [](const SubFolder& a, const SubFolder& b) { return QString::localeAwareCompare(a.name, b.name) < 0; });
    return result;
}

} // namespace

bool GetPathFromItem(const FolderItem& item, QString* path)
{
    *path = item.hasPath ? item.path : QString();
    return item.hasPath;
}

CFolderDialog::CFolderDialog(const BrowseInfo& bi) : QDialog(bi.hwndOwner)
{
    setWindowTitle(QStringLiteral("Browse for Folder"));
    auto* layout = new QVBoxLayout(this);

    m_title = new QLabel(bi.lpszTitle, this);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(true);
    layout->addWidget(m_title);

    // Paths are shown as they are, never as rich text.
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setVisible(bi.ulFlags & BifStatusText);
    layout->addWidget(m_status);

    m_model = new QStandardItemModel(this);
    // Not shown, but screen readers name the column by it.
    m_model->setHorizontalHeaderLabels({QStringLiteral("Folder")});
    m_tree = new QTreeView(this);
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setAccessibleName(bi.lpszTitle);
    m_title->setBuddy(m_tree);
    layout->addWidget(m_tree, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(420, 460);

    m_computer = AddFolderItem(m_model->invisibleRootItem(), QStringLiteral("Computer"), QString(), false);
    m_computer->setData(true, LoadedRole);
    m_computer->removeRows(0, m_computer->rowCount());
    const QString home = QDir::cleanPath(QDir::homePath());
    m_home = AddFolderItem(m_computer, QStringLiteral("Home"), home, true);
    m_root = AddFolderItem(m_computer, QStringLiteral("File System"), QStringLiteral("/"), true);

    connect(m_tree, &QTreeView::expanded, this, [this](const QModelIndex& index) { LoadChildren(m_model->itemFromIndex(index)); });
    m_tree->expand(m_computer->index());
    m_tree->setCurrentIndex(m_computer->index());
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { emit selectionChanged(ItemAt(current)); });
    m_tree->setFocus();
}

CFolderDialog::~CFolderDialog() = default;

QStandardItem* CFolderDialog::AddFolderItem(QStandardItem* parent, const QString& displayName, const QString& path, bool hasPath)
{
    auto* item = new QStandardItem(displayName);
    item->setEditable(false);
    item->setData(path, PathRole);
    item->setData(hasPath, HasPathRole);
    item->setData(false, LoadedRole);
    item->setToolTip(path);
    // Until it is opened, a folder shows that it may hold more.
    auto* placeholder = new QStandardItem;
    placeholder->setData(true, PlaceholderRole);
    placeholder->setFlags(Qt::NoItemFlags);
    item->appendRow(placeholder);
    parent->appendRow(item);
    return item;
}

void CFolderDialog::LoadChildren(QStandardItem* item)
{
    if (!item || item->data(LoadedRole).toBool())
        return;
    item->setData(true, LoadedRole);
    item->removeRows(0, item->rowCount());
    if (!item->data(HasPathRole).toBool())
        return;
    for (const SubFolder& sub : ListSubfolders(item->data(PathRole).toString()))
        AddFolderItem(item, sub.name, sub.path, true);
}

QStandardItem* CFolderDialog::ChildForPath(QStandardItem* parent, const QString& path)
{
    for (int row = 0; row < parent->rowCount(); ++row) {
        QStandardItem* child = parent->child(row);
        if (child->data(HasPathRole).toBool() && child->data(PathRole).toString() == path)
            return child;
    }
    return nullptr;
}

bool CFolderDialog::SetSelection(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    const QString target = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    struct stat st {};
    if (::stat(EscapedBytes(target).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;

    // Under the home folder when it lies there, else from the root.
    const QString home = m_home->data(PathRole).toString();
    QStandardItem* item = m_root;
    QString folder = QStringLiteral("/");
    if (home != folder && (target == home || target.startsWith(home + QLatin1Char('/')))) {
        item = m_home;
        folder = home;
    }
    const QStringList names = target.mid(folder.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        folder = JoinPath(folder, name);
        LoadChildren(item);
        QStandardItem* child = ChildForPath(item, folder);
        // A hidden folder is not listed, but is there.
        if (!child)
            child = AddFolderItem(item, ShownPath(name), folder, true);
        item = child;
    }
    for (QStandardItem* up = item->parent(); up; up = up->parent())
        m_tree->expand(up->index());
    m_tree->setCurrentIndex(item->index());
    m_tree->scrollTo(item->index());
    return true;
}

void CFolderDialog::SetStatusText(const QString& text)
{
    m_status->setText(text);
}

QString CFolderDialog::StatusText() const
{
    return m_status->text();
}

QString CFolderDialog::TitleText() const
{
    return m_title->text();
}

FolderItem CFolderDialog::ItemAt(const QModelIndex& index)
{
    return {index.data(Qt::DisplayRole).toString(), index.data(PathRole).toString(), index.data(HasPathRole).toBool()};
}

FolderItem CFolderDialog::CurrentItem() const
{
    const QModelIndex current = m_tree->currentIndex();
    return ItemAt(current.isValid() ? current : m_computer->index());
}

std::optional<FolderItem> BrowseForFolder(const BrowseInfo& bi)
{
    CFolderDialog dialog(bi);
    if (bi.lpfn) {
        QObject::connect(&dialog, &CFolderDialog::selectionChanged, &dialog,
                         [&dialog, &bi](const FolderItem& item) { bi.lpfn(&dialog, BffmSelChanged, &item); });
        bi.lpfn(&dialog, BffmInitialized, nullptr);
    }
    if (ExecModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    FolderItem item = dialog.CurrentItem();
    if (bi.pszDisplayName)
        *bi.pszDisplayName = item.displayName;
    return item;
}

} // namespace platform
