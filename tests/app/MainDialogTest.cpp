#include "AppTestSupport.h"
#include "common/QtPrinters.h"
#include "common/TestSupport.h"

#include "app/CAboutDialog.h"
#include "app/CIpAddressCtrl.h"
#include "app/CMainDialog.h"
#include "oidgen/ReadOidDlg.h"
#include "platform/DialogUnits.h"
#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "ui/CGifAnimator.h"
#include "ui/CStatusListBox.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const QString kFile = QString::fromLatin1(kSettingsFileName);
const QString kNoAddress = QStringLiteral("Error! IP address is not entered.");
const QString kNoPassword = QStringLiteral("Error! Password is not entered.");
const QString kNoFolder = QStringLiteral("Error! Folder to save data is not entered.");
const QString kNoPeriod = QStringLiteral("Error! Time(sec) is not entered.");

// A main dialog on screen (offscreen platform) in a current directory of its own. The settings
// file, if any, is written before the dialog is built.
class MainDialogTest : public ::testing::Test {
protected:
    void Open(const QByteArray& settingsFile = QByteArray(), bool writeFile = false)
    {
        if (writeFile)
            WriteFileBytes(kFile, settingsFile);
        m_dialog = std::make_unique<CMainDialog>();
        m_dialog->show();
        m_dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog.get()));
    }

    template <typename T = QWidget>
    T* Item(int id) const
    {
        auto* widget = qobject_cast<T*>(m_dialog->GetDlgItem(id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    CIpAddressCtrl* Ip() const { return Item<CIpAddressCtrl>(CMainDialog::IdIpAddress); }
    QLineEdit* Edit(int id) const { return Item<QLineEdit>(id); }
    QAbstractButton* Button(int id) const { return Item<QAbstractButton>(id); }
    QWidget* Focus() const { return QApplication::focusWidget(); }

    // OnStart with every check passed but no run: the data file is there already and the File
    // Name dialog is cancelled, so nothing is ever sent to the address in the IP control.
    void StartWithoutRun()
    {
        const QString folder = Edit(CMainDialog::IdFolder)->text();
        ASSERT_TRUE(QDir::cleanPath(QDir(folder).absolutePath()).startsWith(m_cwd.Path())) << "a folder of the test's own";
        ASSERT_TRUE(QDir().mkpath(folder));
        WriteFileBytes(folder + "/data" + Ip()->GetAddressText() + ".txt", "old\r\n");
        EXPECT_EQ(StartCancellingFileNameDialogs(), 1);
    }

    // OnStart with every File Name dialog cancelled; how many were shown.
    int StartCancellingFileNameDialogs()
    {
        int fileNameDialogs = 0;
        platform::SetModalHandler([&](QDialog&) -> std::optional<int> {
            ++fileNameDialogs;
            return QDialog::Rejected;
        });
        m_dialog->OnStart();
        platform::SetModalHandler({});
        return fileNameDialogs;
    }

    // Fills the inputs through the keyboard.
    void Type(int id, const QString& text)
    {
        QLineEdit* edit = Edit(id);
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    TempCurrentDir m_cwd;
    MessageBoxSpy m_spy;
    std::unique_ptr<CMainDialog> m_dialog;
};

QByteArray Counted(const QByteArray& text)
{
    return QByteArray(1, static_cast<char>(text.size())) + text;
}

QByteArray Version2File(const QByteArray& ip, const QByteArray& period, const QByteArray& folder,
                        const QByteArray& password, char overwrite, char localZone)
{
    return Hex("02 00 00 00") + Counted(ip) + Counted(period) + Counted(folder) + Counted(password)
        + QByteArray(1, overwrite) + QByteArray(1, localZone);
}

} // namespace

TEST_F(MainDialogTest, FirstStartShowsTheDefaultsAndTheIdleState)
{
    Open();
    EXPECT_EQ(m_dialog->windowTitle(), QStringLiteral("Veltrane Ver.3.5,  Aug 20, 2009"));
    EXPECT_EQ(Ip()->text(), QStringLiteral("198.168.0.100"));
    EXPECT_EQ(Edit(CMainDialog::IdPeriod)->text(), QStringLiteral("10"));
    EXPECT_EQ(Edit(CMainDialog::IdPassword)->text(), QStringLiteral("orchid"));
    EXPECT_EQ(Edit(CMainDialog::IdFolder)->text(), QString());
    EXPECT_FALSE(Button(CMainDialog::IdCheckOverwrite)->isChecked());
    EXPECT_FALSE(Button(CMainDialog::IdCheckLocalTimezone)->isChecked());
    EXPECT_EQ(m_dialog->GetStatusText(), QStringLiteral("Ready..."));
    EXPECT_FALSE(Button(CMainDialog::IdStart)->isEnabled());
    EXPECT_FALSE(Button(CMainDialog::IdStop)->isEnabled());
    EXPECT_TRUE(Button(CMainDialog::IdGetOid)->isEnabled());
    EXPECT_TRUE(Button(CMainDialog::IdDownload)->isEnabled());
    EXPECT_TRUE(m_dialog->OidList().empty());
    EXPECT_FALSE(m_dialog->IsCollecting());
    EXPECT_EQ(Focus(), Ip()) << "the first control in tab order";
    EXPECT_FALSE(QFileInfo::exists(kFile)) << "opening writes nothing";
    EXPECT_TRUE(m_spy.texts().isEmpty());
}

TEST_F(MainDialogTest, StoredValuesFillTheControlsAndNonzeroFlagsAreWrittenBackAsOne)
{
    Open(Version2File("192.0.2.20", "30", "data", "public", 7, '\xFF'), true);
    EXPECT_EQ(Ip()->text(), QStringLiteral("192.0.2.20"));
    EXPECT_EQ(Edit(CMainDialog::IdPeriod)->text(), QStringLiteral("30"));
    EXPECT_EQ(Edit(CMainDialog::IdFolder)->text(), QStringLiteral("data"));
    EXPECT_EQ(Edit(CMainDialog::IdPassword)->text(), QStringLiteral("public"));
    EXPECT_TRUE(Button(CMainDialog::IdCheckOverwrite)->isChecked());
    EXPECT_TRUE(Button(CMainDialog::IdCheckLocalTimezone)->isChecked());

    StartWithoutRun();
    EXPECT_EQ(ReadFileBytes(kFile), Version2File("192.0.2.20", "30", "data", "public", 1, 1));
    EXPECT_TRUE(m_spy.texts().isEmpty());
}

TEST_F(MainDialogTest, UnreadableFilesShowTheirMessageThenTheDefaults)
{
    Open(QByteArray(), true); // zero length
    EXPECT_EQ(m_spy.texts(), QStringList{QStringLiteral("An attempt was made to access VeltraneG.ini past its end.")});
    EXPECT_EQ(Ip()->text(), QStringLiteral("198.168.0.100"));
    EXPECT_EQ(Edit(CMainDialog::IdPeriod)->text(), QStringLiteral("10"));
    EXPECT_EQ(Edit(CMainDialog::IdPassword)->text(), QStringLiteral("orchid"));
}

TEST_F(MainDialogTest, WrongVersionShowsTheNewRecordsValues)
{
    Open(Hex("03 00 00 00") + Version2File("192.0.2.20", "30", "/x", "p", 1, 1).mid(4), true);
    EXPECT_EQ(m_spy.texts(), QStringList{QStringLiteral("Wrong setting file version!")});
    EXPECT_EQ(Ip()->text(), QString());
    EXPECT_EQ(Ip()->GetAddressText(), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(Edit(CMainDialog::IdPeriod)->text(), QStringLiteral("5"));
    EXPECT_EQ(Edit(CMainDialog::IdPassword)->text(), QString());
    EXPECT_FALSE(Button(CMainDialog::IdCheckOverwrite)->isChecked());
}

TEST_F(MainDialogTest, StartWritesTheSettingsThenChecksPeriodThenFolder)
{
    Open();
    Type(CMainDialog::IdPeriod, QString());
    Type(CMainDialog::IdPassword, QString()); // Start does not look at the password
    m_dialog->OnStart();
    EXPECT_EQ(m_spy.texts(), QStringList{kNoPeriod});
    EXPECT_EQ(Focus(), Edit(CMainDialog::IdPeriod));
    EXPECT_EQ(ReadFileBytes(kFile), Version2File("198.168.0.100", "", "", "", 0, 0)) << "written before the check";

    Type(CMainDialog::IdPeriod, QStringLiteral("15"));
    m_dialog->OnStart();
    EXPECT_EQ(m_spy.texts().last(), kNoFolder);
    EXPECT_EQ(Focus(), Button(CMainDialog::IdBrowse)) << "Browse, not the folder edit";
    EXPECT_FALSE(m_dialog->IsCollecting());

    Type(CMainDialog::IdFolder, m_cwd.Path());
    StartWithoutRun();
    EXPECT_EQ(m_spy.texts().size(), 2);
    EXPECT_TRUE(m_dialog->IsCollecting());
    EXPECT_EQ(m_dialog->Settings().m_strFolder, m_cwd.Path().toStdString());
    m_dialog->OnStop();
    EXPECT_FALSE(m_dialog->IsCollecting());
}

TEST_F(MainDialogTest, GetOidChecksAddressThenPasswordAndWritesNothing)
{
    Open();
    Type(CMainDialog::IdIpAddress, QString());
    Type(CMainDialog::IdPassword, QString());
    QTest::mouseClick(Button(CMainDialog::IdGetOid), Qt::LeftButton);
    EXPECT_EQ(m_spy.texts(), QStringList{kNoAddress});
    EXPECT_EQ(Focus(), Ip());

    Type(CMainDialog::IdIpAddress, QStringLiteral("0.0.0.0")); // typed, still "not entered"
    QTest::mouseClick(Button(CMainDialog::IdGetOid), Qt::LeftButton);
    EXPECT_EQ(m_spy.texts().size(), 2);
    EXPECT_EQ(m_spy.texts().last(), kNoAddress);

    Type(CMainDialog::IdIpAddress, QStringLiteral("127.0.0.1"));
    QTest::mouseClick(Button(CMainDialog::IdGetOid), Qt::LeftButton);
    EXPECT_EQ(m_spy.texts().last(), kNoPassword);
    EXPECT_EQ(Focus(), Edit(CMainDialog::IdPassword));

    Type(CMainDialog::IdPassword, QStringLiteral("public"));
    // All checks passed: the Generate OID dialog would scan now; it is cancelled unopened.
    int generateOidRuns = 0;
    platform::SetModalHandler([&](QDialog&) -> std::optional<int> {
        ++generateOidRuns;
        return QDialog::Rejected;
    });
    QTest::mouseClick(Button(CMainDialog::IdGetOid), Qt::LeftButton);
    platform::SetModalHandler({});
    EXPECT_EQ(generateOidRuns, 1);
    EXPECT_EQ(m_spy.texts().size(), 3) << "all checks passed";
    EXPECT_FALSE(Button(CMainDialog::IdStart)->isEnabled()) << "no OID list yet";
    EXPECT_FALSE(QFileInfo::exists(kFile));
}

TEST_F(MainDialogTest, DownloadWritesTheSettingsThenChecksAddressPasswordFolder)
{
    Open();
    Type(CMainDialog::IdIpAddress, QString());
    Type(CMainDialog::IdPassword, QString());
    QAbstractButton* download = Button(CMainDialog::IdDownload);

    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_EQ(m_spy.texts(), QStringList{kNoAddress});
    EXPECT_EQ(Focus(), Ip());
    EXPECT_EQ(ReadFileBytes(kFile), Version2File("0.0.0.0", "10", "", "", 0, 0))
        << "an empty address control reads 0.0.0.0";

    Type(CMainDialog::IdIpAddress, QStringLiteral("127.0.0.1"));
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_EQ(m_spy.texts().last(), kNoPassword);
    EXPECT_EQ(Focus(), Edit(CMainDialog::IdPassword));

    Type(CMainDialog::IdPassword, QStringLiteral("public"));
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_EQ(m_spy.texts().last(), kNoFolder);
    EXPECT_EQ(Focus(), Button(CMainDialog::IdBrowse));
    EXPECT_EQ(m_dialog->Settings().m_strPassword, "public");

    // All checks pass: the download's controls are off and the link marks are forgotten.
    m_dialog->AddStatusLine(QStringLiteral("Saving data to \"/tmp/a.txt\" ...\n"), true);
    Type(CMainDialog::IdFolder, m_cwd.Path());
    QTest::mouseClick(Button(CMainDialog::IdCheckOverwrite), Qt::LeftButton);
    m_dialog->DatalogClient().set_receive_timeout(20);
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_EQ(m_spy.texts().size(), 3);
    EXPECT_FALSE(download->isEnabled());
    EXPECT_FALSE(Button(CMainDialog::IdCheckOverwrite)->isEnabled());
    EXPECT_FALSE(Button(CMainDialog::IdCheckLocalTimezone)->isEnabled());
    EXPECT_FALSE(Item<CStatusListBox>(CMainDialog::IdStatusList)->IsLinkLine(0));
    EXPECT_EQ(ReadFileBytes(kFile), Version2File("127.0.0.1", "10", m_cwd.Path().toUtf8(), "public", 1, 0));

    // Nobody answers there: the download says so and gives the controls back.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return download->isEnabled(); }));
    EXPECT_EQ(m_spy.texts().last(), QStringLiteral("No system reply !"));
    EXPECT_TRUE(Button(CMainDialog::IdCheckOverwrite)->isEnabled());
    EXPECT_TRUE(Button(CMainDialog::IdCheckLocalTimezone)->isEnabled());
}

TEST_F(MainDialogTest, SettingsTextsAreBytesKeptUnlessTheUserEditsThem)
{
    // Texts of the original platform's 8-bit code page, and UTF-8 ones; the empty period makes
    // Start stop right after writing the settings.
    const QByteArray password("caf\xE9");
    const QByteArray folder("/data/d\xC3\xA9j\xC3\xA0 \xFF");
    const QByteArray file = Version2File("127.0.0.1", "", folder, password, 1, 0);
    Open(file, true);
    EXPECT_EQ(Edit(CMainDialog::IdPassword)->text(), QStringLiteral(u"caf\u00E9")) << "read as Latin-1";
    EXPECT_EQ(Edit(CMainDialog::IdFolder)->text(), QStringLiteral(u"/data/d\u00C3\u00A9j\u00C3\u00A0 \u00FF"))
        << "not UTF-8 as a whole: every byte as Latin-1";

    m_dialog->OnStart();
    EXPECT_EQ(ReadFileBytes(kFile).toHex(' '), file.toHex(' ')) << "written back unchanged";
    std::string community;
    platform::SetModalHandler([&](QDialog& dialog) -> std::optional<int> {
        if (auto* oidGen = qobject_cast<COidGenDialog*>(&dialog))
            community = oidGen->m_strCommunity;
        return QDialog::Rejected;
    });
    m_dialog->OnGetOid();
    platform::SetModalHandler({});
    EXPECT_EQ(community, password.toStdString()) << "the unit gets the same bytes";

    Edit(CMainDialog::IdPassword)->setText(QStringLiteral(u"caf\u00E9!"));
    m_dialog->OnStart();
    EXPECT_EQ(ReadFileBytes(kFile).toHex(' '),
              Version2File("127.0.0.1", "", folder, "caf\xC3\xA9!", 1, 0).toHex(' '))
        << "an edited field goes out as typed, in UTF-8";
}

// The folder's bytes reach the system unchanged: shown as Latin-1, they must not be opened as
// the UTF-8 of what is shown.
TEST_F(MainDialogTest, AFolderNamedInAnotherEncodingIsTheOneStartUses)
{
    const QByteArray folder = QFile::encodeName(m_cwd.Path()) + "/caf\xE9";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    std::FILE* old = std::fopen((folder + "/data127.0.0.1.txt").constData(), "wb");
    ASSERT_TRUE(old);
    std::fclose(old);
    Open(Version2File("127.0.0.1", "10", folder, "public", 0, 0), true);
    EXPECT_EQ(StartCancellingFileNameDialogs(), 1) << "the existing data file was found in that folder";
    EXPECT_TRUE(m_spy.texts().isEmpty()) << m_spy.texts().join('\n').toStdString();
}

TEST_F(MainDialogTest, AFolderWithAZeroByteIsRefusedAndNothingIsWritten)
{
    const QByteArray victim = (m_cwd.Path() + QStringLiteral("/victim.txt")).toUtf8();
    WriteFileBytes(QString::fromUtf8(victim), "precious\r\n");
    Open(Version2File("127.0.0.1", "10", victim + QByteArray(1, '\0'), "public", 0, 0), true);
    EXPECT_EQ(Edit(CMainDialog::IdFolder)->text(), QString::fromUtf8(victim) + QChar(0x2400)) << "shown, not hidden";
    const QString refused = QString::fromUtf8(victim) + QChar(0x2400) + QStringLiteral(" contains an incorrect path.");
    int dialogs = 0;
    platform::SetModalHandler([&](QDialog&) -> std::optional<int> {
        ++dialogs;
        return QDialog::Rejected;
    });
    m_dialog->OnStart();
    m_dialog->OnDownload();
    QTest::qWait(50);
    platform::SetModalHandler({});
    EXPECT_EQ(m_spy.texts(), (QStringList{refused, refused}));
    EXPECT_EQ(Focus(), Button(CMainDialog::IdBrowse));
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(ReadFileBytes(QString::fromUtf8(victim)), "precious\r\n");
    EXPECT_EQ(QDir(m_cwd.Path()).entryList(QDir::Files), (QStringList{kFile, QStringLiteral("victim.txt")}));
}

TEST_F(MainDialogTest, EnterInAnEditEndsTheDialogLikeExit)
{
    Open();
    QTest::keyClick(Edit(CMainDialog::IdPeriod), Qt::Key_Return);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(QFileInfo::exists(kFile)) << "closing saves nothing";
}

TEST_F(MainDialogTest, EnterInTheAddressControlEndsTheDialog)
{
    Open();
    QTest::keyClick(Ip(), Qt::Key_Enter);
    EXPECT_FALSE(m_dialog->isVisible());
}

TEST_F(MainDialogTest, EscapeAndExitCancelTheDialog)
{
    Open();
    QTest::keyClick(Edit(CMainDialog::IdFolder), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);

    m_dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    QTest::mouseClick(Button(CMainDialog::IdExit), Qt::LeftButton);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, EnterOnAFocusedButtonPressesItYetNoButtonLooksLikeTheDefault)
{
    Open();
    for (const QPushButton* button : m_dialog->findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
    Type(CMainDialog::IdPassword, QString());
    Button(CMainDialog::IdGetOid)->setFocus();
    QTest::keyClick(Button(CMainDialog::IdGetOid), Qt::Key_Return);
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_spy.texts(), QStringList{kNoPassword});
}

TEST_F(MainDialogTest, PeriodTakesDigitsOnlyAndPasswordIsHidden)
{
    Open();
    Type(CMainDialog::IdPeriod, QStringLiteral("1a2-3 .4"));
    EXPECT_EQ(Edit(CMainDialog::IdPeriod)->text(), QStringLiteral("1234"));
    EXPECT_EQ(Edit(CMainDialog::IdPassword)->echoMode(), QLineEdit::Password);
}

TEST_F(MainDialogTest, AddressControlTakesOnlyDottedAddresses)
{
    Open();
    const struct {
        const char* typed;
        const char* shown;
        const char* reads;
    } cases[] = {
        {"192.0.2.20", "192.0.2.20", "192.0.2.20"},
        {"", "", "0.0.0.0"},
        {"10.1", "10.1", "10.1.0.0"},
        {"300.1.2.3", "30.1.2.3", "30.1.2.3"},      // "300" cannot be typed
        {"1.2.3.4.5", "1.2.3.45", "1.2.3.45"},      // no fifth field
        {"1a.b2.3.4", "1.2.3.4", "1.2.3.4"},
        {"010.0.0.1", "010.0.0.1", "10.0.0.1"},
        {"1234", "123", "123.0.0.0"},
    };
    for (const auto& c : cases) {
        Type(CMainDialog::IdIpAddress, QString::fromLatin1(c.typed));
        EXPECT_EQ(Ip()->text(), QString::fromLatin1(c.shown)) << c.typed;
        EXPECT_EQ(Ip()->GetAddressText(), QString::fromLatin1(c.reads)) << c.typed;
    }
    Ip()->SetAddressText(QStringLiteral("not an address"));
    EXPECT_EQ(Ip()->GetAddressText(), QStringLiteral("0.0.0.0"));
}

TEST_F(MainDialogTest, ControlsSitAtTheirTemplatePositionsInTabOrder)
{
    Open();
    const CDialogUnits du(m_dialog->font());
    EXPECT_EQ(m_dialog->size(), du.Size(314, 318));
    EXPECT_EQ(m_dialog->minimumSize(), m_dialog->maximumSize()) << "fixed size";
    const struct {
        int id;
        QRect dlu;
    } controls[] = {
        {1000, {59, 22, 75, 14}},   {1002, {59, 45, 34, 14}},   {1003, {59, 68, 34, 14}},
        {1016, {152, 24, 100, 14}}, {1017, {257, 22, 40, 17}},  {1004, {202, 49, 45, 17}},
        {1018, {255, 49, 45, 17}},  {1005, {202, 72, 45, 17}},  {2, {255, 72, 45, 17}},
        {1001, {12, 150, 290, 137}}, {1029, {5, 299, 304, 13}}, {1031, {159, 57, 24, 23}},
        {1035, {29, 107, 81, 12}},  {1036, {127, 107, 74, 12}}, {1037, {227, 104, 45, 17}},
    };
    for (const auto& c : controls) {
        const QRect expected = du.Rect(c.dlu.x(), c.dlu.y(), c.dlu.width(), c.dlu.height());
        if (c.id == CMainDialog::IdLamp) // a picture control takes its picture's size
            EXPECT_EQ(Item(c.id)->pos(), expected.topLeft());
        else
            EXPECT_EQ(Item(c.id)->geometry(), expected) << c.id;
    }

    // Tab walks the focusable controls in template order.
    const int order[] = {1000, 1002, 1003, 1016, 1017, 1005, 2, 1001, 1035, 1036, 1037}; // Start, Stop are off
    QWidget* w = Item(order[0]);
    for (std::size_t i = 1; i < std::size(order); ++i) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisible());
        EXPECT_EQ(w, Item(order[i])) << "after " << order[i - 1];
    }
}

TEST_F(MainDialogTest, EveryControlCarriesItsLabelsTextForAssistiveTechnology)
{
    Open();
    const struct {
        int id;
        const char* name;
    } names[] = {
        {1000, "IP Address"}, {1002, "Password"}, {1003, "Collection period (sec)"}, {1016, "Folder to save data"},
        {1001, "Status"},     {1031, "Status lamp"},
    };
    for (const auto& n : names)
        EXPECT_EQ(Item(n.id)->accessibleName(), QString::fromLatin1(n.name)) << n.id;
    const struct {
        int id;
        const char* text;
    } buttons[] = {
        {1017, "Browse"}, {1004, "Start"}, {1018, "Stop"}, {1005, "Get OID"}, {2, "Exit"},
        {1035, "Overwrite existed file"}, {1036, "Use local timezone"}, {1037, "Download"},
    };
    for (const auto& b : buttons)
        EXPECT_EQ(Button(b.id)->text(), QString::fromLatin1(b.text)) << b.id;
}

TEST_F(MainDialogTest, CheckBoxesKeepTheOptionFlagsInStep)
{
    Open();
    QTest::mouseClick(Button(CMainDialog::IdCheckLocalTimezone), Qt::LeftButton);
    Button(CMainDialog::IdCheckOverwrite)->setFocus();
    QTest::keyClick(Button(CMainDialog::IdCheckOverwrite), Qt::Key_Space);
    QTest::keyClick(Button(CMainDialog::IdCheckOverwrite), Qt::Key_Space);
    Type(CMainDialog::IdFolder, m_cwd.Path());
    StartWithoutRun();
    EXPECT_EQ(m_dialog->Settings().m_bOverwrite, 0);
    EXPECT_EQ(m_dialog->Settings().m_bLocalTimezone, 1);

    // Toggled as screen readers and scripts do it, through the accessibility action.
    for (int id : {CMainDialog::IdCheckOverwrite, CMainDialog::IdCheckLocalTimezone})
        QAccessible::queryAccessibleInterface(Button(id))->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
    Type(CMainDialog::IdFolder, QString());
    m_dialog->OnDownload(); // writes the settings, then stops at the empty folder
    EXPECT_TRUE(Button(CMainDialog::IdCheckOverwrite)->isChecked());
    EXPECT_EQ(m_dialog->Settings().m_bOverwrite, 1);
    EXPECT_EQ(m_dialog->Settings().m_bLocalTimezone, 0);
}

TEST_F(MainDialogTest, AboutBoxFromF1AndFromTheBackgroundMenu)
{
    Open();
    QStringList shown;
    platform::SetModalHandler([&](QDialog& dialog) -> std::optional<int> {
        if (qobject_cast<CAboutDialog*>(&dialog)) {
            QStringList texts;
            for (const QLabel* label : dialog.findChildren<QLabel*>())
                texts << label->text();
            shown << texts.join(QLatin1Char('|'));
        }
        return QDialog::Accepted;
    });

    QTest::keyClick(Edit(CMainDialog::IdFolder), Qt::Key_F1);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("Veltrane Version 3.5"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains(QStringLiteral("SNMP enterprise number: 32473"))) << shown[0].toStdString();

    // The right-click menu on the dialog's background offers the About command.
    QStringList menuTexts;
    QTimer::singleShot(20, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions())
                menuTexts << action->text();
            menu->close();
            menu->actions().first()->trigger();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), m_dialog->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_dialog.get(), &event);
    EXPECT_EQ(menuTexts, (QStringList {QStringLiteral("&About Configure..."), QStringLiteral("Plot Data File"),
                                       QStringLiteral("Plot a File...")}));
    EXPECT_EQ(shown.size(), 2);
    platform::SetModalHandler({});
}

