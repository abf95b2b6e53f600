#include "common/TestSupport.h"

#include "platform/DialogUnits.h"
#include "platform/FileError.h"
#include "platform/MessageBox.h"
#include "platform/TextBytes.h"
#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

using namespace testsupport;

TEST(UiHandoff, WorkerCallRunsWholeOnUiThreadWhileWorkerWaits)
{
    std::atomic<bool> ranOnUi{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> finishedWhenReturned{false};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        platform::SendToUi([&] {
            ranOnUi = platform::IsUiThread();
            QThread::msleep(100); // a worker that did not wait would be back by now
            finished = true;
        });
        finishedWhenReturned = finished.load();
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnUi);
    EXPECT_TRUE(finishedWhenReturned) << "the worker went on before its call had run";
}

// At the program's end the UI thread no longer runs calls: workers waiting in the hand-off are
// let go without their calls, and later calls return at once.
TEST(UiHandoff, ShutdownReleasesWaitingWorkersAndDropsTheirCalls)
{
    std::atomic<int> ran{0};
    std::atomic<int> returned{0};
    std::atomic<int> delivered{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&] {
            if (platform::SendToUi([&] { ++ran; }))
                ++delivered;
            ++returned;
        });
    }
    QThread::msleep(200); // the workers are waiting: no event is processed on this thread
    platform::ShutdownUi();
    for (int waited = 0; returned < 3 && waited < 100; ++waited)
        QThread::msleep(50);
    ASSERT_EQ(returned.load(), 3) << "a worker is still blocked in the hand-off";
    for (auto& w : workers)
        w.join();
    QCoreApplication::processEvents(); // the queued calls come due now, and must not run
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(delivered.load(), 0);

    bool late = true;
    std::thread([&] { late = platform::SendToUi([&] { ++ran; }); }).join();
    EXPECT_FALSE(late);
    EXPECT_EQ(ran.load(), 0);
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

// Paths and arguments survive a trip through a QString byte for byte, UTF-8 or not.
TEST(TextBytes, EscapedTextGivesBackEveryByte)
{
    const std::string cases[] = {"plain", "", "caf\xC3\xA9", "caf\xE9", "\xFF\xFE", "\xED\xB2\x80",
                                 "\xF0\x90\x82\x80", "mixed \xC3\xA9 \xE9", "\xC3", "\x7F\x80"};
    for (const std::string& bytes : cases)
        EXPECT_EQ(platform::EscapedBytes(platform::EscapedText(bytes)), bytes) << QByteArray::fromStdString(bytes).toHex().constData();
    EXPECT_EQ(platform::EscapedText("caf\xC3\xA9"), QStringLiteral(u"caf\u00E9")) << "valid UTF-8 is read as text";
    // U+10080 is a surrogate pair whose low half lies in the escape range: text, not bytes.
    EXPECT_EQ(platform::EscapedText("\xF0\x90\x82\x80"), QString::fromUtf8("\xF0\x90\x82\x80"));
}

TEST(DialogUnits, ConvertWithTheBaseUnitsAndRound)
{
    const CDialogUnits du(6, 13);
    EXPECT_EQ(du.X(314), 471);   // 314 * 6 / 4
    EXPECT_EQ(du.Y(318), 517);   // 318 * 13 / 8 = 516.75
    EXPECT_EQ(du.Rect(59, 22, 75, 14), QRect(89, 36, 113, 23));
}
