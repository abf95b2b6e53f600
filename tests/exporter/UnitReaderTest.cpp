// Many units read at once: every answer arrives, each failure is its unit's own, and a dead
// unit costs its own time-out, not the others'.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "exporter/CUnitReader.h"
#include "snmp/CSnmpSession.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(UnitReader, ReadsAllUnitsAtOnceEachBoundByItsOwnTimeOut)
{
    REQUIRE_PORT_161();
    // Three units that never answer, two answering late, one refusing the community.
    QJsonArray units;
    std::vector<CUnitReader::Request> requests;
    for (int i = 0; i < 6; ++i) {
        QJsonObject faults;
        if (i < 3)
            faults = {{"silent", true}};
        else if (i < 5)
            faults = {{"delayMs", 300}};
        else
            faults = {{"wrongCommunity", "noAccess"}};
        units.append(VirtualUnit(UnitAddress(i), "u" + std::to_string(i), {10 * i, "text"}, faults,
                                 i == 5 ? "other" : "public"));
        requests.push_back({UnitAddress(i), "public", 1, 1, {ValueOid(0), ValueOid(1)}, {}});
    }
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", units}})));

    QElapsedTimer timer;
    timer.start();
    const std::vector<CUnitReader::Result> results = CUnitReader::Read(requests);
    const double seconds = timer.elapsed() / 1000.0;

    ASSERT_EQ(results.size(), requests.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(results[i].bAnswered);
        EXPECT_EQ(results[i].nErrorCode, 40);
        EXPECT_EQ(results[i].strError, "The request timed-out.");
        EXPECT_GE(results[i].dSeconds, 1.9); // one second per try, two tries
    }
    for (int i = 3; i < 5; ++i) {
        EXPECT_TRUE(results[i].bAnswered) << results[i].strError;
        EXPECT_EQ(results[i].values, (std::vector<std::string>{std::to_string(10 * i), "text"}));
        EXPECT_EQ(results[i].nErrorCode, 0);
        EXPECT_GE(results[i].dSeconds, 0.29);
        EXPECT_LT(results[i].dSeconds, 1.0); // the late answer is taken, not waited out by the dead
    }
    EXPECT_FALSE(results[5].bAnswered);
    EXPECT_EQ(results[5].nErrorCode, 6);
    EXPECT_EQ(results[5].strError, "wrong password!");
    // One after another the dead units alone would take six seconds.
    EXPECT_LT(seconds, 5.0);
    // One request per unit, each sent once unless it went unanswered.
    EXPECT_EQ(sim.LogLines().size(), 3u * 2 + 3);

    // The sessions come back open for the next read, which gets the same answers through them.
    std::vector<const CSnmpSession*> kept;
    for (const CUnitReader::Request& request : requests) {
        ASSERT_TRUE(request.pSession && request.pSession->IsOpen());
        kept.push_back(request.pSession.get());
    }
    const std::vector<CUnitReader::Result> again = CUnitReader::Read(requests);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(again[i].bAnswered, results[i].bAnswered) << i;
        EXPECT_EQ(again[i].values, results[i].values) << i;
        EXPECT_EQ(requests[i].pSession.get(), kept[i]) << i;
    }
}

TEST(UnitReader, UnitsThatCannotBeAskedFailAloneWithTheSessionsText)
{
    std::vector<CUnitReader::Request> requests;
    requests.push_back({"not an address", "public", 1, 0, {ValueOid(0)}, {}});
    requests.push_back({UnitAddress(0), "public", 1, 0, {"1.3.x"}, {}});
    requests.push_back({UnitAddress(1), "public", 1, 0, {}, {}});
    const std::vector<CUnitReader::Result> results = CUnitReader::Read(requests);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].strError, "Session could not be opened successfully");
    EXPECT_EQ(results[1].strError, "Error: Invalid OID : 1.3.x");
    EXPECT_EQ(results[2].strError, "Error: Empty OID list");
    for (const auto& result : results)
        EXPECT_FALSE(result.bAnswered);
}
