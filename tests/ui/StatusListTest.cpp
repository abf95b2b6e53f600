#include "common/QtPrinters.h"
#include "common/TestSupport.h"

#include "platform/CFilePropertiesDialog.h"
#include "platform/ShellActions.h"
#include "platform/TextBytes.h"
#include "ui/CStatusListBox.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const QString kReportPath = QStringLiteral("/data/192.0.2.20_p1_temperature.txt");

QString SavingLine(const QString& path)
{
    return QStringLiteral("Saving data to \"%1\" ...\n").arg(path);
}

// A list on screen (offscreen platform) with a font drawn without antialiasing, so that text
// pixels carry the pen colour exactly.
class StatusListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFont font = m_list.font();
        font.setStyleStrategy(QFont::NoAntialias);
        font.setPixelSize(14);
        m_list.setFont(font);
        m_list.resize(300, 200);
        m_list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
        platform::SetShellActionHandler([this](platform::ShellAction action, const QString& path) {
            m_actions.emplace_back(action, path);
        });
    }
    void TearDown() override { platform::SetShellActionHandler({}); }

    void AddLine(const QString& text, bool link)
    {
        m_list.AddString(text);
        if (link)
            m_list.MarkLastLineAsLink();
    }

    QPoint RowCenter(int row) const
    {
        return QPoint(20, m_list.visualItemRect(m_list.item(row)).center().y());
    }

    // Runs press; when a pop-up menu opens meanwhile, notes its commands and triggers the one
    // named choose (or none). Returns the commands seen, empty when no menu opened.
    QStringList WatchMenu(const std::function<void()>& press, const QString& choose = QString())
    {
        QStringList seen;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            poll.stop();
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                if (action->isSeparator())
                    continue;
                seen << action->text();
                if (action->text() == choose)
                    chosen = action;
            }
            menu->close();
            if (chosen)
                chosen->trigger();
        });
        poll.start();
        press();
        QTest::qWait(30); // a menu would have opened by now
        return seen;
    }

    QImage RowImage(int row)
    {
        const QRect rect = m_list.visualItemRect(m_list.item(row));
        return m_list.viewport()->grab(QRect(0, rect.top(), m_list.viewport()->width(), rect.height())).toImage();
    }

    static int CountPixels(const QImage& image, const QColor& color)
    {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y).rgb() == color.rgb();
        return n;
    }

    CStatusListBox m_list;
    std::vector<std::pair<platform::ShellAction, QString>> m_actions;
};

} // namespace

TEST_F(StatusListTest, HorizontalExtentFollowsTheWidestLine)
{
    const QFontMetrics fm(m_list.font());
    const QString shortLine = QStringLiteral("Port 3 offline.\n");
    const QString wideLine = QStringLiteral("W").repeated(60);
    EXPECT_EQ(m_list.GetHorizontalExtent(), 0);

    m_list.AddString(shortLine);
    // The line break is not drawn and does not count.
    EXPECT_EQ(m_list.GetHorizontalExtent(), fm.horizontalAdvance(QStringLiteral("Port 3 offline.")) + 3);

    m_list.AddString(wideLine);
    const int wide = fm.horizontalAdvance(wideLine) + 3;
    EXPECT_EQ(m_list.GetHorizontalExtent(), wide);
    m_list.AddString(QStringLiteral("x"));
    EXPECT_EQ(m_list.GetHorizontalExtent(), wide) << "adding never narrows";

    // The view scrolls sideways over exactly that width.
    QCoreApplication::processEvents();
    EXPECT_EQ(m_list.horizontalScrollBar()->maximum(), wide - m_list.viewport()->width());

    EXPECT_EQ(m_list.DeleteString(1), 2);
    EXPECT_EQ(m_list.GetHorizontalExtent(), fm.horizontalAdvance(QStringLiteral("Port 3 offline.")) + 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_list.horizontalScrollBar()->maximum(), 0);

    EXPECT_EQ(m_list.DeleteString(5), -1);
    m_list.DeleteString(0);
    m_list.DeleteString(0);
    EXPECT_EQ(m_list.GetHorizontalExtent(), 0);

    m_list.AddString(wideLine);
    m_list.ResetContent();
    EXPECT_EQ(m_list.GetCount(), 0);
    EXPECT_EQ(m_list.GetHorizontalExtent(), 0);
}

