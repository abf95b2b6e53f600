#include "ui/CStatusListBox.h"

#include "platform/Resources.h"
#include "platform/ShellActions.h"
#include "platform/TextBytes.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {
constexpr int kContextMenuId = 149;
// Where a line keeps the text it was added with.
constexpr int kLineRole = Qt::UserRole + 1;
} // namespace

// Draws a line the list box way: the highlight across the whole row when selected, the focus
// frame, then the text at the top left, in the link colour for link lines and in the window
// text colour otherwise, selected or not. Every row is as wide as the widest line, so the
// view's horizontal range is exactly the list's horizontal extent.
class CStatusListBox::CLineDelegate : public QStyledItemDelegate {
public:
    explicit CLineDelegate(CStatusListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return QSize(m_list->m_nHorizontalExtent, m_list->fontMetrics().height());
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QRect row = option.rect;
        row.setRight(std::max(row.right(), m_list->viewport()->width() - 1));
        painter->save();
        if (option.state & QStyle::State_Selected)
            painter->fillRect(row, option.palette.color(QPalette::Highlight));
        if (option.state & QStyle::State_HasFocus)
            DrawFocusFrame(painter, row, option);
        const bool isLink = m_list->IsLinkLine(index.row());
        painter->setPen(isLink ? LinkColor() : option.palette.color(QPalette::Text));
        painter->setFont(m_list->font());
        painter->drawText(row, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          DisplayText(index.data(Qt::DisplayRole).toString()));
        painter->restore();
    }

    static void DrawFocusFrame(QPainter* painter, const QRect& rect, const QStyleOptionViewItem& option)
    {
        QStyleOptionFocusRect frame;
        frame.QStyleOption::operator=(option);
        frame.rect = rect;
        frame.backgroundColor = option.palette.color(
            (option.state & QStyle::State_Selected) ? QPalette::Highlight : QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, painter, widget);
    }

private:
    CStatusListBox* m_list;
};

CStatusListBox::CStatusListBox(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new CLineDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Scroll bars stay in place, disabled while there is nothing to scroll.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
}

CStatusListBox::~CStatusListBox() = default;

QString CStatusListBox::DisplayText(const QString& line)
{
    qsizetype end = line.size();
    while (end > 0 && (line[end - 1] == QLatin1Char('\n') || line[end - 1] == QLatin1Char('\r')))
        --end;
    return line.left(end);
}

int CStatusListBox::TextWidth(const QString& line) const
{
    return fontMetrics().horizontalAdvance(DisplayText(line)) + 3;
}

void CStatusListBox::SetHorizontalExtent(int extent)
{
    if (extent == m_nHorizontalExtent)
        return;
    m_nHorizontalExtent = extent;
    scheduleDelayedItemsLayout();
}

int CStatusListBox::AddString(const QString& text)
{
    // Shown readable; the line itself stays beside, for the commands.
    auto* line = new QListWidgetItem(platform::ShownPath(text));
    line->setData(kLineRole, text);
    addItem(line);
    const int width = TextWidth(line->text());
    if (width > m_nHorizontalExtent)
        SetHorizontalExtent(width);
    return count() - 1;
}

int CStatusListBox::DeleteString(int index)
{
    if (index < 0 || index >= count())
        return -1;
    delete takeItem(index);
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, TextWidth(item(i)->text()));
    SetHorizontalExtent(widest);
    return count();
}

void CStatusListBox::ResetContent()
{
    clear();
    SetHorizontalExtent(0);
}

QString CStatusListBox::GetText(int index) const
{
    const QListWidgetItem* line = item(index);
    return line ? line->text() : QString();
}

QString CStatusListBox::GetLine(int index) const
{
    const QListWidgetItem* line = item(index);
    return line ? line->data(kLineRole).toString() : QString();
}

