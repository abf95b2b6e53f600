// veltrane-cli serve [--web.listen-address ADDRESS:PORT]... [--web.systemd-socket]
// [--web.config.file FILE] CONFIG: the units of CONFIG as Prometheus metrics over HTTP (or HTTPS
// with users, from FILE), until SIGINT or SIGTERM; SIGHUP reads CONFIG again and scans every unit.
#include "cli/CliSupport.h"
#include "cli/SignalWatcher.h"
#include "exporter/CExporter.h"
#include "exporter/CExporterConfig.h"
#include "exporter/CWebConfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <sys/socket.h>
#include <vector>
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

// The connections the HTTP side may hold: what the open-file limit leaves once the units, the
// scans and a margin have their share (so the SNMP sockets always keep theirs), the soft limit
// raised as far as the most connections need or the hard limit allows. 0, with error, when
// fewer than kFewestConnections would be left.
unsigned ConnectionCap(const CExporterConfig& config, QString& error)
{
    constexpr unsigned kFewestConnections = 64;
    const unsigned most = CHttpServer::Limits().nConnections;
    CHttpServer::Limits none;
    none.nConnections = 0;
    const unsigned long base = CExporter::DescriptorsNeeded(config, none);
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return most;
    const rlim_t wanted = base + most;
    if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(limit.rlim_max, wanted);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur < base + kFewestConnections) {
        error = QStringLiteral("serving these units needs %1 open files, but the hard limit is %2: raise it "
                               "(LimitNOFILE= in the systemd unit, or ulimit -Hn) or serve fewer units")
                    .arg(base + kFewestConnections)
                    .arg(static_cast<qulonglong>(limit.rlim_max));
        return 0;
    }
    return static_cast<unsigned>(std::min<rlim_t>(most, limit.rlim_cur - base));
}

