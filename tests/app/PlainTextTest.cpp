// Texts from a file, a path or a unit are shown as they are in every window, never as markup.
#include "common/TestSupport.h"

#include "app/CMainDialog.h"
#include "collect/CFileNameDialog.h"
#include "oidgen/ReadOidDlg.h"
#include "platform/CFilePropertiesDialog.h"
#include "platform/MessageBox.h"
#include "platform/WidgetMessageBox.h"

#include "AppTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const QString kMarkup = QStringLiteral("<b><font color=red size=6>missing</font></b>");

// The formats of the labels of window that show (part of) the markup.
std::vector<Qt::TextFormat> FormatsShowingMarkup(const QWidget& window)
{
    std::vector<Qt::TextFormat> formats;
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->text().contains(QStringLiteral("<font color=red")))
            formats.push_back(label->textFormat());
    return formats;
}

} // namespace

TEST(PlainText, EveryWindowShowsOutsideTextAsPlainText)
{
    TempCurrentDir cwd; // the main window reads the settings file of the current directory
    const struct {
        const char* window;
        std::function<std::unique_ptr<QWidget>()> make;
    } cases[] = {
        {"main window status text",
         [] {
             auto dialog = std::make_unique<CMainDialog>();
             dialog->SetStatusText(kMarkup);
             return std::unique_ptr<QWidget>(std::move(dialog));
         }},
        {"File Name dialog", [] { return std::make_unique<CFileNameDialog>(kMarkup); }},
        {"Generate OID dialog",
         [] {
             auto dialog = std::make_unique<COidGenDialog>();
             dialog->SetStatusText(kMarkup.toStdString());
             return std::unique_ptr<QWidget>(std::move(dialog));
         }},
        {"file properties", [] { return std::make_unique<CFilePropertiesDialog>(QStringLiteral("/nowhere/") + kMarkup); }},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<QWidget> window = c.make();
        const std::vector<Qt::TextFormat> formats = FormatsShowingMarkup(*window);
        EXPECT_FALSE(formats.empty()) << c.window;
        for (const Qt::TextFormat format : formats)
            EXPECT_EQ(format, Qt::PlainText) << c.window;
    }

    // A real message box, answered as soon as it is up.
    platform::UseWidgetMessageBoxes();
    platform::SetMessageBoxHandler({});
    std::optional<Qt::TextFormat> boxFormat;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxFormat = box->textFormat();
            box->accept();
        }
    });
    platform::MessageBox(kMarkup);
    testsupport::MessageBoxSpy(); // puts the tests' handler back
    ASSERT_TRUE(boxFormat.has_value());
    EXPECT_EQ(*boxFormat, Qt::PlainText);
}
