// veltrane-cli serve with --web.config.file as clients meet it: curl (an independent TLS and
// HTTP client) with and without the client certificate, the password, or TLS at all.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>

using namespace testsupport;

namespace {

struct CurlResult {
    QString code;   // "000" when no HTTP answer came
    QString output; // headers and body
};

CurlResult Curl(const QStringList& args)
{
    QProcess curl;
    curl.start("curl", QStringList{"-s", "-i", "-m", "15", "-w", "\n%{http_code}"} + args);
    curl.waitForFinished(30000);
    const QString all = QString::fromUtf8(curl.readAllStandardOutput());
    const int cut = all.lastIndexOf('\n');
    return CurlResult{all.mid(cut + 1), all.left(std::max(cut, 0))};
}

} // namespace

TEST(WebConfigServe, RefusesRequestsWithoutTheRightCertificateOrPassword)
{
    if (QStandardPaths::findExecutable("curl").isEmpty())
        GTEST_SKIP() << "curl is not installed";
    const QString address = QString::fromStdString(UnitAddress(10));
    QTemporaryDir dir;
    TlsFiles tls{dir.path()};
    bool skipped = false;
    const QString made = tls.Make(address, skipped);
    if (skipped)
        GTEST_SKIP() << made.toStdString();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();

    // One unit no one answers for: the page still comes, with the unit down.
    ServeProcess serve;
    const QJsonObject config{{"timeout", 1}, {"retries", 0},
                             {"units", QJsonArray{QJsonObject{{"name", "u"},
                                                              {"address", QString::fromStdString(UnitAddress(0))},
                                                              {"community", "public"},
                                                              {"oids", QJsonArray{".1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0"}}}}}};
    ASSERT_TRUE(serve.Start(config, address + ":9811", {"--web.config.file", tls.Path("web.yml")}))
        << serve.Log().toStdString();
    EXPECT_TRUE(serve.Log().contains("https://" + address + ":9811/metrics")) << serve.Log().toStdString();

    const QString https = "https://" + address + ":9811/metrics";
    const QStringList trusted{"--cacert", tls.Path("ca.crt")};
    const QStringList client = trusted + QStringList{"--cert", tls.Path("client.crt"), "--key", tls.Path("client.key")};
    const QString right = QString("prometheus:") + TlsFiles::kPassword;
    struct Case {
        const char* name;
        QStringList args;
        const char* code; // "000": the connection closed without an HTTP answer
    };
    const Case cases[] = {
        {"right certificate and password", client + QStringList{"-u", right, https}, "200"},
        {"no credentials", client + QStringList{https}, "401"},
        {"wrong password", client + QStringList{"-u", "prometheus:scrape-secreT", https}, "401"},
        {"empty password", client + QStringList{"-u", "prometheus:", https}, "401"},
        {"unknown user", client + QStringList{"-u", QString("someone:") + TlsFiles::kPassword, https}, "401"},
        {"malformed header", client + QStringList{"-H", "Authorization: Basic %%%not-base64", https}, "401"},
        {"no colon", client + QStringList{"-H", "Authorization: Basic cHJvbWV0aGV1cw==", https}, "401"},
        {"other scheme", client + QStringList{"-H", "Authorization: Bearer cHJvbWV0aGV1cw==", https}, "401"},
        {"no client certificate", trusted + QStringList{"-u", right, https}, "000"},
        {"certificate of another CA",
         trusted + QStringList{"--cert", tls.Path("other.crt"), "--key", tls.Path("other.key"), "-u", right, https}, "000"},
        {"plain HTTP", QStringList{"-u", right, "http://" + address + ":9811/metrics"}, "000"},
    };
    for (const Case& c : cases) {
        const CurlResult result = Curl(c.args);
        EXPECT_EQ(result.code, c.code) << c.name << "\n" << result.output.toStdString();
        if (QString(c.code) == "401") {
            EXPECT_TRUE(result.output.contains("WWW-Authenticate: Basic realm=\"veltrane\"")) << c.name;
        }
        if (QString(c.code) != "200") {
            EXPECT_FALSE(result.output.contains("veltrane_")) << c.name << "\n" << result.output.toStdString();
        } else {
            EXPECT_TRUE(result.output.contains("veltrane_unit_up{unit=\"u\"")) << result.output.toStdString();
        }
    }
    // Nothing secret in the log.
    EXPECT_FALSE(serve.Log().contains(TlsFiles::kPassword));
    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
}

TEST(WebConfigServe, MistakeInTheWebConfigStopsTheStartNamingTheKey)
{
    QTemporaryDir dir;
    const QString web = dir.filePath("web.yml");
    QFile file(web);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("tls_server_config:\n  cert_file: missing.crt\n  key_file: missing.key\n");
    file.close();
    QFile::setPermissions(web, QFile::ReadOwner | QFile::WriteOwner);
    ServeProcess serve;
    const QJsonObject unit{{"name", "u"}, {"address", QString::fromStdString(UnitAddress(0))}, {"community", "public"},
                           {"sensors", "all online"}};
    EXPECT_FALSE(serve.Start(QJsonObject{{"units", QJsonArray{unit}}}, QString::fromStdString(UnitAddress(10)) + ":9811",
                             {"--web.config.file", web}));
    EXPECT_TRUE(serve.Log().contains("tls_server_config.cert_file")) << serve.Log().toStdString();
    EXPECT_FALSE(serve.Log().contains("serving")) << serve.Log().toStdString();
}
