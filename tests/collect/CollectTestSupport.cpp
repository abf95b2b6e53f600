#include "CollectTestSupport.h"

#include "collect/CFileNameDialog.h"
#include "platform/ModalDialog.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace collecttest {

std::string ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

void WriteFile(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

namespace {
struct flock WholeFile(short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    return fl;
}
} // namespace

// The children below call only async-signal-safe functions: the test process has threads.
CLockHolder::CLockHolder(const QString& path, bool writeLock)
{
    const QByteArray native = QFile::encodeName(path);
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(fds[0]);
        const int fd = ::open(native.constData(), writeLock ? O_RDWR : O_RDONLY);
        struct flock fl = WholeFile(writeLock ? F_WRLCK : F_RDLCK);
        const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? '1' : '0';
        (void)!::write(fds[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    char ok = '0';
    if (m_pid > 0 && ::read(fds[0], &ok, 1) == 1)
        m_bHolds = ok == '1';
    ::close(fds[0]);
}

CLockHolder::~CLockHolder()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

OtherProgramAccess ProbeFromOtherProgram(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int result = 0;
        char byte;
        const int rd = ::open(native.constData(), O_RDONLY);
        if (rd >= 0 && ::read(rd, &byte, 1) >= 0)
            result |= 1;
        const int wr = ::open(native.constData(), O_WRONLY);
        struct flock fl = WholeFile(F_WRLCK);
        if (wr >= 0 && ::fcntl(wr, F_SETLK, &fl) == 0)
            result |= 2;
        ::_exit(result);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return {};
    return {(WEXITSTATUS(status) & 1) != 0, (WEXITSTATUS(status) & 2) != 0};
}

struct CFileNameAnswers::Data {
    std::vector<FileNameAnswer> answers;
    QStringList shownNames;
    QStringList statusTexts;
};

CFileNameAnswers::CFileNameAnswers(std::vector<FileNameAnswer> answers) : m_data(std::make_shared<Data>())
{
    m_data->answers = std::move(answers);
    platform::SetModalHandler([d = m_data](QDialog& dialog) -> std::optional<int> {
        auto* fileName = dynamic_cast<CFileNameDialog*>(&dialog);
        if (!fileName)
            return std::nullopt;
        const auto* edit = fileName->findChild<QLineEdit*>();
        d->shownNames << edit->text();
        for (const auto* label : fileName->findChildren<QLabel*>())
            if (label->text().startsWith(QStringLiteral("File ")))
                d->statusTexts << label->text();
        const size_t index = static_cast<size_t>(d->shownNames.size() - 1);
        if (index >= d->answers.size()) {
            ADD_FAILURE() << "unexpected File Name dialog for " << edit->text().toStdString();
            return QDialog::Rejected;
        }
        const FileNameAnswer& answer = d->answers[index];
        static const char* const kChoices[] = {"", "Save Continuously", "Overwrite", "Rename"};
        for (auto* radio : fileName->findChildren<QRadioButton*>())
            if (radio->text() == QLatin1String(kChoices[answer.choice]))
                radio->click();
        if (!answer.newName.isNull())
            fileName->findChild<QLineEdit*>()->setText(answer.newName);
        const QString button = answer.ok ? QStringLiteral("OK") : QStringLiteral("Cancel");
        for (auto* push : fileName->findChildren<QPushButton*>())
            if (push->text() == button)
                push->click();
        return dialog.result();
    });
}

CFileNameAnswers::~CFileNameAnswers()
{
    platform::SetModalHandler({});
}

QStringList CFileNameAnswers::ShownNames() const { return m_data->shownNames; }
QStringList CFileNameAnswers::StatusTexts() const { return m_data->statusTexts; }
int CFileNameAnswers::Count() const { return static_cast<int>(m_data->shownNames.size()); }

} // namespace collecttest
