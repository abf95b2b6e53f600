#include "platform/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

namespace {
// MulDiv: a * b / c rounded to the nearest integer.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}
} // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (letters / 26 + 1) / 2;
    m_nBaseY = fm.height();
}

int CDialogUnits::X(int dlu) const { return MulDiv(dlu, m_nBaseX, 4); }
int CDialogUnits::Y(int dlu) const { return MulDiv(dlu, m_nBaseY, 8); }

QRect CDialogUnits::Rect(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}

QFont CDialogUnits::DialogFont()
{
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}
