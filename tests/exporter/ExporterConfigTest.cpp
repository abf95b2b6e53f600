// The configuration file: what a good one gives, every refusal naming its key, and the file
// checks that protect the communities it holds.
#include "exporter/CExporterConfig.h"
#include "platform/TextBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

namespace {

const char* kSecret = "s3cr3t-community";

// A document whose only unit is the object text unit.
QByteArray InUnits(const std::string& unit)
{
    return QByteArray::fromStdString("{\"units\": [" + unit + "]}");
}

} // namespace

TEST(ExporterConfig, ReadsUnitsWithDefaultsAndOverrides)
{
    CExporterConfig config;
    QString error;
    ASSERT_TRUE(config.Parse(R"({"timeout": 3, "retries": 1, "rescanMinutes": 0, "units": [
        {"name": "Server room", "address": "127.0.0.2", "community": "public", "sensors": "all online"},
        {"name": "Lab", "address": "127.0.0.3", "community": "lab", "timeout": 1, "retries": 0,
         "oids": [".1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0", "1.3.6.1.4.1.32473.1.2.2.1.17.1.3.0"]}]})",
                             error))
        << error.toStdString();
    EXPECT_EQ(config.m_nRescanMinutes, 0);
    ASSERT_EQ(config.m_units.size(), 2u);
    const CExporterUnit& room = config.m_units[0];
    EXPECT_EQ(room.m_strName, "Server room");
    EXPECT_TRUE(room.m_bAllOnline);
    EXPECT_EQ(room.m_nTimeout, 3);
    EXPECT_EQ(room.m_nRetries, 1);
    const CExporterUnit& lab = config.m_units[1];
    EXPECT_FALSE(lab.m_bAllOnline);
    EXPECT_EQ(lab.m_strCommunity, "lab");
    EXPECT_EQ(lab.m_oidList.size(), 2u);
    EXPECT_EQ(lab.m_nTimeout, 1);
    EXPECT_EQ(lab.m_nRetries, 0);
}

// Addresses are read as the window and veltrane-cli read them, and kept canonical: leading
// zeros are decimal, and two spellings of one address are the same unit.
TEST(ExporterConfig, AddressesAreReadAsEveryFrontEndReadsThem)
{
    struct Case {
        const char* address;
        const char* kept; // nullptr: refused
    };
    const Case cases[] = {
        {"127.0.0.2", "127.0.0.2"},
        {"127.000.000.002", "127.0.0.2"},
        {"127.0.077.010", "127.0.77.10"},
        {" 127.0.0.2 ", "127.0.0.2"},
        {"127.0.0.0256", nullptr},
        {"127.1", nullptr},
        {"0x7f.0.0.1", nullptr},
    };
    for (const Case& c : cases) {
        CExporterConfig config;
        QString error;
        const bool parsed = config.Parse(InUnits(std::string(R"({"name": "A", "address": ")") + c.address
                                                 + R"(", "community": "c", "sensors": "all online"})"),
                                         error);
        ASSERT_EQ(parsed, c.kept != nullptr) << c.address << ": " << error.toStdString();
        if (c.kept)
            EXPECT_EQ(config.m_units.at(0).m_strAddress, c.kept) << c.address;
        else
            EXPECT_TRUE(error.contains("units[0].address: must be a dotted IPv4 address")) << error.toStdString();
    }
    CExporterConfig config;
    QString error;
    EXPECT_FALSE(config.Parse(R"({"units": [
        {"name": "A", "address": "127.0.0.2", "community": "c", "sensors": "all online"},
        {"name": "B", "address": "127.0.0.002", "community": "c", "sensors": "all online"}]})",
                              error));
    EXPECT_TRUE(error.contains("units[1].address: the same address as units[0]")) << error.toStdString();
}