// The listening sockets systemd passed (socket activation), each checked to be a listening TCP
// socket. Empty, with error, when there are none or one is something else.
std::vector<int> SystemdSockets(QString& error)
{
    const int count = ::sd_listen_fds(1);
    if (count <= 0) {
        error = count < 0 ? QStringLiteral("--web.systemd-socket: cannot take the sockets from systemd: %1")
                                .arg(QString::fromLocal8Bit(std::strerror(-count)))
                          : QStringLiteral("--web.systemd-socket: systemd passed no socket (LISTEN_FDS); start "
                                           "the exporter through its socket unit");
        return {};
    }
    std::vector<int> fds;
    for (int fd = SD_LISTEN_FDS_START; fd < SD_LISTEN_FDS_START + count; ++fd) {
        if (::sd_is_socket(fd, AF_UNSPEC, SOCK_STREAM, 1) <= 0) {
            error = QStringLiteral("--web.systemd-socket: socket %1 from systemd is not a listening TCP socket "
                                   "(ListenStream= in the socket unit)")
                        .arg(fd - SD_LISTEN_FDS_START + 1);
            for (int open = SD_LISTEN_FDS_START; open < SD_LISTEN_FDS_START + count; ++open)
                ::close(open);
            return {};
        }
        fds.push_back(fd);
    }
    return fds;
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
        "fails the checks is logged and the units loaded before stay. The listening addresses are read\n"
        "only at start: changing them needs a restart. SIGINT or SIGTERM stop it (status 0) within 2 s. One scrape\n"
        "runs at a time, shared by every request that comes meanwhile; it ends by its deadline (the\n"
        "slowest unit's time-out x (retries + 1), brought forward by Prometheus's\n"
        "X-Prometheus-Scrape-Timeout-Seconds), a unit still silent then reading as error code 41.\n"
        "GET /probe?target=NAME or ADDRESS reads one configured unit alone, with the same metrics\n"
        "(&auth=NAME: also an address inside \"probeTargets\", read with the community of that entry\n"
        "of \"auths\"); its deadline is X-Prometheus-Scrape-Timeout-Seconds less --timeout-offset.\n"
        "GET /targets lists the units for Prometheus's http_sd_configs.\n"
        "HTTP: GET or HEAD on /metrics, /probe, /targets, /, /-/healthy and /-/ready (200 once the\n"
        "first scans ended); connections in the thousands (what the open-file limit leaves beside the\n"
        "units' sockets), 8 per address, one over a cap closed at once; the request line and headers\n"
        "within --web.read-header-timeout of the connection's start; 30 s idle; 16 KiB of request\n"
        "headers; no request body; gzip when asked. Log lines go to\n"
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
    const QCommandLineOption listen({QStringLiteral("web.listen-address"), QStringLiteral("listen"), QStringLiteral("l")},
                                    QStringLiteral("An HTTP address and port (default %1), such as [::1]:9811; may be "
                                                   "given more than once. A restart changes it, SIGHUP does not.")
                                        .arg(kDefaultListen),
                                    QStringLiteral("ADDRESS:PORT"), QString::fromLatin1(kDefaultListen));
    parser.addOption(listen);
    const QCommandLineOption systemdSocket(
        QStringLiteral("web.systemd-socket"),
        QStringLiteral("Serve the listening sockets systemd passes (socket activation) instead of "
                       "--web.listen-address."));
    parser.addOption(systemdSocket);
    const QCommandLineOption headerTimeout(
        QStringLiteral("web.read-header-timeout"),
        QStringLiteral("Seconds a connection has for its request line and headers, from its start (TLS "
                       "handshake included), whatever it drips (default 10); later ones are closed."),
        QStringLiteral("SECONDS"), QStringLiteral("10"));
    parser.addOption(headerTimeout);
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

    std::vector<std::pair<QHostAddress, quint16>> addresses;
    for (const QString& text : parser.values(listen)) {
        QHostAddress address;
        quint16 port = 0;
        if (!ParseListen(text, address, port))
            return cli::Fail(args,
                             QStringLiteral("--listen \"%1\" is not ADDRESS:PORT, such as 127.0.0.1:9811 or [::1]:9811")
                                 .arg(text),
                             cli::kExitUsage);
        addresses.emplace_back(address, port);
    }
    CHttpServer::Limits limits;
    QString seconds = parser.value(headerTimeout);
    if (seconds.endsWith('s'))
        seconds.chop(1);
    bool numeric = false;
    limits.nHeaderSeconds = seconds.toUInt(&numeric);
    if (!numeric || limits.nHeaderSeconds < 1 || limits.nHeaderSeconds > 3600)
        return cli::Fail(args,
                         QStringLiteral("--web.read-header-timeout \"%1\" is not a number of seconds from 1 to 3600")
                             .arg(parser.value(headerTimeout)),
                         cli::kExitUsage);

    CExporter::ProbeLimits probeLimits;
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

    limits.nConnections = ConnectionCap(config, error);
    if (limits.nConnections == 0)
        return cli::Fail(args, error, cli::kExitFileError);
    std::vector<int> sockets;
    if (parser.isSet(systemdSocket)) {
        sockets = SystemdSockets(error);
        if (sockets.empty())
            return cli::Fail(args, error, cli::kExitUsage);
        if (parser.isSet(listen))
            cli::PrintErr(prefix + "--web.listen-address is not used with --web.systemd-socket");
    }
    cli::SignalWatcher watcher;
    if (!watcher.Install())
        return cli::Fail(args, QStringLiteral("cannot watch for SIGINT, SIGTERM and SIGHUP"), cli::kExitFileError);

    auto mutex = std::make_shared<std::mutex>();
    CExporter exporter(config, [prefix, mutex](const std::string& line) {
        std::lock_guard lock(*mutex);
        cli::PrintErr(prefix + cli::Printable(line));
    });
    exporter.SetProbeLimits(probeLimits);
    for (const int fd : sockets)
        if (!exporter.ListenOn(fd, error, limits, web))
            return cli::Fail(args, error, cli::kExitUsage);
    for (const auto& [address, port] : sockets.empty() ? addresses : decltype(addresses)())
        if (!exporter.Listen(address, port, error, limits, web))
            return cli::Fail(args, error, cli::kExitUsage);
    QStringList urls;
    for (const std::string& where : exporter.ServerAddresses())
        urls << (web && web->HasTls() ? "https://" : "http://") + QString::fromStdString(where) + "/metrics";
    cli::PrintErr(prefix + QStringLiteral("serving %1 units at %2%3%4")
                               .arg(config.m_units.size())
                               .arg(urls.join(", "))
                               .arg(sockets.empty() ? QString() : QStringLiteral(" (sockets from systemd)"))
                               .arg(web && web->RequiresAuth() ? QStringLiteral(" (user and password needed)")
                                                               : QString())
                               .toStdString());
    exporter.Rescan();

    QObject::connect(&watcher, &cli::SignalWatcher::Received, [&exporter, &prefix, &path, &limits, mutex](int number) {
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
        if (!RaiseDescriptorLimit(CExporter::DescriptorsNeeded(reloaded, limits), limitError)) {
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
