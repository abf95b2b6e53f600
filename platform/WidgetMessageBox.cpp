#include "platform/WidgetMessageBox.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

void UseWidgetMessageBoxes()
{
    SetMessageBoxPresenter([](const QString& caption, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
        // The text may name a path or carry a unit's words: never read as markup.
        box.setTextFormat(Qt::PlainText);
        box.setAccessibleName(caption);
        box.setAccessibleDescription(text);
        box.exec();
    });
}

} // namespace platform
