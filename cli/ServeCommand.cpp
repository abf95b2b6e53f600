// veltrane-cli serve [--listen ADDRESS:PORT] [--web.config.file FILE] CONFIG: the units of CONFIG
// as Prometheus metrics over HTTP (or HTTPS with users, from FILE), until SIGINT or SIGTERM;
// SIGHUP reads CONFIG again and scans every unit.
#include "cli/CliSupport.h"
#include "cli/SignalWatcher.h"
#include "exporter/CExporter.h"
#include "exporter/CExporterConfig.h"
#include "exporter/CWebConfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:9811";
// How long SIGTERM waits for scans still running. They give up their reads at once (within a
// quarter second); one that has not ended by then is left behind, so that the whole end, the
// scrape in flight cut short included, stays within 2 s.
constexpr int kScanWaitMs = 1200;

// "127.0.0.1:9811" or "[::1]:9811": an address literal (never a name) and a port.
bool ParseListen(const QString& text, QHostAddress& address, quint16& port)
{
    const int colon = text.lastIndexOf(':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(':'))
        return false;
    bool numeric = false;
    const uint number = text.mid(colon + 1).toUInt(&numeric);
    if (!numeric || number > 65535 || !address.setAddress(host))
        return false;
    port = static_cast<quint16>(number);
    return true;
}

// Every unit's GET needs a socket at once: raise the soft descriptor limit as far as serving
// needs, no further. False, with error, when the hard limit does not allow it.
bool RaiseDescriptorLimit(unsigned long needed, QString& error)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
        error = QStringLiteral("serving these units needs %1 open files, but the hard limit is %2: raise it "
                               "(LimitNOFILE= in the systemd unit, or ulimit -Hn) or serve fewer units")
                    .arg(needed)
                    .arg(static_cast<qulonglong>(limit.rlim_max));
        return false;
    }
    limit.rlim_cur = needed;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        error = QStringLiteral("cannot raise the open-file limit to %1").arg(needed);
        return false;
    }
    return true;
}

} // namespace

