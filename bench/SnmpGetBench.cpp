// Time of one SNMP GET of 1, 16 and 64 OIDs: through CSnmpSession, through a bare
// snmp_sess_synch_response call, and through net-snmp's snmpget command (a process per GET),
// then their ratios.
// Usage: bench_snmp_get <agent[:port]> <community> <oid prefix> [repetitions]
// The agent must serve <oid prefix>.1 to <oid prefix>.64. Prints a table; asserts nothing.
#include "snmp/CSnmpSession.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double median = 0;
    double best = 0;
    int failures = 0;
};

// Microseconds per call of each of the given operations over the given number of repetitions,
// taken in turn (one of each, then the next round), so that a change in the machine's load
// falls on all of them alike.
std::vector<Figures> Measure(int repetitions, const std::vector<std::function<bool()>>& operations)
{
    std::vector<std::vector<double>> times(operations.size());
    std::vector<Figures> figures(operations.size());
    for (int i = 0; i < repetitions; ++i) {
        for (std::size_t k = 0; k < operations.size(); ++k) {
            const auto start = Clock::now();
            const bool ok = operations[k]();
            times[k].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            if (!ok)
                ++figures[k].failures;
        }
    }
    for (std::size_t k = 0; k < operations.size(); ++k) {
        std::sort(times[k].begin(), times[k].end());
        figures[k].median = times[k][times[k].size() / 2];
        figures[k].best = times[k].front();
    }
    return figures;
}

std::string Cell(const Figures& f)
{
    char text[64];
    std::snprintf(text, sizeof text, "%9.0f / %-7.0f%s", f.median, f.best, f.failures ? " FAILED" : "");
    return text;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <agent[:port]> <community> <oid prefix> [repetitions]\n", argv[0]);
        return 2;
    }
    const std::string agent = argv[1];
    const std::string community = argv[2];
    const std::string prefix = argv[3];
    const int repetitions = argc > 4 ? std::max(1, std::atoi(argv[4])) : 200;
    const int processRepetitions = std::max(1, repetitions / 10);

    CSnmpSession::InitLibrary();

    CSnmpSession session;
    std::string status;
    if (!session.Open(agent, community, 2, 0, status)) {
        std::fprintf(stderr, "%s\n", status.c_str());
        return 1;
    }

    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_1;
    settings.peername = const_cast<char*>(agent.c_str());
    settings.community = reinterpret_cast<u_char*>(const_cast<char*>(community.c_str()));
    settings.community_len = community.size();
    settings.timeout = 2000000;
    settings.retries = 0;
    void* bare = snmp_sess_open(&settings);
    if (!bare) {
        std::fprintf(stderr, "bare session could not be opened\n");
        return 1;
    }

    std::printf("One GET on loopback against %s, microseconds: median / best of %d (snmpget: of %d)\n",
                agent.c_str(), repetitions, processRepetitions);
    std::printf("%-6s %-22s %-22s %-22s %-22s\n", "OIDs", "CSnmpSession Get", "Open+Get+Close",
                "snmp_sess_synch_resp.", "snmpget (process)");

    std::vector<std::string> ratios;
    for (int count : {1, 16, 64}) {
        std::vector<std::string> oids;
        std::vector<std::vector<oid>> names;
        std::string command = "snmpget -v1 -c " + ShellQuote(community) + " -On -Oq " + ShellQuote(agent);
        for (int i = 1; i <= count; ++i) {
            oids.push_back(prefix + "." + std::to_string(i));
            oid name[MAX_OID_LEN];
            size_t length = MAX_OID_LEN;
            if (!read_objid(oids.back().c_str(), name, &length)) {
                std::fprintf(stderr, "bad OID %s\n", oids.back().c_str());
                return 1;
            }
            names.emplace_back(name, name + length);
            command += " " + oids.back();
        }
        command += " >/dev/null 2>&1";

        std::vector<std::string> values;
        std::string errorText;
        int errorCode = 0;
        const std::vector<Figures> figures = Measure(repetitions, {
            [&] { return session.Get(oids, values, errorText, errorCode) && values.size() == oids.size(); },
            [&] {
                CSnmpSession cycle;
                std::string text;
                const bool ok = cycle.Open(agent, community, 2, 0, text) && cycle.Get(oids, values, errorText, errorCode);
                cycle.Close();
                return ok;
            },
            [&] {
                netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
                for (const auto& name : names)
                    snmp_add_null_var(request, name.data(), name.size());
                netsnmp_pdu* response = nullptr;
                const bool ok = snmp_sess_synch_response(bare, request, &response) == STAT_SUCCESS && response
                                && response->errstat == 0;
                if (response)
                    snmp_free_pdu(response);
                return ok;
            },
        });
        const Figures& viaSession = figures[0];
        const Figures& perCycle = figures[1];
        const Figures& viaBare = figures[2];
        const Figures viaCommand =
            Measure(processRepetitions, {[&] { return std::system(command.c_str()) == 0; }}).front();

        std::printf("%-6d %-22s %-22s %-22s %-22s\n", count, Cell(viaSession).c_str(), Cell(perCycle).c_str(),
                    Cell(viaBare).c_str(), Cell(viaCommand).c_str());
        char line[160];
        std::snprintf(line, sizeof line, "%-6d %14.2f x %14.2f x %14.1f x", count, viaSession.median / viaBare.median,
                      perCycle.median / viaBare.median, viaCommand.median / perCycle.median);
        ratios.push_back(line);
    }
    // Our cost against the bare library call on the same open session, and how much faster a
    // whole collection cycle (open, get, close) is than one snmpget process.
    std::printf("\nRatios of the medians\n%-6s %16s %16s %16s\n", "OIDs", "Get / bare", "cycle / bare",
                "snmpget / cycle");
    for (const std::string& line : ratios)
        std::printf("%s\n", line.c_str());

    snmp_sess_close(bare);
    session.Close();
    return 0;
}
