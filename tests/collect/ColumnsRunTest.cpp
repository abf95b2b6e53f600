// A data file collected over two OID lists against the virtual unit: the sidecar beside it
// names the columns of each run, and the plot names its series right on both sides of the change.
#include "CollectTestSupport.h"
#include "TestCollectorView.h"

#include "collect/CCollector.h"
#include "collect/ColumnsSidecar.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "oidgen/OidTemplates.h"
#include "plot/CPlotReader.h"
#include "plot/CsvExport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using collecttest::CFileNameAnswers;

namespace {

const std::string kTemperature = ExpandedOid(oidtpl::kTable16Value, 0);
const std::string kHumidity = ExpandedOid(oidtpl::kTable17Value, 1);

class ColumnsRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::CanBindPrivilegedPorts())
            GTEST_SKIP() << "the virtual unit needs port 161 (run as root)";
        const QJsonObject unit {
            {"numbering", 0},
            {"ports", QJsonArray {
                QJsonObject {{"index", 0}, {"table16", QJsonObject {{"status", 1}, {"description", "Server room"}, {"value", 23}}}},
                QJsonObject {{"index", 1}, {"table17", QJsonObject {{"status", 1}, {"description", "Humidity"}, {"type", 3}, {"value", 45}}}},
            }},
        };
        ASSERT_TRUE(m_sim.StartUnit(unit, m_address)) << m_sim.Error().toStdString();
        m_collector = std::make_unique<CCollector>(&m_view);
        m_collector->SetAgent(QString::fromStdString(m_address));
        m_collector->SetCommunity(std::string("public"));
        m_collector->SetPeriod(100);
        m_collector->SetFolder(QFile::encodeName(m_dir.path()).toStdString());
    }
    void Run(const std::vector<std::string>& oids, const std::vector<datafile::Column>& columns)
    {
        m_collector->SetOidList(oids);
        m_collector->SetColumns(columns);
        m_collector->StartRun(); // the first line at once
        ASSERT_TRUE(m_collector->IsRunActive());
        m_collector->StopRun();
    }
    std::string DataPath() const { return QFile::encodeName(m_dir.path()).toStdString() + "/data" + m_address + ".txt"; }

    const std::string m_address = testsupport::CurrentTestAddress();
    testsupport::UnitSimProcess m_sim;
    QTemporaryDir m_dir;
    CTestView m_view;
    std::unique_ptr<CCollector> m_collector;
};

const datafile::Column kRoom {"Port 1", "Server room", "temperature", kTemperature};
const datafile::Column kHum {"Port 2", "Humidity", "humidity", kHumidity};

TEST_F(ColumnsRun, TwoListsNameTheirColumnsOnBothSidesOfTheChange)
{
    Run({kTemperature, kHumidity}, {kRoom, kHum});
    {
        CFileNameAnswers answers({collecttest::FileNameAnswer {1}}); // Save Continuously
        Run({kHumidity}, {kHum});                                     // humidity is now column 1
        EXPECT_EQ(answers.Count(), 1);
    }
    const datafile::Sidecar sidecar = datafile::ReadSidecar(datafile::SidecarPath(DataPath()));
    ASSERT_EQ(sidecar.records.size(), 2u);
    EXPECT_EQ(sidecar.records[0].columns, (std::vector<datafile::Column> {kRoom, kHum}));
    EXPECT_EQ(sidecar.records[1].columns, (std::vector<datafile::Column> {kHum}));
    EXPECT_EQ(sidecar.records[0].offset, 0);
    EXPECT_GT(sidecar.records[1].offset, 0);

    CPlotReader reader;
    ASSERT_TRUE(reader.Open(QString::fromStdString(DataPath())));
    ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    ASSERT_EQ(reader.Columns().SeriesCount(), 2u);
    EXPECT_EQ(reader.Columns().Name(0), "Port 1 Server room");
    EXPECT_EQ(reader.Columns().Name(1), "Port 2 Humidity");
    EXPECT_EQ(reader.Data().Summary(0).count, 1) << "the temperature of the first run only";
    EXPECT_EQ(reader.Data().Summary(1).count, 2) << "humidity in both runs, whichever its column";
    EXPECT_EQ(reader.Data().Summary(1).vMin, 45);
    EXPECT_EQ(reader.Count().unnamedValues, 0);
    // The spreadsheet's header names the same columns.
    const std::string csv = DataPath() + ".csv";
    const csvexport::Result exported = csvexport::Export(QString::fromStdString(DataPath()), csv);
    ASSERT_TRUE(exported.ok) << exported.error;
    EXPECT_EQ(exported.rows, 2);
    const std::string bytes = collecttest::ReadFile(QString::fromStdString(csv));
    EXPECT_EQ(bytes.substr(0, bytes.find("\r\n")), "time (ISO 8601 local time as written with its UTC offset),Port 1 Server room,Port 2 Humidity");

    // Overwrite starts the sidecar anew; only the OIDs known, they name the columns.
    CFileNameAnswers answers({collecttest::FileNameAnswer {2}});
    Run({kTemperature}, {});
    const datafile::Sidecar fresh = datafile::ReadSidecar(datafile::SidecarPath(DataPath()));
    ASSERT_EQ(fresh.records.size(), 1u);
    EXPECT_EQ(fresh.records[0].columns, (std::vector<datafile::Column> {{"", "", "", kTemperature}}));
}

TEST_F(ColumnsRun, ASidecarThatCannotBeWrittenIsAStatusLineAndTheRunGoesOn)
{
    // A folder in the sidecar's place: it cannot be replaced.
    ASSERT_EQ(::mkdir(datafile::SidecarPath(DataPath()).c_str(), 0700), 0);
    m_collector->SetOidList({kTemperature});
    m_collector->StartRun();
    EXPECT_TRUE(m_collector->IsRunActive());
    ASSERT_GE(m_view.lines.size(), 2);
    EXPECT_TRUE(m_view.lines[0].startsWith(QStringLiteral("Column names not saved: "))) << m_view.lines[0].toStdString();
    EXPECT_TRUE(m_view.lines[1].endsWith(QStringLiteral(",  23"))) << "the first line is taken all the same";
    m_collector->StopRun();
}

} // namespace