int RunServe(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the sensors of the units in CONFIG to Prometheus: GET /metrics reads every unit at\n"
        "once (one SNMP GET each, bounded by the unit's time-out) and answers in the text exposition\n"
        "format. Sensor lists come from the units' \"oids\" or from the discovery scan (\"sensors\":\n"
        "\"all online\"), run at start, every \"rescanMinutes\" and on SIGHUP; a scrape during a scan\n"
        "uses the last completed list. SIGHUP reads CONFIG again, with the same checks as at start:\n"
        "units added or changed are served from the next scrape, units removed leave the page, and\n"
        "every unit is scanned again (unchanged ones keep their list until then); a CONFIG that\n"
        "fails the checks is logged and the units loaded before stay. --listen is read only at start:\n"
        "changing it needs a restart. SIGINT or SIGTERM stop it (status 0) within 2 s. One scrape\n"
        "runs at a time, shared by every request that comes meanwhile; it ends by its deadline (the\n"
        "slowest unit's time-out x (retries + 1), brought forward by Prometheus's\n"
        "X-Prometheus-Scrape-Timeout-Seconds), a unit still silent then reading as error code 41.\n"
        "GET /probe?target=NAME or ADDRESS reads one configured unit alone, with the same metrics\n"
        "(&auth=NAME: also an address inside \"probeTargets\", read with the community of that entry\n"
        "of \"auths\"); its deadline is X-Prometheus-Scrape-Timeout-Seconds less --timeout-offset.\n"
        "GET /targets lists the units for Prometheus's http_sd_configs.\n"
        "HTTP: GET or HEAD on /metrics, /probe, /targets and /; at most 64 connections, 8 per address, 30 s idle,\n"
        "16 KiB of request headers, no request body. Log lines go to\n"
        "standard error; no community is ever printed or served.\n"
        "\n"
        "--web.config.file FILE (the YAML of Prometheus's exporter toolkit, not writable by other\n"
        "users) turns on HTTPS (tls_server_config: cert_file, key_file; client_ca_file with\n"
        "client_auth_type RequireAndVerifyClientCert closes connections without a client certificate\n"
        "from that CA) and passwords (basic_auth_users: user name: bcrypt hash, e.g. from\n"
        "htpasswd -nBC 10 \"\"): a request without a right user and password gets 401. A mistake in\n"
        "FILE stops the start, naming the key. FILE is read only at start: a restart changes it,\n"
        "SIGHUP does not.\n"
        "\n"
        "CONFIG (JSON; refused when other users can read or write it):\n"
        "  {\"timeout\": 2, \"retries\": 2, \"rescanMinutes\": 60,\n"
        "   \"units\": [{\"name\": \"Server room\", \"address\": \"192.0.2.10\", \"community\": \"public\",\n"
        "              \"sensors\": \"all online\"},\n"
        "             {\"name\": \"Lab\", \"address\": \"192.0.2.11\", \"community\": \"lab\", \"timeout\": 1,\n"
        "              \"oids\": [\".1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0\"]}]}\n"
        "\n"
        "Metrics: veltrane_sensor_value{unit,address,port,description,type,oid} (numbers only),\n"
        "veltrane_unit_up, veltrane_unit_request_seconds, veltrane_unit_error_code,\n"
        "veltrane_unit_sensors, veltrane_unit_scan_success (labels unit, address) and\n"
        "veltrane_scrape_duration_seconds."));
    parser.addPositionalArgument(QStringLiteral("CONFIG"), QStringLiteral("The units to serve (JSON)."));
    const QCommandLineOption listen({QStringLiteral("l"), QStringLiteral("listen")},
                                    QStringLiteral("The HTTP address and port (default %1); a restart changes it, "
                                                   "SIGHUP does not.")
                                        .arg(kDefaultListen),
                                    QStringLiteral("ADDRESS:PORT"), QString::fromLatin1(kDefaultListen));
    parser.addOption(listen);
    const QCommandLineOption webConfigOption(
        QStringLiteral("web.config.file"),
        QStringLiteral("TLS and users (Prometheus's web configuration, YAML); read at start only."),
        QStringLiteral("FILE"));
    parser.addOption(webConfigOption);
    const QCommandLineOption timeoutOffset(
        QStringLiteral("timeout-offset"),
        QStringLiteral("Seconds a probe keeps from Prometheus's scrape time-out for its answer to travel "
                       "(default 0.5)."),
        QStringLiteral("SECONDS"), QStringLiteral("0.5"));
    parser.addOption(timeoutOffset);
    const QCommandLineOption maxProbes(
        QStringLiteral("probe.max-in-flight"),
        QStringLiteral("Probes answered at once (default 50); more get 503."), QStringLiteral("N"),
        QStringLiteral("50"));
    parser.addOption(maxProbes);
    if (const auto status = cli::Parse(parser, args, 1))
        return *status;

    QHostAddress address;
    quint16 port = 0;
    if (!ParseListen(parser.value(listen), address, port))
        return cli::Fail(args,
                         QStringLiteral("--listen \"%1\" is not ADDRESS:PORT, such as 127.0.0.1:9811 or [::1]:9811")
                             .arg(parser.value(listen)),
                         cli::kExitUsage);

    CExporter::ProbeLimits probeLimits;
    bool numeric = false;
    const double offset = parser.value(timeoutOffset).toDouble(&numeric);
    if (!numeric || !(offset >= 0 && offset <= 60))
        return cli::Fail(args, QStringLiteral("--timeout-offset must be a number of seconds from 0 to 60"),
                         cli::kExitUsage);
    probeLimits.timeoutOffset = std::chrono::duration<double>(offset);
    const uint probes = parser.value(maxProbes).toUInt(&numeric);
    if (!numeric || probes < 1 || probes > 4096)
        return cli::Fail(args, QStringLiteral("--probe.max-in-flight must be a whole number from 1 to 4096"),
                         cli::kExitUsage);
    probeLimits.nMaxInFlight = probes;

    const QString path = parser.positionalArguments().at(0);
    CExporterConfig config;
    QString error;
    QStringList warnings;
    const bool loaded = config.Load(path, error, warnings);
    const std::string prefix = args.first().toStdString() + ": ";
    for (const QString& warning : warnings)
        cli::PrintErr(prefix + warning.toStdString());
    if (!loaded) {
        // A file that was read but is wrong is a usage error; one that cannot be read, a file error.
        const std::string native = cli::Bytes(path);
        struct stat st {};
        const bool readable = ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(native.c_str(), R_OK) == 0;
        return cli::Fail(args, error, readable ? cli::kExitUsage : cli::kExitFileError);
    }

    std::shared_ptr<const CWebConfig> web;
    if (parser.isSet(webConfigOption)) {
        auto loadedWeb = std::make_shared<CWebConfig>();
        QStringList webWarnings;
        const bool webLoaded = loadedWeb->Load(parser.value(webConfigOption), error, webWarnings);
        for (const QString& warning : webWarnings)
            cli::PrintErr(prefix + warning.toStdString());
        if (!webLoaded) {
            const std::string native = cli::Bytes(parser.value(webConfigOption));
            struct stat st {};
            const bool readable =
                ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(native.c_str(), R_OK) == 0;
            return cli::Fail(args, QStringLiteral("--web.config.file ") + error,
                             readable ? cli::kExitUsage : cli::kExitFileError);
        }
        web = std::move(loadedWeb);
    }

    if (!RaiseDescriptorLimit(CExporter::DescriptorsNeeded(config, CHttpServer::Limits()), error))
        return cli::Fail(args, error, cli::kExitFileError);
    cli::SignalWatcher watcher;
    if (!watcher.Install())
        return cli::Fail(args, QStringLiteral("cannot watch for SIGINT, SIGTERM and SIGHUP"), cli::kExitFileError);

    auto mutex = std::make_shared<std::mutex>();
    CExporter exporter(config, [prefix, mutex](const std::string& line) {
        std::lock_guard lock(*mutex);
        cli::PrintErr(prefix + cli::Printable(line));
    });
    exporter.SetProbeLimits(probeLimits);
    if (!exporter.Listen(address, port, error, CHttpServer::Limits(), web))
        return cli::Fail(args, error, cli::kExitUsage);
    cli::PrintErr(prefix + QStringLiteral("serving %1 units at %2://%3/metrics%4")
                               .arg(config.m_units.size())
                               .arg(web && web->HasTls() ? QStringLiteral("https") : QStringLiteral("http"))
                               .arg(parser.value(listen).section(':', 0, -2) + ':' +
                                    QString::number(exporter.ServerPort()))
                               .arg(web && web->RequiresAuth() ? QStringLiteral(" (user and password needed)")
                                                               : QString())
                               .toStdString());
    exporter.Rescan();

    QObject::connect(&watcher, &cli::SignalWatcher::Received, [&exporter, &prefix, &path, mutex](int number) {
        if (number != SIGHUP) {
            QCoreApplication::quit();
            return;
        }
        CExporterConfig reloaded;
        QString error;
        QStringList warnings;
        const bool ok = reloaded.Load(path, error, warnings);
        const auto print = [&prefix, &mutex](const QString& line) {
            std::lock_guard lock(*mutex);
            cli::PrintErr(prefix + "SIGHUP: " + line.toStdString());
        };
        for (const QString& warning : warnings)
            print(warning);
        if (!ok) {
            print(error + "; still serving the units loaded before");
            return;
        }
        QString limitError;
        if (!RaiseDescriptorLimit(CExporter::DescriptorsNeeded(reloaded, CHttpServer::Limits()), limitError)) {
            print(limitError + "; still serving the units loaded before");
            return;
        }
        const CExporter::ReloadCounts counts = exporter.Reload(reloaded);
        print(QStringLiteral("serving %1 units (%2 added, %3 changed, %4 removed, %5 kept); scanning the units again")
                  .arg(reloaded.m_units.size())
                  .arg(counts.nAdded)
                  .arg(counts.nChanged)
                  .arg(counts.nRemoved)
                  .arg(counts.nKept));
    });
    QCoreApplication::exec();

    const bool scansDone = exporter.Shutdown(kScanWaitMs);
    std::lock_guard lock(*mutex);
    if (!scansDone) {
        // A scan waiting for a dead unit would hold the exit for its time-outs; nothing is lost by
        // leaving it, since the exporter writes no files.
        cli::PrintErr(prefix + "stopped (a scan still waiting for its unit was left)");
        std::fflush(nullptr);
        ::_exit(cli::kExitDone);
    }
    cli::PrintErr(prefix + "stopped");
    return cli::kExitDone;
}
