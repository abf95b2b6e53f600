#include "common/TestSupport.h"

#include "platform/DialogUnits.h"
#include "platform/FileError.h"
#include "platform/MessageBox.h"
#include "platform/UiThread.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

using namespace testsupport;

TEST(UiHandoff, WorkerCallRunsWholeOnUiThreadWhileWorkerWaits)
{
    std::atomic<bool> ranOnUi{false};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        platform::SendToUi([&] { ranOnUi = platform::IsUiThread(); });
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnUi);
}

TEST(UiHandoff, CallOnUiThreadRunsAtOnce)
{
    bool ran = false;
    EXPECT_TRUE(platform::SendToUi([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(MessageBoxes, WorkerIsBlockedUntilTheBoxIsAnsweredAndCaptionIsProgramName)
{
    MessageBoxSpy spy;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        platform::MessageBox(QStringLiteral("Open SNMP error"));
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    ASSERT_EQ(spy.texts(), QStringList{QStringLiteral("Open SNMP error")});
    EXPECT_EQ(spy.captions().first(), QStringLiteral("test_platform"));
}

TEST(FileErrors, StandardTextsNameTheFileAndTellTheCause)
{
    EXPECT_EQ(platform::CauseFromErrno(ENOENT), platform::FileCause::FileNotFound);
    EXPECT_EQ(platform::CauseFromErrno(EACCES), platform::FileCause::AccessDenied);
    EXPECT_EQ(platform::CauseFromErrno(ENOSPC), platform::FileCause::DiskFull);
    EXPECT_EQ(platform::CauseFromErrno(EISDIR), platform::FileCause::IsDirectory);
    EXPECT_EQ(platform::CauseFromErrno(EAGAIN), platform::FileCause::SharingViolation);
    EXPECT_EQ(platform::FileErrorText(ENOENT, QStringLiteral("a.txt")), QStringLiteral("a.txt was not found."));
    EXPECT_EQ(platform::FileErrorText(platform::FileCause::EndOfFile, QStringLiteral("VeltraneG.ini")),
              QStringLiteral("An attempt was made to access VeltraneG.ini past its end."));
    EXPECT_TRUE(platform::FileErrorText(EIO, QStringLiteral("x")).contains(QStringLiteral("x")));
}

TEST(DialogUnits, ConvertWithTheBaseUnitsAndRound)
{
    const CDialogUnits du(6, 13);
    EXPECT_EQ(du.X(314), 471);   // 314 * 6 / 4
    EXPECT_EQ(du.Y(318), 517);   // 318 * 13 / 8 = 516.75
    EXPECT_EQ(du.Rect(59, 22, 75, 14), QRect(89, 36, 113, 23));
}
