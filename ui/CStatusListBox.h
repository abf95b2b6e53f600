#pragma once
#include <QListWidget>
#include <QVector>

#include <memory>

class QMenu;

// The status list of the main dialog: owner-drawn lines of fixed height, newest last. Lines
// that name a written file (its path between the line's first two double quotes) are marked
// as links: drawn in their own colour, and the selected one can be opened, its folder shown or
// its properties shown (double click, right-click menu, or the menu key).
//
// The horizontal scroll range always spans the widest line. Line operations mirror a list
// box's: AddString, DeleteString, ResetContent.
//
// A line is a text whose bytes platform::EscapedText keeps (a path the system named need not
// be UTF-8). The list shows it readable (platform::ShownPath), and its commands act on the
// path as the line holds it, so they reach the very file that was written.
class CStatusListBox : public QListWidget {
    Q_OBJECT
public:
    // Context menu commands.
    enum Command { IdOpen = 8000, IdOpenFolder = 8001, IdProperties = 8002, IdPlot = 8003 };

    explicit CStatusListBox(QWidget* parent = nullptr);
    ~CStatusListBox() override;

    // Appends a line; returns its index.
    int AddString(const QString& text);
    // Deletes one line; returns the number of lines left, or -1 for a bad index.
    int DeleteString(int index);
    void ResetContent();
    int GetCount() const { return count(); }
    // The line as shown.
    QString GetText(int index) const;
    // The line as it was added, every byte kept.
    QString GetLine(int index) const;
    // The selected line, or -1.
    int GetCurSel() const;
    void SetCurSel(int index);
    // The width over which the list scrolls sideways: the widest line's width plus 3 pixels.
    int GetHorizontalExtent() const { return m_nHorizontalExtent; }

    void MarkLastLineAsLink();
    void ClearLinks();
    bool IsLinkLine(int index) const;

    // The file a link line names: the text between its first and second double quote (to the
    // end of the line when there is no second one; empty without any quote).
    static QString LinkPath(const QString& line);
    // The folder that holds path: everything before its last "/" ("/" for a file in the root).
    static QString FolderOf(const QString& path);

    // The colour of link lines.
    static QColor LinkColor() { return QColor(240, 15, 162); }
    // The text a line shows: its trailing line break is not drawn.
    static QString DisplayText(const QString& line);

    // The commands on the selected line (no-ops unless it names a file).
    void OnCommand(int id);

signals:
    // "Plot" on a link line: the window plots the file.
    void PlotRequested(const QString& path);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class CLineDelegate;

    int TextWidth(const QString& line) const;
    void SetHorizontalExtent(int extent);
    // The selected line's full-width rectangle in viewport coordinates.
    QRect SelectedLineRect() const;
    std::unique_ptr<QMenu> BuildContextMenu();
    void ShowContextMenu(const QPoint& globalPos);

    QVector<int> m_linkLines;
    int m_nHorizontalExtent = 0;
};
