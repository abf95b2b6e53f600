#pragma once
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

// Dialog units to pixels, the way dialog templates are laid out: the horizontal base unit is
// the font's average character width (from the 52 letters), the vertical one the font's
// height; x pixels = x * baseX / 4, y pixels = y * baseY / 8, each rounded.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    CDialogUnits(int baseX, int baseY) : m_nBaseX(baseX), m_nBaseY(baseY) {}

    int X(int dlu) const;
    int Y(int dlu) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

    // Puts a control at its template position; a nonzero id becomes its object name, so the
    // control can be found by its number as in the templates.
    template <typename Widget>
    Widget* Place(Widget* widget, int x, int y, int width, int height, int id = 0) const
    {
        widget->setGeometry(Rect(x, y, width, height));
        if (id != 0)
            widget->setObjectName(QString::number(id));
        return widget;
    }
    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

    // The dialog font of the templates ("MS Sans Serif", 8 points) on this desktop: the
    // desktop's sans-serif face at 8 points.
    static QFont DialogFont();

private:
    int m_nBaseX;
    int m_nBaseY;
};

// The control placed with that id (see CDialogUnits::Place), or null.
inline QWidget* DialogItem(const QWidget* dialog, int id)
{
    return dialog->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}
