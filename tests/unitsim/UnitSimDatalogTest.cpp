// The virtual unit's datalog side: descriptions it refuses, and what a request log shows.
#include "UnitSimTestSupport.h"

#include "common/UnitSimProcess.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::UnitSimProcess;

namespace {

TEST(DatalogDescription, FaultsAreRefusedWithKeyAndProblem)
{
    struct Case {
        const char* datalog;
        const char* key;
        const char* problem;
    };
    const Case cases[] = {
        {R"({"chanels": []})", "datalog.chanels", "is not a known key"},
        {R"({"channels": [{"channel": 0}]})", "datalog.channels[0].port", "is missing"},
        {R"({"channels": [{"port": 8}]})", "datalog.channels[0].port", "must be between 0 and 7, not 8"},
        {R"({"channels": [{"port": 1}, {"port": 1, "channel": 0}]})", "datalog.channels[1].channel",
         "port 1 channel 0 is listed twice"},
        {R"({"channels": [{"port": 1, "error": 2}]})", "datalog.channels[0].error", "must be between -128 and -1"},
        {R"({"channels": [{"port": 1, "error": -3, "width": 2}]})", "datalog.channels[0].width", "is not a known key"},
        {R"({"channels": [{"port": 1, "records": [1, 2.5]}]})", "datalog.channels[0].records[1]",
         "must be a whole number"},
        {R"({"channels": [{"port": 1, "records": {"count": 3}}]})", "datalog.channels[0].records.wave",
         "give either \"wave\" or \"ramp\""},
        {R"({"channels": [{"port": 1, "records": {"count": 40000, "ramp": {}}}]})",
         "datalog.channels[0].records.count", "must be between 0 and 32767"},
        {R"({"faults": {"before": ["late"]}})", "datalog.faults.before[0]", "must be one of"},
        {R"({"faults": {"on": "both ways"}})", "datalog.faults.on", "must be one of"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        const QString path = dir.filePath("bad.json");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(R"({"units": [{"address": "127.0.0.2", "datalog": )") + c.datalog + "}]}");
        file.close();
        const ToolRun run = RunTool(UnitSimProcess::Program(), {path});
        SCOPED_TRACE(c.datalog);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.startsWith("veltrane-unitsim: " + path + ": units[0]." + c.key + ": "))
            << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.problem)) << run.err.toStdString();
    }
}

} // namespace
