#pragma once
#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QModelIndex;
class QStandardItem;
class QStandardItemModel;
class QTreeView;

// The desktop's folder-browse dialog, our own: a title line, a status line that the caller
// sets, a tree of folders (the home folder and the file system's root under "Computer"), OK
// and Cancel. The caller hears of the dialog having opened and of every change of selection,
// and can select a folder by its path.
namespace platform {

// An item of the tree. Items without a path: "Computer" itself, and folders whose names are not
// valid UTF-8 (their path could not be written back unchanged).
struct FolderItem {
    QString displayName;
    QString path; // empty when hasPath is false
    bool hasPath = false;
};

// The item's file-system path into *path; false, with *path emptied, for an item without one.
bool GetPathFromItem(const FolderItem& item, QString* path);

enum BrowseFlag : unsigned {
    BifStatusText = 0x4, // show the status line
};

enum BrowseEvent : int {
    BffmInitialized = 1, // the dialog is built, before it shows; no item
    BffmSelChanged = 2,  // the selection moved; the new item
};

class CFolderDialog;
// Called with the dialog, the event and the item it concerns; the answer is ignored.
using BrowseCallback = std::function<int(CFolderDialog* dialog, int event, const FolderItem* item)>;

struct BrowseInfo {
    QWidget* hwndOwner = nullptr;
    QString* pszDisplayName = nullptr; // receives the chosen item's display name
    QString lpszTitle;
    unsigned ulFlags = 0;
    BrowseCallback lpfn;
};

// Runs the folder dialog modally, through ExecModal so tests can answer it. The chosen item,
// or nothing when the user cancelled.
std::optional<FolderItem> BrowseForFolder(const BrowseInfo& bi);

class CFolderDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFolderDialog(const BrowseInfo& bi);
    ~CFolderDialog() override;

    // Selects the folder at path (absolute, or relative to the current directory), opening the
    // tree down to it. False, changing nothing, for an empty path, a path with a zero character
    // or one that is no folder.
    bool SetSelection(const QString& path);
    void SetStatusText(const QString& text);
    QString StatusText() const;
    QString TitleText() const;
    // The item under the cursor; "Computer" when nothing else was chosen.
    FolderItem CurrentItem() const;
    QTreeView* Tree() const { return m_tree; }

signals:
    void selectionChanged(const platform::FolderItem& item);

private:
    QStandardItem* AddFolderItem(QStandardItem* parent, const QString& displayName, const QString& path, bool hasPath);
    // Lists an item's subfolders the first time it is opened.
    void LoadChildren(QStandardItem* item);
    QStandardItem* ChildForPath(QStandardItem* parent, const QString& path);
    static FolderItem ItemAt(const QModelIndex& index);

    QLabel* m_title = nullptr;
    QLabel* m_status = nullptr;
    QTreeView* m_tree = nullptr;
    QStandardItemModel* m_model = nullptr;
    QStandardItem* m_computer = nullptr;
    QStandardItem* m_home = nullptr;
    QStandardItem* m_root = nullptr;
};

} // namespace platform
