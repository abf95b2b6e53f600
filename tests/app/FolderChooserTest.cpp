#include "AppTestSupport.h"

#include "app/CFolderChooser.h"
#include "app/CMainDialog.h"
#include "platform/CFolderDialog.h"
#include "platform/ModalDialog.h"
#include "platform/TextBytes.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace {

using platform::CFolderDialog;

struct ShortenCase {
    const char* what;
    QString unit; // one character as the user sees it
    int count;
    bool cut;
};

TEST(FolderChooserStatus, CutsAfter35CharactersNotBytes)
{
    const ShortenCase cases[] = {
        {"ASCII", QStringLiteral("a"), 35, false},
        {"ASCII", QStringLiteral("a"), 36, true},
        {"two-byte UTF-8", QStringLiteral("ä"), 35, false},
        {"two-byte UTF-8", QStringLiteral("ä"), 36, true},
        {"outside the basic plane", QStringLiteral("\U0001F600"), 35, false},
        {"outside the basic plane", QStringLiteral("\U0001F600"), 36, true},
        {"letter with a combining accent", QStringLiteral("e\u0301"), 36, true},
    };
    for (const ShortenCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " x" + std::to_string(c.count));
        const QString text = c.unit.repeated(c.count);
        const QString expected = c.cut ? c.unit.repeated(35) + QStringLiteral("...") : text;
        EXPECT_EQ(CFolderChooser::ShortenForStatus(text), expected);
    }
    EXPECT_EQ(CFolderChooser::ShortenForStatus(QString()), QString());
}

class FolderChooserTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetModalHandler({}); }

    // The folder dialog is answered by fn (shown, so the keyboard works as on the desktop).
    void Answer(std::function<int(CFolderDialog&)> fn)
    {
        platform::SetModalHandler([this, fn](QDialog& dialog) -> std::optional<int> {
            auto* folders = qobject_cast<CFolderDialog*>(&dialog);
            EXPECT_NE(folders, nullptr);
            if (!folders)
                return QDialog::Rejected;
            ++m_opened;
            folders->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(folders));
            const int result = fn(*folders);
            folders->hide();
            return result;
        });
    }

    QString MakeFolder(const QString& relative) const
    {
        const QString path = m_cwd.Path() + QLatin1Char('/') + relative;
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    TempCurrentDir m_cwd;
    int m_opened = 0;
};

TEST_F(FolderChooserTest, OpensWithoutInitialFolderAndTheStatusLineFollowsTheSelection)
{
    const QString shortPath = MakeFolder(QStringLiteral("d"));
    const QString longPath = MakeFolder(QStringLiteral("a-folder-name-long-enough-to-be-cut"));
    QStringList statuses;
    Answer([&](CFolderDialog& dialog) {
        EXPECT_EQ(dialog.TitleText(), QStringLiteral("Current Selection"));
        EXPECT_EQ(dialog.Tree()->accessibleName(), QStringLiteral("Current Selection"));
        statuses << dialog.StatusText();
        EXPECT_FALSE(dialog.CurrentItem().hasPath) << "the tree starts on Computer";
        EXPECT_TRUE(dialog.SetSelection(shortPath));
        statuses << dialog.StatusText();
        EXPECT_TRUE(dialog.SetSelection(longPath));
        statuses << dialog.StatusText();
        return int(QDialog::Accepted);
    });
    CFolderChooser chooser(QString(), 0, nullptr);
    EXPECT_EQ(chooser.Browse(), CFolderChooser::ResultOk);
    EXPECT_EQ(chooser.GetSelectedFolder(), longPath);
    EXPECT_EQ(statuses, QStringList({QString(), shortPath, CFolderChooser::ShortenForStatus(longPath)}));
    EXPECT_TRUE(statuses.last().endsWith(QStringLiteral("...")));
}

TEST_F(FolderChooserTest, InitialFolderIsSelectedAndShown)
{
    const QString start = MakeFolder(QStringLiteral("start"));
    Answer([&](CFolderDialog& dialog) {
        EXPECT_EQ(dialog.StatusText(), start);
        EXPECT_EQ(dialog.CurrentItem().path, start);
        return int(QDialog::Rejected);
    });
    CFolderChooser chooser(start, 0, nullptr);
    EXPECT_EQ(chooser.Browse(), CFolderChooser::ResultCancel);
    EXPECT_EQ(m_opened, 1);
}

// The keyboard as in any tree: Right opens a folder, Down moves into it, Home goes to Computer.
TEST_F(FolderChooserTest, KeyboardMovesTheSelectionAndAnItemWithoutAPathReturns2)
{
    const QString top = MakeFolder(QStringLiteral("top"));
    const QString sub = MakeFolder(QStringLiteral("top/sub"));
    WriteFileBytes(top + QStringLiteral("/a-file"), "x");
    QStringList statuses;
    Answer([&](CFolderDialog& dialog) {
        dialog.SetSelection(top);
        QTest::keyClick(dialog.Tree(), Qt::Key_Right);
        QTest::keyClick(dialog.Tree(), Qt::Key_Down);
        statuses << dialog.StatusText();
        // Folders only: the file is not in the tree.
        EXPECT_EQ(dialog.Tree()->model()->rowCount(dialog.Tree()->currentIndex().parent()), 1);
        QTest::keyClick(dialog.Tree(), Qt::Key_Home);
        statuses << dialog.StatusText();
        return int(QDialog::Accepted);
    });
    CFolderChooser chooser(QString(), 0, nullptr);
    EXPECT_EQ(chooser.Browse(), CFolderChooser::ResultCancel);
    EXPECT_EQ(statuses, QStringList({sub, QString()}));
}

