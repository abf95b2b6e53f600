#pragma once
#include "platform/CFolderDialog.h"

#include <QString>

class QWidget;

// Lets the user pick the folder for data files: the desktop's folder dialog with the title
// "Current Selection" and, in its status line, the path under the cursor cut to 35 characters.
class CFolderChooser {
public:
    // Dialog results: a folder with a path was confirmed, or not.
    enum Result { ResultOk = 1, ResultCancel = 2 };
    static constexpr int kStatusChars = 35;

    // initialFolder may be empty (none); flags are the folder dialog's BrowseFlag values.
    CFolderChooser(const QString& initialFolder, unsigned flags, QWidget* parent);
    virtual ~CFolderChooser();
    CFolderChooser(const CFolderChooser&) = delete;
    CFolderChooser& operator=(const CFolderChooser&) = delete;

    // ResultOk when the user confirmed a folder that has a path (GetSelectedFolder gives it, as
    // escaped text: platform::EscapedBytes gives its bytes), else ResultCancel. initialFolder is
    // escaped text too.
    virtual int Browse();
    QString GetSelectedFolder() const { return m_strSelectedFolder; }

    // While the dialog runs: select a folder by path, set the status line.
    void SetSelection(const QString& path);
    void SetStatusText(const QString& text);
    // text, or its first 35 characters and "..." when it is longer. Characters as the user sees
    // them: a letter with its accents, or a character outside the basic plane, counts once and
    // is never cut apart.
    static QString ShortenForStatus(const QString& text);

protected:
    virtual void OnInitialized();
    virtual void OnSelChanged(const platform::FolderItem& item);
    // Every event of the dialog; always answers 0.
    virtual int OnBrowseEvent(platform::CFolderDialog* dialog, int event, const platform::FolderItem* item);

private:
    QString m_strInitialFolder;
    QString m_strSelectedFolder;
    platform::BrowseInfo m_bi;
    QString m_szDisplayName;
    QString m_szPath;
    platform::CFolderDialog* m_hDialog = nullptr; // while Browse runs
};
