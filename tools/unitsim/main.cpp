// veltrane-unitsim: virtual monitoring units for tests, the demo and users without hardware.
// Each unit of a JSON description listens on its own IPv4 address; see --help.
#include "tools/unitsim/DatalogResponder.h"
#include "tools/unitsim/RequestLog.h"
#include "tools/unitsim/SnmpResponder.h"
#include "tools/unitsim/UnitDescription.h"
#include "tools/unitsim/UnitServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = write(g_signalPipe[1], &byte, 1);
}

void Say(const QString& line)
{
    std::fprintf(stdout, "veltrane-unitsim: %s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int Fail(const QString& message)
{
    std::fprintf(stderr, "veltrane-unitsim: %s\n", message.toUtf8().constData());
    return 1;
}

// Started through sudo only to bind port 161: carry on as the user who asked.
bool DropSudoPrivileges(QString& error)
{
    const char* uid = std::getenv("SUDO_UID");
    const char* gid = std::getenv("SUDO_GID");
    if (geteuid() != 0 || !uid || !gid)
        return true;
    const uid_t u = static_cast<uid_t>(std::strtoul(uid, nullptr, 10));
    const gid_t g = static_cast<gid_t>(std::strtoul(gid, nullptr, 10));
    if (u == 0)
        return true;
    if (setgroups(0, nullptr) != 0 || setgid(g) != 0 || setuid(u) != 0) {
        error = "cannot give up root after binding: " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

const char* kDescriptionHelp = R"(
A description is a JSON file: {"units": [ unit, ... ]}. A unit:
  "address": "127.0.0.2"      IPv4 address the unit listens on (required; unique)
  "community": "public"       SNMP community (default "public")
  "name": "Lab unit"          sysName, shown on start-up
  "portCount": 8              2 or 8 sensor ports (default 8)
  "numbering": 0              answer of .1.2.2.1.101.0: 0 = indexes from 0, other = from 1;
                              leave it out for a unit without sub-tables (indexes from 0)
  "ports": [{"index": 0, "table16": ROW, "table17": ROW}]
      Every port index has a row in tables 16 and 17 (status 0, empty description, value 0,
      type 0); listed ports change them. ROW: {"status", "description", "value"} and for
      table17 also "type" (table 18). A ROW or a column set to null is absent (noSuchName).
  "families": {"30": {"count": 3, "entries": [{"index", "status", "description", "value"}]}}
      Families 30, 26, 27, 28, 32; "count" defaults to the number of entries listed; indexes
      in the counted range have default rows.
  "arrays": [{"array": 1, "entryCount": 8, "probe": 8, "entries": [...]}]
      Sensor arrays 1 to 8 (family 33); "probe" is the value of .19.33.<array>.1.0 (null: absent).
  "faults": {"wrongCommunity": "noAccess" | "silence", "silent": true, "delayMs": 1500,
             "dropShare": 0.3, "errors": [{"oid": "1.2.2.1.101.0", "status": 5}]}
A value is a number, a text, {"hex": "636166e9"} (a text of any bytes), or
{"base": 215, "amplitude": 20, "periodSeconds": 60} (a slow wave around base).
OIDs are served below .1.3.6.1.4.1.<enterprise number>. Default rows of a counted family are
answered without being stored, so "count" may be as large as 2147483647.
  "datalog": {...}            serve the datalog on UDP port 811 (see below)

"datalog": {"password": "orchid" (default: the community), "otherPorts": -3,
            "otherChannels": -2, "channels": [CHANNEL, ...], "faults": {...}}
  Unlisted ports answer otherPorts, unlisted channels of a listed port otherChannels.
  CHANNEL: {"port": 0-7, "channel": 0|1, then one of
    "error": -2                 every request answered with this error byte (-128 to -1)
    "oldFirmware": true         status answered with the old 124-byte reply
    "sensorType", "unitTime", "newestTime" (seconds since 1970; default the clock),
    "records": [n, ...] | {"count": N, "wave": {"base", "amplitude", "period"}}
                        | {"count": N, "ramp": {"start", "step"}}      (oldest first)
    "count", "capacity", "writeIndex" (default: the records, a full ring from slot 0;
                        the newest record lies before writeIndex modulo capacity),
    "width": 1|2|4, "interval" (minutes), "instantHigh", "instantLow", "averageLow",
    "averageHigh", "description", "systemName", "unitOfMeasure", "zone"}
  "faults": {"on": "status"|"datalog"|"both", "silent", "delayMs", "dropShare",
             "dropFirst": N, "replyFromOtherPort", "duplicate",
             "before": ["otherPort", "otherPortIndex", "otherLength", "garbage"]}
)";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("veltrane-unitsim");

    QCommandLineParser parser;
    parser.setApplicationDescription("Serves virtual monitoring units (SNMPv1 on UDP port 161, datalogs on UDP port 811) from a JSON "
                                     "description until interrupted.\n" +
                                     QString(kDescriptionHelp).trimmed());
    parser.addHelpOption();
    const QCommandLineOption logOption("log", "Write one line per request received to <file>.", "file");
    const QCommandLineOption readyOption("ready-file",
                                         "Once every unit listens, write the process id to <file>.", "file");
    parser.addOption(logOption);
    parser.addOption(readyOption);
    parser.addPositionalArgument("description", "The JSON description of the units.");
    if (!parser.parse(app.arguments()))
        return Fail(parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return Fail("give exactly one description file (see --help)");

    std::vector<unitsim::LoadedUnit> units;
    QString error;
    if (!unitsim::LoadDescriptionFile(parser.positionalArguments().first(), {unitsim::SnmpResponder::Module(), unitsim::DatalogResponder::Module()}, units,
                                      error))
        return Fail(error);

    unitsim::RequestLog log;
    unitsim::UnitServer server(std::move(units), &log);
    if (!server.Bind(error))
        return Fail(error);
    if (!DropSudoPrivileges(error))
        return Fail(error);
    if (parser.isSet(logOption) && !log.Open(parser.value(logOption), error))
        return Fail(error);

    if (pipe(g_signalPipe) != 0)
        return Fail("cannot create the signal pipe");
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const auto n = read(g_signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    for (const QString& line : server.Endpoints())
        Say("listening " + line);
    if (parser.isSet(readyOption)) {
        QFile ready(parser.value(readyOption));
        if (!ready.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            ready.write(QByteArray::number(static_cast<qint64>(getpid())) + '\n') < 0)
            return Fail(QString("%1: cannot write the ready file: %2").arg(ready.fileName(), ready.errorString()));
    }
    Say("ready");
    const int rc = app.exec();
    Say("stopped");
    return rc;
}