TEST_F(StatusListTest, LinkMarksAreLineIndexesUntilCleared)
{
    AddLine(QStringLiteral("plain"), false);
    AddLine(SavingLine(kReportPath), true);
    AddLine(QStringLiteral("plain"), false);
    EXPECT_FALSE(m_list.IsLinkLine(0));
    EXPECT_TRUE(m_list.IsLinkLine(1));
    EXPECT_FALSE(m_list.IsLinkLine(2));
    EXPECT_FALSE(m_list.IsLinkLine(-1));
    m_list.ClearLinks();
    EXPECT_FALSE(m_list.IsLinkLine(1));
}

TEST(StatusListPaths, PathIsTheTextBetweenTheFirstTwoQuotes)
{
    const QString longPath = QStringLiteral("/home/operator/monitoring/site-north/building-7/") + QString(120, QLatin1Char('d'))
        + QStringLiteral("/192.0.2.20_p1_temperature.txt");
    const struct {
        QString line;
        QString path;
        QString folder;
    } cases[] = {
        {SavingLine(kReportPath), kReportPath, QStringLiteral("/data")},
        // Paths longer than 127 characters stay whole.
        {SavingLine(longPath), longPath, longPath.left(longPath.lastIndexOf(QLatin1Char('/')))},
        {QStringLiteral("a \"/x/y z.txt\" b \"/other\""), QStringLiteral("/x/y z.txt"), QStringLiteral("/x")},
        // No second quote: to the end of the line (less its line break).
        {QStringLiteral("Saving data to \"/data/cut\n"), QStringLiteral("/data/cut"), QStringLiteral("/data")},
        {QStringLiteral("no quote at all"), QString(), QString()},
        {QStringLiteral("\"/root.txt\""), QStringLiteral("/root.txt"), QStringLiteral("/")},
        {QStringLiteral("\"relative.txt\""), QStringLiteral("relative.txt"), QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CStatusListBox::LinkPath(c.line), c.path) << c.line.toStdString();
        EXPECT_EQ(CStatusListBox::FolderOf(c.path), c.folder) << c.path.toStdString();
    }
}

TEST_F(StatusListTest, LinkLinesAreDrawnInTheirColourSelectedOrNot)
{
    AddLine(QStringLiteral("Port 3 offline."), false);
    AddLine(SavingLine(kReportPath), true);
    QCoreApplication::processEvents();
    const QColor text = m_list.palette().color(QPalette::Text);

    EXPECT_GT(CountPixels(RowImage(1), CStatusListBox::LinkColor()), 20);
    EXPECT_EQ(CountPixels(RowImage(0), CStatusListBox::LinkColor()), 0);
    EXPECT_GT(CountPixels(RowImage(0), text), 20);

    m_list.SetCurSel(1);
    QCoreApplication::processEvents();
    const QImage selected = RowImage(1);
    EXPECT_GT(CountPixels(selected, CStatusListBox::LinkColor()), 20);
    EXPECT_GT(CountPixels(selected, m_list.palette().color(QPalette::Highlight)), selected.width())
        << "the highlight spans the row";

    m_list.SetCurSel(0);
    QCoreApplication::processEvents();
    EXPECT_GT(CountPixels(RowImage(0), text), 20) << "plain lines keep the window text colour when selected";
}

TEST_F(StatusListTest, MenuOnlyOnTheSelectedLinkLine)
{
    AddLine(QStringLiteral("Port 3 offline."), false);
    AddLine(SavingLine(kReportPath), true);
    AddLine(SavingLine(QStringLiteral("/data/second.txt")), true);
    QCoreApplication::processEvents();
    auto rightPress = [this](int row) {
        return [this, row] { QTest::mousePress(m_list.viewport(), Qt::RightButton, {}, RowCenter(row)); };
    };

    m_list.SetCurSel(0);
    EXPECT_TRUE(WatchMenu(rightPress(0)).isEmpty()) << "plain line";
    EXPECT_TRUE(WatchMenu(rightPress(1)).isEmpty()) << "link line, but not the selected one";
    EXPECT_EQ(m_list.GetCurSel(), 0) << "a right press selects nothing";

    m_list.SetCurSel(1);
    EXPECT_TRUE(WatchMenu(rightPress(2)).isEmpty()) << "pointer outside the selected line";
    const QStringList menu = WatchMenu(rightPress(1));
    EXPECT_EQ(menu, (QStringList{QStringLiteral("Open"), QStringLiteral("Open Containing Folder"),
                                 QStringLiteral("Properties"), QStringLiteral("Plot")}));
    EXPECT_TRUE(m_actions.empty()) << "nothing chosen, nothing done";
}

