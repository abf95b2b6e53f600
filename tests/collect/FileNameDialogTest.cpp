// The File Name dialog on its own: its initial state, the choices and what OK hands back.
#include "collect/CFileNameDialog.h"

#include "platform/DialogUnits.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QRadioButton* Radio(QWidget& dialog, const char* text)
{
    for (auto* radio : dialog.findChildren<QRadioButton*>())
        if (radio->text() == QLatin1String(text))
            return radio;
    return nullptr;
}

QPushButton* Button(QWidget& dialog, const char* text)
{
    for (auto* button : dialog.findChildren<QPushButton*>())
        if (button->text() == QLatin1String(text))
            return button;
    return nullptr;
}

QLabel* StatusText(QWidget& dialog)
{
    for (auto* label : dialog.findChildren<QLabel*>())
        if (label->frameShadow() == QFrame::Sunken)
            return label;
    return nullptr;
}

TEST(FileNameDialog, OpensOnSaveContinuouslyNamingTheFile)
{
    CFileNameDialog dialog(QStringLiteral("data127.0.0.1.txt"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File Name"));
    auto* edit = dialog.findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("data127.0.0.1.txt"));
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(edit->accessibleName(), QStringLiteral("To"));
    ASSERT_NE(Radio(dialog, "Save Continuously"), nullptr);
    EXPECT_TRUE(Radio(dialog, "Save Continuously")->isChecked());
    EXPECT_FALSE(Radio(dialog, "Overwrite")->isChecked());
    EXPECT_FALSE(Radio(dialog, "Rename")->isChecked());
    EXPECT_EQ(dialog.m_nChoice, 1);
    ASSERT_NE(StatusText(dialog), nullptr);
    EXPECT_EQ(StatusText(dialog)->text(), QStringLiteral("File data127.0.0.1.txt already exist."));
    for (const char* text : {"Save Continuously", "Overwrite", "Rename"})
        EXPECT_EQ(Radio(dialog, text)->accessibleName(), QLatin1String(text));
    for (const char* text : {"OK", "Cancel"})
        EXPECT_EQ(Button(dialog, text)->accessibleName(), QLatin1String(text));
    EXPECT_TRUE(Button(dialog, "OK")->isDefault());
    ASSERT_NE(dialog.findChild<QGroupBox*>(), nullptr);
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), QStringLiteral("Options"));

    // Laid out in dialog units of the dialog font.
    const CDialogUnits du(CDialogUnits::DialogFont());
    EXPECT_EQ(dialog.size(), du.Size(228, 108));
    EXPECT_EQ(Radio(dialog, "Rename")->geometry(), du.Rect(21, 44, 76, 16));
    EXPECT_EQ(edit->geometry(), du.Rect(32, 63, 124, 15));
    EXPECT_EQ(Button(dialog, "Cancel")->geometry(), du.Rect(173, 24, 50, 14));
    EXPECT_EQ(StatusText(dialog)->geometry(), du.Rect(5, 89, 218, 14));
}

TEST(FileNameDialog, OnlyRenameOpensTheEditAndOkHandsBackItsText)
{
    CFileNameDialog dialog(QStringLiteral("data.txt"));
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* edit = dialog.findChild<QLineEdit*>();

    Radio(dialog, "Rename")->click();
    EXPECT_EQ(dialog.m_nChoice, 3);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, 2000));
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("other.txt"));

    Radio(dialog, "Overwrite")->click();
    EXPECT_EQ(dialog.m_nChoice, 2);
    EXPECT_FALSE(edit->isEnabled());
    Radio(dialog, "Save Continuously")->click();
    EXPECT_EQ(dialog.m_nChoice, 1);
    EXPECT_FALSE(edit->isEnabled());

    // OK takes the edit's text whatever the choice; the run then uses the tested name.
    Button(dialog, "OK")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_strFileName, QStringLiteral("other.txt"));
    EXPECT_EQ(dialog.m_nChoice, 1);
}

TEST(FileNameDialog, EnterIsOkAndEscapeIsCancel)
{
    {
        CFileNameDialog dialog(QStringLiteral("data.txt"));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.m_strFileName, QStringLiteral("data.txt"));
    }
    {
        CFileNameDialog dialog(QStringLiteral("data.txt"));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        Radio(dialog, "Rename")->click();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(dialog.m_strFileName, QStringLiteral("data.txt")) << "Cancel leaves the fields alone";
    }
}

} // namespace
