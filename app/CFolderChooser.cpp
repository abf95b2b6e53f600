#include "app/CFolderChooser.h"
#include "platform/TextBytes.h"

#include <QTextBoundaryFinder>

CFolderChooser::CFolderChooser(const QString& initialFolder, unsigned flags, QWidget* parent)
    : m_strInitialFolder(initialFolder)
{
    m_bi.hwndOwner = parent;
    m_bi.pszDisplayName = &m_szDisplayName;
    m_bi.lpszTitle = QStringLiteral("Current Selection");
    m_bi.ulFlags = flags | platform::BifStatusText;
    m_bi.lpfn = [this](platform::CFolderDialog* dialog, int event, const platform::FolderItem* item) {
        return OnBrowseEvent(dialog, event, item);
    };
}

CFolderChooser::~CFolderChooser() = default;

int CFolderChooser::Browse()
{
    m_strSelectedFolder = m_strInitialFolder;
    const std::optional<platform::FolderItem> item = platform::BrowseForFolder(m_bi);
    m_hDialog = nullptr;
    if (item && platform::GetPathFromItem(*item, &m_szPath)) {
        m_strSelectedFolder = m_szPath;
        return ResultOk;
    }
    return ResultCancel;
}

void CFolderChooser::SetSelection(const QString& path)
{
    if (m_hDialog)
        m_hDialog->SetSelection(path);
}

void CFolderChooser::SetStatusText(const QString& text)
{
    if (m_hDialog)
        m_hDialog->SetStatusText(text);
}

QString CFolderChooser::ShortenForStatus(const QString& text)
{
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    qsizetype cut = 0;
    while (characters.toNextBoundary() != -1) {
        if (++count == kStatusChars)
            cut = characters.position();
        else if (count > kStatusChars)
            return text.left(cut) + QStringLiteral("...");
    }
    return text;
}

void CFolderChooser::OnInitialized()
{
    SetSelection(m_strInitialFolder);
    SetStatusText(ShortenForStatus(platform::ShownPath(m_strInitialFolder)));
}

void CFolderChooser::OnSelChanged(const platform::FolderItem& item)
{
    // An item without a path reads as an empty path; the status line follows it.
    platform::GetPathFromItem(item, &m_szPath);
    m_strSelectedFolder = m_szPath;
    SetStatusText(ShortenForStatus(platform::ShownPath(m_strSelectedFolder)));
}

int CFolderChooser::OnBrowseEvent(platform::CFolderDialog* dialog, int event, const platform::FolderItem* item)
{
    m_hDialog = dialog;
    if (event == platform::BffmInitialized)
        OnInitialized();
    else if (event == platform::BffmSelChanged && item)
        OnSelChanged(*item);
    return 0;
}
