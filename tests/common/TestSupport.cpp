#include "common/TestSupport.h"

#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

std::string TestAddress(const std::string& key)
{
    std::uint32_t h = 2166136261u; // FNV-1a
    for (unsigned char c : key) {
        h ^= c;
        h *= 16777619u;
    }
    const unsigned b = 16 + h % 200;
    const unsigned c = (h >> 8) % 256;
    const unsigned d = 1 + (h >> 16) % 254;
    return "127." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

void WriteFileWithMode(const QString& path, const QByteArray& bytes, unsigned mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)), 0);
}

std::string CurrentTestAddress()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    if (!info)
        return TestAddress("no-test");
    return TestAddress(std::string(info->test_suite_name()) + "." + info->name());
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

bool CanBindPrivilegedPorts()
{
    return geteuid() == 0;
}

struct MessageBoxSpy::Data {
    mutable std::mutex mutex;
    QStringList texts;
    QStringList captions;
};

MessageBoxSpy::MessageBoxSpy() : m_data(std::make_shared<Data>())
{
    platform::SetMessageBoxHandler([d = m_data](const QString& caption, const QString& text) {
        std::lock_guard lock(d->mutex);
        d->captions << caption;
        d->texts << text;
    });
}

MessageBoxSpy::~MessageBoxSpy()
{
    platform::SetMessageBoxHandler([](const QString&, const QString& text) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
    });
}

QStringList MessageBoxSpy::texts() const
{
    std::lock_guard lock(m_data->mutex);
    return m_data->texts;
}

QStringList MessageBoxSpy::captions() const
{
    std::lock_guard lock(m_data->mutex);
    return m_data->captions;
}

} // namespace testsupport
