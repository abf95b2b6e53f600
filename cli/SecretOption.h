#pragma once
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

// The community or password of a subcommand, kept off the command line: a process's arguments
// are readable by every local user (ps, /proc/PID/cmdline, systemctl status). It comes, in this
// order, from
//   -c/--community or -p/--password (for typing at a terminal: visible to other users),
//   --community-file FILE or --password-file FILE (the file's first line, without its line end),
//   systemd's credentials: $CREDENTIALS_DIRECTORY/community or /password (LoadCredential=),
//   else the default (community "public"; a password has none).
namespace cli {

class SecretOption {
public:
    // Secret files hold one short line; the first line may have up to kMaxSecretBytes bytes.
    static constexpr std::size_t kMaxFileBytes = 4096;
    static constexpr std::size_t kMaxSecretBytes = 255;

    static SecretOption Community();
    static SecretOption Password();

    // Both options, for QCommandLineParser::addOptions.
    QList<QCommandLineOption> Options() const { return {m_value, m_file}; }

    // After parsing: the secret, or the exit status after a message that names the option or
    // file at fault (never the secret). args[0] names the subcommand, as for cli::Fail.
    std::optional<int> Take(const QCommandLineParser& parser, const QStringList& args, std::string& secret) const;

    // The rules for a secret file: a regular file, read without blocking, that other users can
    // neither read nor write, whose first line (up to "\n" or "\r\n") is the secret: 1 to
    // kMaxSecretBytes bytes, no zero byte. error names the file as shown (never the secret).
    static bool ReadFile(const std::string& path, std::string& secret, QString& error);

private:
    SecretOption(QCommandLineOption value, QCommandLineOption file, QString credential, std::optional<std::string> fallback);

    QCommandLineOption m_value;
    QCommandLineOption m_file;
    QString m_strCredential;                  // the credential's name, also the secret's name in messages
    std::optional<std::string> m_defaultValue;
};

} // namespace cli