TEST_F(FolderChooserTest, SelectionByPathRefusesWhatIsNoFolder)
{
    const QString folder = MakeFolder(QStringLiteral("f"));
    const QString hidden = MakeFolder(QStringLiteral("f/.hidden"));
    WriteFileBytes(folder + QStringLiteral("/file"), "x");
    // A name that is not UTF-8 is shown readable; its path keeps the bytes.
    const QByteArray badName = QFile::encodeName(folder) + "/bad\xff";
    ASSERT_EQ(mkdir(badName.constData(), 0700), 0);
    Answer([&](CFolderDialog& dialog) {
        for (const QString& refused : {QString(), folder + QStringLiteral("/file"), folder + QStringLiteral("/none"),
                                       folder + QChar(0) + QStringLiteral("x")})
            EXPECT_FALSE(dialog.SetSelection(refused)) << refused.toStdString();
        EXPECT_FALSE(dialog.CurrentItem().hasPath);
        EXPECT_TRUE(dialog.SetSelection(hidden));
        EXPECT_EQ(dialog.CurrentItem().path, hidden);
        EXPECT_TRUE(dialog.SetSelection(QStringLiteral("f")));
        EXPECT_EQ(dialog.CurrentItem().path, folder) << "relative to the current directory";
        // Open since the hidden folder was selected: its first entry is the listed one.
        QTest::keyClick(dialog.Tree(), Qt::Key_Down);
        const platform::FolderItem bad = dialog.CurrentItem();
        EXPECT_EQ(bad.displayName, QStringLiteral("bad\u00FF"));
        EXPECT_TRUE(bad.hasPath);
        EXPECT_EQ(platform::EscapedBytes(bad.path), badName.toStdString());
        EXPECT_EQ(dialog.StatusText(), CFolderChooser::ShortenForStatus(platform::ShownPath(bad.path)));
        return int(QDialog::Accepted);
    });
    CFolderChooser chooser(QString(), 0, nullptr);
    EXPECT_EQ(chooser.Browse(), CFolderChooser::ResultOk);
    EXPECT_EQ(platform::EscapedBytes(chooser.GetSelectedFolder()), badName.toStdString());
    rmdir(badName.constData()); // QTemporaryDir cannot name it
}

TEST_F(FolderChooserTest, FoldersUnderTheHomeFolderAreReachedThroughHome)
{
    const QByteArray oldHome = qgetenv("HOME");
    const QString home = MakeFolder(QStringLiteral("home"));
    const QString inside = MakeFolder(QStringLiteral("home/data"));
    qputenv("HOME", QFile::encodeName(home));
    Answer([&](CFolderDialog& dialog) {
        EXPECT_TRUE(dialog.SetSelection(inside));
        const QModelIndex parent = dialog.Tree()->currentIndex().parent();
        EXPECT_EQ(parent.data().toString(), QStringLiteral("Home"));
        EXPECT_EQ(parent.parent().data().toString(), QStringLiteral("Computer"));
        return int(QDialog::Accepted);
    });
    CFolderChooser chooser(QString(), 0, nullptr);
    EXPECT_EQ(chooser.Browse(), CFolderChooser::ResultOk);
    qputenv("HOME", oldHome);
    EXPECT_EQ(chooser.GetSelectedFolder(), inside);
}

// The main window's Browse: OK puts the folder into "Folder to save data"; Cancel, or an item
// without a path, keeps the text.
TEST_F(FolderChooserTest, BrowseFillsTheFolderEditOnlyWhenAFolderWasChosen)
{
    const QString chosen = MakeFolder(QStringLiteral("data"));
    CMainDialog dialog;
    auto* edit = qobject_cast<QLineEdit*>(dialog.GetDlgItem(CMainDialog::IdFolder));
    auto* browse = qobject_cast<QAbstractButton*>(dialog.GetDlgItem(CMainDialog::IdBrowse));
    ASSERT_TRUE(edit && browse);
    edit->setText(QStringLiteral("old"));

    Answer([&](CFolderDialog& folders) {
        folders.SetSelection(chosen);
        return int(QDialog::Rejected);
    });
    browse->click();
    EXPECT_EQ(edit->text(), QStringLiteral("old"));

    Answer([&](CFolderDialog& folders) {
        folders.SetSelection(chosen);
        QTest::keyClick(folders.Tree(), Qt::Key_Home);
        return int(QDialog::Accepted);
    });
    browse->click();
    EXPECT_EQ(edit->text(), QStringLiteral("old"));

    Answer([&](CFolderDialog& folders) {
        folders.SetSelection(chosen);
        return int(QDialog::Accepted);
    });
    browse->click();
    EXPECT_EQ(edit->text(), chosen);
    EXPECT_EQ(m_opened, 3);

    // A folder whose name is not UTF-8 is shown readable and saved as its bytes.
    const QByteArray bytes = QFile::encodeName(chosen) + "/caf\xE9";
    ASSERT_EQ(mkdir(bytes.constData(), 0700), 0);
    Answer([&](CFolderDialog& folders) {
        EXPECT_TRUE(folders.SetSelection(platform::EscapedText(bytes.toStdString())));
        return int(QDialog::Accepted);
    });
    browse->click();
    EXPECT_EQ(edit->text(), chosen + QStringLiteral(u"/caf\u00E9"));
    dialog.SaveSettings();
    EXPECT_EQ(dialog.Settings().m_strFolder, bytes.toStdString());
}

} // namespace
