#include "cli/SecretOption.h"

#include "cli/CliSupport.h"
#include "platform/SmallFile.h"
#include "platform/TextBytes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace cli {

SecretOption::SecretOption(QCommandLineOption value, QCommandLineOption file, QString credential,
                           std::optional<std::string> fallback)
    : m_value(std::move(value)), m_file(std::move(file)), m_strCredential(std::move(credential)),
      m_defaultValue(std::move(fallback))
{
}

SecretOption SecretOption::Community()
{
    return SecretOption(
        QCommandLineOption({QStringLiteral("c"), QStringLiteral("community")},
                           QStringLiteral("The SNMP community (default: public). Other users can read it in the "
                                          "process list: prefer --community-file or a credential."),
                           QStringLiteral("COMMUNITY")),
        QCommandLineOption(QStringLiteral("community-file"),
                           QStringLiteral("Reads the community from the first line of FILE, which other users must "
                                          "not be able to read. Without -c or this option, the systemd credential "
                                          "\"community\" is used when there is one "
                                          "($CREDENTIALS_DIRECTORY/community, from LoadCredential=)."),
                           QStringLiteral("FILE")),
        QStringLiteral("community"), std::string("public"));
}

SecretOption SecretOption::Password()
{
    return SecretOption(
        QCommandLineOption({QStringLiteral("p"), QStringLiteral("password")},
                           QStringLiteral("The unit's datalog password. Other users can read it in the process "
                                          "list: prefer --password-file or a credential."),
                           QStringLiteral("PASSWORD")),
        QCommandLineOption(QStringLiteral("password-file"),
                           QStringLiteral("Reads the password from the first line of FILE, which other users must "
                                          "not be able to read. Without -p or this option, the systemd credential "
                                          "\"password\" is used when there is one "
                                          "($CREDENTIALS_DIRECTORY/password, from LoadCredential=)."),
                           QStringLiteral("FILE")),
        QStringLiteral("password"), std::nullopt);
}

bool SecretOption::ReadFile(const std::string& path, std::string& secret, QString& error)
{
    const QString shown = platform::TextFromBytes(path);
    platform::SmallFile file;
    QString problem;
    if (!platform::ReadSmallFile(path, kMaxFileBytes, file, problem)) {
        error = shown + QStringLiteral(": ") + problem;
        return false;
    }
    if (file.info.st_mode & (S_IROTH | S_IWOTH | S_IWGRP)) {
        error = shown + QStringLiteral(": readable or writable by other users (mode %1), yet it holds a secret; "
                                       "chmod 600 (or 640 for a group) ")
                            .arg(platform::ModeText(file.info.st_mode)) +
                shown;
        return false;
    }
    std::string line = file.bytes.substr(0, file.bytes.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        error = shown + QStringLiteral(": the first line is empty");
    else if (line.size() > kMaxSecretBytes)
        error = shown + QStringLiteral(": the first line is longer than %1 bytes").arg(kMaxSecretBytes);
    else if (line.find('\0') != std::string::npos)
        error = shown + QStringLiteral(": the first line holds a zero byte");
    if (!error.isEmpty())
        return false;
    secret = std::move(line);
    return true;
}

std::optional<int> SecretOption::Take(const QCommandLineParser& parser, const QStringList& args,
                                      std::string& secret) const
{
    const QString valueName = QStringLiteral("--") + m_value.names().constLast();
    const QString fileName = QStringLiteral("--") + m_file.names().constLast();
    if (parser.isSet(m_value) && parser.isSet(m_file))
        return Fail(args, QStringLiteral("give either %1 or %2, not both").arg(valueName, fileName), kExitUsage);
    if (parser.isSet(m_value)) {
        secret = Bytes(parser.value(m_value));
        if (secret.empty())
            return Fail(args, valueName + QStringLiteral(" must not be empty"), kExitUsage);
        return std::nullopt;
    }
    QString error;
    if (parser.isSet(m_file)) {
        if (!ReadFile(Bytes(parser.value(m_file)), secret, error))
            return Fail(args, fileName + QLatin1Char(' ') + error, kExitFileError);
        return std::nullopt;
    }
    // systemd's credentials: a folder only this service can read, set up by LoadCredential=.
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials != nullptr && *credentials != '\0') {
        const std::string path = std::string(credentials) + '/' + m_strCredential.toStdString();
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 || errno != ENOENT) {
            if (!ReadFile(path, secret, error))
                return Fail(args, QStringLiteral("credential \"%1\" ").arg(m_strCredential) + error, kExitFileError);
            return std::nullopt;
        }
    }
    if (m_defaultValue) {
        secret = *m_defaultValue;
        return std::nullopt;
    }
    return Fail(args,
                QStringLiteral("%1 is required, or %2 FILE, or a systemd credential \"%3\" (see --help)")
                    .arg(valueName, fileName, m_strCredential),
                kExitUsage);
}

} // namespace cli