int CStatusListBox::GetCurSel() const
{
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void CStatusListBox::SetCurSel(int index)
{
    setCurrentRow(index);
    if (QListWidgetItem* line = item(index))
        scrollToItem(line);
}

void CStatusListBox::MarkLastLineAsLink()
{
    m_linkLines.append(count() - 1);
}

void CStatusListBox::ClearLinks()
{
    m_linkLines.clear();
}

bool CStatusListBox::IsLinkLine(int index) const
{
    return m_linkLines.contains(index);
}

QString CStatusListBox::LinkPath(const QString& line)
{
    const QString text = DisplayText(line);
    const qsizetype first = text.indexOf(QLatin1Char('"'));
    if (first < 0)
        return QString();
    const qsizetype second = text.indexOf(QLatin1Char('"'), first + 1);
    return second < 0 ? text.mid(first + 1) : text.mid(first + 1, second - first - 1);
}

QString CStatusListBox::FolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

void CStatusListBox::OnCommand(int id)
{
    const int selected = GetCurSel();
    if (!IsLinkLine(selected))
        return;
    const QString path = LinkPath(GetLine(selected));
    if (path.isEmpty())
        return; // nothing to open; the shell would fail anyway
    switch (id) {
    case IdOpen: platform::OpenInTextEditor(path); break;
    case IdOpenFolder: platform::OpenFolder(FolderOf(path)); break;
    case IdProperties: platform::ShowFileProperties(path, this); break;
    case IdPlot: emit PlotRequested(path); break;
    default: break;
    }
}

QRect CStatusListBox::SelectedLineRect() const
{
    const QListWidgetItem* line = item(GetCurSel());
    if (!line)
        return QRect();
    QRect rect = visualItemRect(line);
    rect.setRight(std::max(rect.right(), viewport()->width() - 1));
    return rect;
}

std::unique_ptr<QMenu> CStatusListBox::BuildContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    auto addCommand = [this, &menu](int id, const QString& text) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    };
    // The resource's first pop-up, less its first item ("Property"), which the three commands
    // below replace. Without the resource the menu holds just the three.
    const QJsonObject resource = QJsonDocument::fromJson(platform::LoadResource(kContextMenuId, "MENU")).object();
    const QJsonArray popups = resource.value(QStringLiteral("popups")).toArray();
    if (!popups.isEmpty()) {
        const QJsonArray items = popups.first().toObject().value(QStringLiteral("items")).toArray();
        for (qsizetype i = 1; i < items.size(); ++i) {
            const QJsonObject entry = items[i].toObject();
            if (entry.value(QStringLiteral("separator")).toBool())
                menu->addSeparator();
            else
                addCommand(entry.value(QStringLiteral("id")).toInt(), entry.value(QStringLiteral("text")).toString());
        }
    }
    addCommand(IdOpen, QStringLiteral("Open"));
    addCommand(IdOpenFolder, QStringLiteral("Open Containing Folder"));
    addCommand(IdProperties, QStringLiteral("Properties"));
    addCommand(IdPlot, QStringLiteral("Plot"));
    return menu;
}

void CStatusListBox::ShowContextMenu(const QPoint& globalPos)
{
    const std::unique_ptr<QMenu> menu = BuildContextMenu();
    menu->exec(globalPos);
}

void CStatusListBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton) {
        QListWidget::mousePressEvent(event);
        return;
    }
    // A right press acts on the line already selected; it selects nothing itself.
    event->accept();
    if (IsLinkLine(GetCurSel()) && SelectedLineRect().contains(event->position().toPoint()))
        ShowContextMenu(event->globalPosition().toPoint());
}

void CStatusListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && IsLinkLine(GetCurSel()))
        OnCommand(IdOpen);
}

void CStatusListBox::contextMenuEvent(QContextMenuEvent* event)
{
    // The mouse's menu comes from the right press; the keyboard's (menu key, Shift+F10) opens
    // at the selected link line. Either way the event stops here, so the dialog behind does
    // not offer its own menu over the list.
    event->accept();
    if (event->reason() != QContextMenuEvent::Keyboard || !IsLinkLine(GetCurSel()))
        return;
    const QRect rect = SelectedLineRect();
    ShowContextMenu(viewport()->mapToGlobal(rect.bottomLeft()));
}

void CStatusListBox::paintEvent(QPaintEvent* event)
{
    QListWidget::paintEvent(event);
    if (count() > 0 || !hasFocus())
        return;
    // An empty list with the focus shows just the focus frame where the first line would be.
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.state |= QStyle::State_HasFocus;
    CLineDelegate::DrawFocusFrame(&painter, QRect(0, 0, viewport()->width(), fontMetrics().height()), option);
}
