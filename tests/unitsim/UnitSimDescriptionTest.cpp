// Descriptions the simulator must refuse, with a message that names the file, the key and
// what is wrong; and the shipped example units, which must load.
#include "UnitSimTestSupport.h"

#include "common/UnitSimProcess.h"
#include "tools/unitsim/DatalogResponder.h"
#include "tools/unitsim/SnmpResponder.h"
#include "tools/unitsim/UnitDescription.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::UnitSimProcess;

namespace {

struct BadCase {
    const char* json;
    const char* key;     // expected in the message
    const char* problem; // expected in the message
};

const BadCase kBadCases[] = {
    {"{\"units\": [}", "(file)", "is not valid JSON"},
    {R"([1, 2])", "(file)", "must hold one object"},
    {R"({"unit": []})", "unit", "is not a known key"},
    {R"({"units": []})", "units", "must name at least one unit"},
    {R"({"units": [{"community": "public"}]})", "units[0].address", "is missing"},
    {R"({"units": [{"address": "127.0.0"}]})", "units[0].address", "\"127.0.0\" is not a dotted IPv4 address"},
    {R"({"units": [{"address": "127.0.0.2"}, {"address": "127.0.0.2"}]})", "units[1].address",
     "127.0.0.2 is the address of an earlier unit already"},
    {R"({"units": [{"address": "127.0.0.2", "portcount": 2}]})", "units[0].portcount", "is not a known key"},
    {R"({"units": [{"address": "127.0.0.2", "portCount": 3}]})", "units[0].portCount", "must be 2 or 8, not 3"},
    {R"({"units": [{"address": "127.0.0.2", "portCount": "8"}]})", "units[0].portCount", "must be a whole number"},
    {R"({"units": [{"address": "127.0.0.2", "numbering": 1, "ports": [{"index": 0}]}]})", "units[0].ports[0].index",
     "0 is outside the ports 1 to 8"},
    {R"({"units": [{"address": "127.0.0.2", "ports": [{"table16": {}}]}]})", "units[0].ports[0].index", "is missing"},
    {R"({"units": [{"address": "127.0.0.2", "ports": [{"index": 1, "table16": {"status": true}}]}]})",
     "units[0].ports[0].table16.status", "must be a number, a text"},
    {R"({"units": [{"address": "127.0.0.2", "ports": [{"index": 1, "table16": {"type": 3}}]}]})",
     "units[0].ports[0].table16.type", "is not a known key"},
    {R"({"units": [{"address": "127.0.0.2", "ports": [{"index": 1, "table17": {"value": 1.5}}]}]})",
     "units[0].ports[0].table17.value", "must be a whole number"},
    {R"({"units": [{"address": "127.0.0.2", "ports": [{"index": 1, "table17": {"value": {"amplitude": 3}}}]}]})",
     "units[0].ports[0].table17.value.base", "is missing"},
    {R"({"units": [{"address": "127.0.0.2", "families": {"31": {"count": 1}}}]})", "units[0].families.31",
     "is not a family"},
    {R"({"units": [{"address": "127.0.0.2", "families": {"30": {"count": 1, "entries": [5]}}}]})",
     "units[0].families.30.entries[0]", "must be an object"},
    {R"({"units": [{"address": "127.0.0.2", "arrays": [{"array": 9}]}]})", "units[0].arrays[0].array",
     "must be between 1 and 8, not 9"},
    {R"({"units": [{"address": "127.0.0.2", "arrays": [{"array": 2}, {"array": 2}]}]})", "units[0].arrays[1].array",
     "array 2 is described twice"},
    {R"({"units": [{"address": "127.0.0.2", "faults": {"dropShare": 1.5}}]})", "units[0].faults.dropShare",
     "must be between 0 and 1, not 1.5"},
    {R"({"units": [{"address": "127.0.0.2", "faults": {"wrongCommunity": "maybe"}}]})",
     "units[0].faults.wrongCommunity", "must be one of \"noAccess\", \"silence\", not \"maybe\""},
    {R"({"units": [{"address": "127.0.0.2", "faults": {"errors": [{"oid": "1.x", "status": 5}]}}]})",
     "units[0].faults.errors[0].oid", "\"1.x\" is not a dotted OID"},
    {R"({"units": [{"address": "127.0.0.2", "faults": {"delay": 5}}]})", "units[0].faults.delay",
     "is not a known key"},
};

} // namespace

TEST(Description, EveryFaultIsRefusedWithFileKeyAndProblem)
{
    QTemporaryDir dir;
    for (const BadCase& c : kBadCases) {
        const QString path = dir.filePath("bad.json");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.json);
        file.close();
        const ToolRun run = RunTool(UnitSimProcess::Program(), {path});
        SCOPED_TRACE(c.json);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.startsWith("veltrane-unitsim: " + path + ": " + c.key + ": ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.problem)) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains("ready"));
    }
}

TEST(Description, MissingFileAndMissingArgumentAreNamed)
{
    const ToolRun missing = RunTool(UnitSimProcess::Program(), {"/nonexistent/units.json"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.startsWith("veltrane-unitsim: /nonexistent/units.json: cannot read the description"))
        << missing.err.toStdString();

    const ToolRun none = RunTool(UnitSimProcess::Program(), {});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains("give exactly one description file")) << none.err.toStdString();
}

TEST(Description, InvalidJsonNamesLineAndColumn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("broken.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"units\": [\n  {\"address\": \"127.0.0.2\",}\n]}");
    file.close();
    const ToolRun run = RunTool(UnitSimProcess::Program(), {path});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("line 2, column")) << run.err.toStdString();
}

TEST(Description, ShippedExampleUnitsLoad)
{
    const QDir dir(VELTRANE_SOURCE_DIR "/tools/unitsim/units");
    const QStringList files = dir.entryList({"*.json"}, QDir::Files);
    ASSERT_GE(files.size(), 3);
    for (const QString& name : files) {
        std::vector<unitsim::LoadedUnit> units;
        QString error;
        EXPECT_TRUE(unitsim::LoadDescriptionFile(dir.filePath(name), {unitsim::SnmpResponder::Module(), unitsim::DatalogResponder::Module()},
                                                  units, error))
            << error.toStdString();
        EXPECT_FALSE(units.empty()) << name.toStdString();
    }
}