TEST_F(StatusListTest, CommandsActOnTheSelectedLinePathAndFolder)
{
    AddLine(QStringLiteral("plain"), false);
    AddLine(SavingLine(kReportPath), true);
    QCoreApplication::processEvents();
    m_list.SetCurSel(1);
    const auto press = [this] { QTest::mousePress(m_list.viewport(), Qt::RightButton, {}, RowCenter(1)); };

    WatchMenu(press, QStringLiteral("Open"));
    WatchMenu(press, QStringLiteral("Open Containing Folder"));
    WatchMenu(press, QStringLiteral("Properties"));
    QStringList plotted;
    QObject::connect(&m_list, &CStatusListBox::PlotRequested, [&](const QString& path) { plotted << path; });
    WatchMenu(press, QStringLiteral("Plot"));
    EXPECT_EQ(plotted, QStringList {kReportPath});
    using platform::ShellAction;
    const std::vector<std::pair<ShellAction, QString>> expected = {
        {ShellAction::OpenInEditor, kReportPath},
        {ShellAction::OpenFolder, QStringLiteral("/data")},
        {ShellAction::ShowProperties, kReportPath},
    };
    EXPECT_EQ(m_actions, expected);
}

// A line keeps the bytes of a path that is not UTF-8 (as platform::EscapedText holds them): it
// shows them readable, and its commands get the path with every byte.
TEST_F(StatusListTest, ALineKeepsThePathBytesAndShowsThemReadable)
{
    const std::string report = "/data/caf\xE9/192.0.2.20_p1_temperature.txt"; // Latin-1 folder name
    AddLine(SavingLine(platform::EscapedText(report)), true);
    EXPECT_EQ(CStatusListBox::DisplayText(m_list.GetText(0)),
              QString::fromUtf8("Saving data to \"/data/caf\u00e9/192.0.2.20_p1_temperature.txt\" ..."));
    m_list.SetCurSel(0);
    m_list.OnCommand(CStatusListBox::IdOpen);
    m_list.OnCommand(CStatusListBox::IdOpenFolder);
    m_list.OnCommand(CStatusListBox::IdProperties);
    ASSERT_EQ(m_actions.size(), 3u);
    EXPECT_EQ(platform::EscapedBytes(m_actions[0].second), report);
    EXPECT_EQ(platform::EscapedBytes(m_actions[1].second), "/data/caf\xE9");
    EXPECT_EQ(platform::EscapedBytes(m_actions[2].second), report);
}

// Where no file manager shows properties, the program's own dialog finds the file by its bytes.
TEST(FileProperties, AFileInAFolderNamedInAnotherEncodingIsFound)
{
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/caf\xE9";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string path = folder + "/r.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "12345", 5), 5);
    ::close(fd);
    CFilePropertiesDialog dialog(platform::EscapedText(path));
    QStringList rows;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (!label->accessibleName().isEmpty())
            rows << label->accessibleName() + ": " + label->text();
    EXPECT_TRUE(rows.contains("Size: 5 bytes")) << rows.join(" | ").toStdString();
    EXPECT_TRUE(rows.contains("Name: r.txt")) << rows.join(" | ").toStdString();
    EXPECT_TRUE(rows.contains("Folder: " + dir.path() + QString::fromUtf8("/caf\u00e9"))) << rows.join(" | ").toStdString();
    EXPECT_TRUE(rows.contains("Access: read, write")) << rows.join(" | ").toStdString();
}

TEST_F(StatusListTest, DoubleClickOpensOnlyLinkLines)
{
    AddLine(QStringLiteral("Port 3 offline."), false);
    AddLine(SavingLine(kReportPath), true);
    QCoreApplication::processEvents();

    QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, RowCenter(0));
    EXPECT_TRUE(m_actions.empty());

    QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, RowCenter(1));
    ASSERT_EQ(m_actions.size(), 1u);
    EXPECT_EQ(m_actions[0].first, platform::ShellAction::OpenInEditor);
    EXPECT_EQ(m_actions[0].second, kReportPath);
}

TEST_F(StatusListTest, MenuKeyOffersTheCommandsOnTheSelectedLinkLine)
{
    AddLine(QStringLiteral("plain"), false);
    AddLine(SavingLine(kReportPath), true);
    m_list.setFocus();
    // What the menu key (or Shift+F10) delivers to the focused list.
    const auto menuKey = [this] {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint());
        QApplication::sendEvent(&m_list, &event);
    };

    m_list.SetCurSel(0);
    EXPECT_TRUE(WatchMenu(menuKey).isEmpty());
    m_list.SetCurSel(1);
    WatchMenu(menuKey, QStringLiteral("Open"));
    ASSERT_EQ(m_actions.size(), 1u);
    EXPECT_EQ(m_actions[0].second, kReportPath);
}
