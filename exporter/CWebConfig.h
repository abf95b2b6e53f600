#pragma once
#include <QString>
#include <QStringList>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// The exporter's web configuration (--web.config.file), in the YAML format that Prometheus and
// its exporters read:
//
//   tls_server_config:
//     cert_file: server.crt                     # PEM; relative paths are from this file's folder
//     key_file: server.key                      # PEM; other users must not be able to read it
//     client_ca_file: clients-ca.crt            # only with a client_auth_type that verifies
//     client_auth_type: RequireAndVerifyClientCert
//     min_version: TLS12                        # TLS10 to TLS13; max_version likewise
//   basic_auth_users:
//     prometheus: $2y$10$...                    # user name: bcrypt hash
//
// Choices that would leave a connection unchecked (client_auth_type RequestClientCert or
// RequireAnyClientCert, which take any certificate) and settings this server does not carry
// out (cipher_suites, curve_preferences, client_allowed_sans, inline cert/key, headers) are
// refused rather than ignored; prefer_server_cipher_suites and http_server_config.http2 are
// accepted and change nothing. Loading reads the files named, so the server holds them as they
// were when the configuration was checked.
class CWebConfig {
public:
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;
    static constexpr std::size_t kMaxPemBytes = 1 << 20; // a certificate chain or a CA bundle
    static constexpr std::size_t kMaxUsers = 1000;
    static constexpr std::size_t kMaxUserBytes = 255;
    // bcrypt's cost is paid on every request, right or wrong: 2^14 rounds take about a second.
    static constexpr int kMaxCost = 14;

    enum class ClientAuth {
        kNone,             // NoClientCert
        kVerifyIfGiven,    // VerifyClientCertIfGiven: a certificate sent must chain to client_ca_file
        kRequireAndVerify, // RequireAndVerifyClientCert: no connection without one that does
    };
    enum class TlsVersion { kTls10, kTls11, kTls12, kTls13 };

    struct Tls {
        std::string certFile;     // the paths as opened (relative ones joined to the folder)
        std::string keyFile;
        std::string clientCaFile; // empty without client certificates
        std::string certPem;      // the files' contents
        std::string keyPem;
        std::string clientCaPem;
        ClientAuth clientAuth = ClientAuth::kNone;
        TlsVersion minVersion = TlsVersion::kTls12;
        TlsVersion maxVersion = TlsVersion::kTls13;

        // The versions as a GnuTLS priority string, e.g. "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2".
        std::string GnuTlsPriorities() const;
    };

    // Reads and checks the file at path (escaped text, platform::EscapedText): a regular file,
    // not writable by other users, at most kMaxFileBytes; then Parse with its folder. False with
    // error naming the file and the key at fault. warnings: what is allowed but unwise.
    bool Load(const QString& path, QString& error, QStringList& warnings);
    // Checks a document and reads the files it names, relative to folder (bytes). Errors name
    // the key ("tls_server_config.key_file: ..."); no error shows a password hash or a key.
    bool Parse(const std::string& yaml, const std::string& folder, QString& error, QStringList& warnings);

    bool HasTls() const { return m_bTls; }
    const Tls& TlsSettings() const { return m_tls; }
    // True when requests need a user name and password (basic_auth_users is not empty).
    bool RequiresAuth() const { return !m_users.empty(); }

    // True when user and password match a bcrypt hash of basic_auth_users. Takes the same time
    // whether the user exists or the password is right: an unknown user is checked against a
    // hash of the same cost, and results are compared in constant time. Thread-safe.
    bool CheckPassword(std::string_view user, std::string_view password) const;
    // The same for an Authorization header's value ("Basic " and base64 of "user:password").
    bool CheckAuthorization(std::string_view header) const;

private:
    void Clear();

    bool m_bTls = false;
    Tls m_tls;
    std::map<std::string, std::string, std::less<>> m_users; // name -> bcrypt hash
    std::string m_strDummyHash; // what an unknown user is checked against
};