TEST(ExporterConfig, ShippedExampleIsValid)
{
    QFile file(VELTRANE_SOURCE_DIR "/contrib/exporter.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    CExporterConfig config;
    QString error;
    EXPECT_TRUE(config.Parse(file.readAll(), error)) << error.toStdString();
    EXPECT_EQ(config.m_units.size(), 2u);
}

TEST(ExporterConfig, ProbeTargetsAndAuthsWithoutUnits)
{
    CExporterConfig config;
    QString error;
    ASSERT_TRUE(config.Parse(R"({"timeout": 3, "probeTargets": ["10.1.2.3/16", "192.0.2.7/32"],
        "auths": {"site-1": {"community": "c", "retries": 0}}})", error)) << error.toStdString();
    EXPECT_TRUE(config.m_units.empty());
    EXPECT_EQ(config.m_auths.at("site-1"), (CExporterAuth{"c", 3, 0}));
    const std::pair<const char*, bool> addresses[] = {
        {"10.1.0.0", true}, {"10.1.255.255", true}, {"10.2.0.0", false}, {"192.0.2.7", true}, {"192.0.2.8", false}};
    for (const auto& [address, inside] : addresses)
        EXPECT_EQ(config.ProbeRangeOf(address) != nullptr, inside) << address;
}

TEST(ExporterConfig, RefusalsNameTheKeyAndNeverTheCommunity)
{
    const std::string unit = std::string(R"("name": "A", "address": "127.0.0.2", "community": ")") + kSecret + "\"";
    auto with = [&unit](const std::string& rest) { return InUnits("{" + unit + rest + "}"); };
    const std::pair<QByteArray, const char*> cases[] = {
        {"[1]", "must be a JSON object"},
        {"{\"units\": [}", "not valid JSON"},
        {"{\"units\": []}", "units: must be a list of 1 to"},
        {"{\"unit\": []}", "unit: unknown key"},
        {"{\"units\": [1]}", "units[0]: must be an object"},
        {"{\"timeout\": 0, \"units\": []}", "timeout: must be a whole number from 1 to 60"},
        {"{\"retries\": 1.5, \"units\": []}", "retries: must be a whole number from 0 to 10"},
        {"{\"probeTargets\": [\"10.0.0.0/33\"]}", "probeTargets[0]: must be an IPv4 range"},
        {"{\"probeTargets\": [\"10.0.0.0\"]}", "probeTargets[0]: must be an IPv4 range"},
        {"{\"probeTargets\": []}", "probeTargets: must be a list of 1 to"},
        {"{\"probeTargets\": [\"10.0.0.0/8\"], \"auths\": {\"a b\": {\"community\": \"c\"}}}", "auths: names are"},
        {"{\"probeTargets\": [\"10.0.0.0/8\"], \"auths\": {\"a\": {}}}", "auths.a.community: missing"},
        {"{\"probeTargets\": [\"10.0.0.0/8\"], \"auths\": {\"a\": {\"community\": \"c\", \"oids\": 1}}}",
         "auths.a.oids: unknown key"},
        {with(", \"sensors\": \"all online\", \"colour\": 1"), "units[0].colour: unknown key"},
        {with(""), "units[0].sensors: give either"},
        {with(R"(, "sensors": "all online", "oids": ["1.3"])"), "units[0].sensors: give either"},
        {with(R"(, "sensors": "all")"), "units[0].sensors: the only choice"},
        {with(R"(, "oids": [])"), "units[0].oids: must be a list of 1 to"},
        {with(R"(, "oids": ["1.3.6.x"])"), "units[0].oids[0]: must be a numeric OID"},
        {with(R"(, "oids": [".1.3.6.1", ".1.3.6.1"])"), "units[0].oids[1]: the same OID as oids[0]"},
        {with(R"(, "oids": [".1.3.6.1"], "timeout": 61)"), "units[0].timeout: must be a whole number"},
        {InUnits(R"({"name": "A", "community": "c", "sensors": "all online"})"), "units[0].address: missing"},
        {InUnits(R"({"name": "A", "address": "unit.example", "community": "c", "sensors": "all online"})"),
         "units[0].address: must be a dotted IPv4 address"},
        {InUnits(R"({"name": "", "address": "127.0.0.2", "community": "c", "sensors": "all online"})"),
         "units[0].name: must have 1 to 128 bytes"},
        {InUnits(R"({"name": "A", "address": "127.0.0.2", "community": 5, "sensors": "all online"})"),
         "units[0].community: must be a text"},
        {with(R"(, "sensors": "all online"}, {"name": "A", "address": "127.0.0.3", "community": "c",
              "sensors": "all online")"),
         "units[1].name: the same name as units[0]"},
        {with(R"(, "sensors": "all online"}, {"name": "B", "address": "127.0.0.2", "community": "c",
              "sensors": "all online")"),
         "units[1].address: the same address as units[0]"},
    };
    for (const auto& [json, expected] : cases) {
        CExporterConfig config;
        QString error;
        EXPECT_FALSE(config.Parse(json, error)) << json.toStdString();
        EXPECT_TRUE(error.startsWith(expected))
            << json.toStdString() << " -> " << error.toStdString();
        EXPECT_FALSE(error.contains(kSecret)) << error.toStdString();
        EXPECT_TRUE(config.m_units.empty());
    }
}

TEST(ExporterConfig, FileReadableByOthersIsRefusedByAnotherGroupWarned)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("units.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(R"({"units": [{"name": "A", "address": "127.0.0.2", "community": ")") + kSecret +
               R"(", "sensors": "all online"}]})");
    file.close();

    // The service's case: root:veltrane 0640 read by a process of group veltrane. Another
    // group (one this process is not) needs root to give the file to.
    const gid_t own = ::getegid();
    const gid_t other = own == 65534 ? 65533 : 65534;
    struct Case {
        mode_t mode;
        gid_t group;
        bool loads;
        const char* message; // in the error, or in the one warning
    };
    const Case cases[] = {
        {0600, own, true, nullptr},
        {0400, own, true, nullptr},
        {0640, own, true, nullptr},
        {0440, own, true, nullptr},
        {0640, other, true, "readable by its group (mode 0640), which is not this process's group"},
        {0600, other, true, nullptr},
        {0644, own, false, "readable or writable by other users (mode 0644)"},
        {0660, own, false, "(mode 0660)"},
        {0602, own, false, "(mode 0602)"},
        {0644, other, false, "(mode 0644)"},
    };
    for (const Case& c : cases) {
        if (::chown(path.toLocal8Bit().constData(), static_cast<uid_t>(-1), c.group) != 0) {
            ASSERT_NE(c.group, own);
            std::cout << "[ SKIPPED  ] mode " << std::oct << c.mode << std::dec << " for group " << c.group
                      << ": only root can give the file to another group\n";
            continue;
        }
        ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), c.mode), 0);
        CExporterConfig config;
        QString error;
        QStringList warnings;
        EXPECT_EQ(config.Load(path, error, warnings), c.loads)
            << std::oct << c.mode << std::dec << " group " << c.group << " " << error.toStdString();
        const QString said = c.loads ? warnings.join('\n') : error;
        if (c.message)
            EXPECT_TRUE(said.contains(c.message)) << said.toStdString();
        else
            EXPECT_TRUE(said.isEmpty()) << said.toStdString();
        EXPECT_FALSE(said.contains(kSecret));
        EXPECT_EQ(config.m_units.size(), c.loads ? 1u : 0u);
    }

    // A name that is not UTF-8 opens as typed (escaped text) and is named readably.
    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0600), 0);
    const std::string byteName = QFile::encodeName(dir.path()).toStdString() + "/caf\xE9.json";
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), byteName.c_str()), 0);
    CExporterConfig config;
    QString error;
    QStringList warnings;
    EXPECT_TRUE(config.Load(platform::EscapedText(byteName), error, warnings)) << error.toStdString();
    ASSERT_EQ(::chmod(byteName.c_str(), 0644), 0);
    EXPECT_FALSE(config.Load(platform::EscapedText(byteName), error, warnings));
    EXPECT_TRUE(error.startsWith(platform::TextFromBytes(byteName))) << error.toStdString();
}

TEST(ExporterConfig, OnlyRegularFilesAreRead)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const std::pair<QString, const char*> cases[] = {
        {dir.path(), "not a regular file"},
        {fifo, "not a regular file"}, // opened without blocking, though no writer ever comes
        {dir.filePath("missing.json"), "No such file or directory"},
    };
    for (const auto& [path, expected] : cases) {
        CExporterConfig config;
        QString error;
        QStringList warnings;
        EXPECT_FALSE(config.Load(path, error, warnings));
        EXPECT_TRUE(error.startsWith(path) && error.contains(expected)) << error.toStdString();
    }
}