TEST_F(MainDialogTest, StatusLampShowsTheStatesPicture)
{
    Open();
    auto* lamp = Item<CGifAnimator>(CMainDialog::IdLamp);
    ASSERT_TRUE(lamp->IsPrepared());
    EXPECT_EQ(lamp->accessibleDescription(), QStringLiteral("Idle"));
    const struct {
        int state;
        int picture;
        const char* meaning;
    } states[] = {{2, 147, "Collecting"}, {3, 148, "Last read failed"}, {1, 146, "Idle"}};
    for (const auto& s : states) {
        m_dialog->SetStatusLamp(s.state);
        CGifAnimator expected;
        ASSERT_TRUE(expected.LoadResourcePicture(s.picture, QStringLiteral("GIF")));
        expected.ShowPicture();
        EXPECT_EQ(lamp->Canvas(), expected.Canvas()) << s.state;
        EXPECT_EQ(lamp->accessibleDescription(), QString::fromLatin1(s.meaning));
    }
    m_dialog->SetStatusLamp(9); // shows what it holds
    EXPECT_EQ(lamp->accessibleDescription(), QStringLiteral("Idle"));
}

#include "ui/CPlotChart.h"
#include "ui/CPlotWindow.h"

#include <QFileDialog>

namespace {

TEST_F(MainDialogTest, PlotMenuEntriesOpenTheDataFileOrTheFileChosen)
{
    Open();
    Edit(CMainDialog::IdFolder)->setText(m_cwd.Path());
    Ip()->SetAddressText(QStringLiteral("127.0.0.9"));
    // No data file yet: the user is told, and no window opens.
    QStringList messages;
    platform::SetMessageBoxHandler([&](const QString&, const QString& text) { messages << text; });
    m_dialog->OnPlotDataFile();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("data127.0.0.9.txt"))) << messages[0].toStdString();
    EXPECT_EQ(m_dialog->findChild<CPlotWindow*>(), nullptr);
    platform::SetMessageBoxHandler([](const QString&, const QString& text) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
    });

    WriteFileBytes(m_cwd.Path() + "/data127.0.0.9.txt", "2026/12/08,  05:00:00,  21\r\n");
    WriteFileBytes(m_cwd.Path() + "/other.txt", "2026/12/08,  05:00:00,  1,  2\r\n");
    m_dialog->OnPlotDataFile();
    auto* plot = m_dialog->findChild<CPlotWindow*>();
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->windowTitle(), QStringLiteral("Plot - data127.0.0.9.txt"));
    plot->close(); // deleted on close
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QString offered;
    platform::SetModalHandler([&](QDialog& dialog) -> std::optional<int> {
        auto* chooser = qobject_cast<QFileDialog*>(&dialog);
        if (!chooser)
            return std::nullopt;
        offered = chooser->directory().absolutePath();
        chooser->selectFile(m_cwd.Path() + "/other.txt");
        return QDialog::Accepted;
    });
    m_dialog->OnPlotFile();
    platform::SetModalHandler({});
    EXPECT_EQ(offered, QDir(m_cwd.Path()).absolutePath());
    plot = m_dialog->findChild<CPlotWindow*>();
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->windowTitle(), QStringLiteral("Plot - other.txt"));
    ASSERT_TRUE(WaitUntil([&] { return plot->IsLoaded(); }));
    EXPECT_EQ(plot->Chart()->SeriesName(1), QStringLiteral("Column 2"));
}

// The data file of a folder named in another encoding: opened by its bytes, its path shown readable.
TEST_F(MainDialogTest, PlotDataFileInAFolderNamedInAnotherEncoding)
{
    const QByteArray folder = QFile::encodeName(m_cwd.Path()) + "/caf\xE9";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    Open(Version2File("127.0.0.1", "10", folder, "public", 0, 0), true);
    m_dialog->OnPlotDataFile(); // no data file there yet
    ASSERT_EQ(m_spy.texts().size(), 1);
    EXPECT_TRUE(m_spy.texts()[0].contains(QStringLiteral(u"/caf\u00E9/data127.0.0.1.txt"))) << m_spy.texts()[0].toStdString();

    std::FILE* file = std::fopen((folder + "/data127.0.0.1.txt").constData(), "wb");
    ASSERT_TRUE(file);
    std::fputs("2026/12/08,  05:00:00,  21\r\n", file);
    std::fclose(file);
    m_dialog->OnPlotDataFile();
    auto* plot = m_dialog->findChild<CPlotWindow*>();
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return plot->IsLoaded(); }));
    EXPECT_EQ(plot->Chart()->SeriesCount(), 1);
    EXPECT_EQ(m_spy.texts().size(), 1);
    plot->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
