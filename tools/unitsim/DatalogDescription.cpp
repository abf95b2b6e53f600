#include "tools/unitsim/DatalogDescription.h"

#include <QtEndian>

#include <cmath>
#include <numbers>

namespace unitsim {
namespace {

constexpr int kMaxRecords = 32767;

QByteArray Field(const QString& text, int size)
{
    QByteArray bytes = text.toUtf8().left(size);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

// The records, oldest first: a list of numbers, or generated.
QList<qint64> ReadRecords(const JsonReader& channel)
{
    QList<qint64> records;
    if (!channel.Has("records"))
        return records;
    const QJsonValue value = channel.Object().value("records");
    if (value.isArray()) {
        const QJsonArray list = value.toArray();
        if (list.size() > kMaxRecords)
            channel.Fail("records", QString("holds %1 records; a ring holds at most %2").arg(list.size()).arg(kMaxRecords));
        for (int i = 0; i < list.size(); ++i) {
            const auto n = JsonInt(list[i]);
            if (!n)
                channel.Fail(QString("records[%1]").arg(i), "must be a whole number");
            records << *n;
        }
        return records;
    }
    const JsonReader gen = channel.Child("records");
    gen.RejectUnknownKeys({"count", "wave", "ramp"});
    const int count = gen.Int("count", std::nullopt, 0, kMaxRecords);
    if (gen.Has("wave") == gen.Has("ramp"))
        gen.Fail("wave", "give either \"wave\" or \"ramp\"");
    if (gen.Has("wave")) {
        const JsonReader wave = gen.Child("wave");
        wave.RejectUnknownKeys({"base", "amplitude", "period"});
        const int base = wave.Int("base", 0);
        const int amplitude = wave.Int("amplitude", 0, 0, 1 << 30);
        const int period = wave.Int("period", 144, 1, INT_MAX);
        for (int i = 0; i < count; ++i)
            records << base + qint64(std::lround(amplitude * std::sin(2 * std::numbers::pi * i / period)));
    } else {
        const JsonReader ramp = gen.Child("ramp");
        ramp.RejectUnknownKeys({"start", "step"});
        const qint64 start = ramp.Int("start", 0);
        const qint64 step = ramp.Int("step", 1);
        for (int i = 0; i < count; ++i)
            records << start + step * i;
    }
    return records;
}

void FillRing(DatalogChannel& c, const QList<qint64>& records)
{
    c.sampleBytes = (c.width >= 1 && c.width <= 4) ? c.width : 1;
    c.ringSlots = std::max(c.capacity, 1);
    c.ring = QByteArray(qsizetype(c.ringSlots) * c.sampleBytes, '\0');
    // Values that make no ring (the client must refuse them) leave it empty.
    if (c.capacity < 1 || c.count < 0 || c.count > c.capacity)
        return;
    // The newest record lies in the slot before the write index. A write index outside the
    // ring (firmware that says W = R after filling the last slot) names the slot it wraps to.
    const int next = ((c.writeIndex % c.capacity) + c.capacity) % c.capacity;
    for (int k = 0; k < c.count && k < records.size(); ++k) {
        const int slot = (next - c.count + k + c.capacity) % c.capacity;
        quint32 v = static_cast<quint32>(records[k]);
        for (int b = 0; b < c.sampleBytes; ++b, v >>= 8)
            c.ring[qsizetype(slot) * c.sampleBytes + b] = static_cast<char>(v & 0xFF);
    }
}

DatalogChannel ReadChannel(const JsonReader& ch)
{
    DatalogChannel c;
    if (ch.Has("error")) {
        ch.RejectUnknownKeys({"port", "channel", "error"});
        c.kind = DatalogChannel::Kind::Error;
        c.errorByte = ch.Int("error", std::nullopt, -128, -1);
        return c;
    }
    if (ch.Bool("oldFirmware", false)) {
        ch.RejectUnknownKeys({"port", "channel", "oldFirmware"});
        c.kind = DatalogChannel::Kind::OldFirmware;
        return c;
    }
    ch.RejectUnknownKeys({"port", "channel", "oldFirmware", "sensorType", "unitTime", "newestTime", "writeIndex",
                          "count", "capacity", "width", "interval", "instantHigh", "instantLow", "averageLow",
                          "averageHigh", "description", "systemName", "unitOfMeasure", "zone", "records"});
    const QList<qint64> records = ReadRecords(ch);
    c.sensorType = ch.Int("sensorType", 1, 0, 255);
    if (ch.Has("unitTime"))
        c.unitTime = ch.Int("unitTime");
    if (ch.Has("newestTime"))
        c.newestTime = ch.Int("newestTime");
    c.count = ch.Int("count", int(records.size()), -32768, 32767);
    c.capacity = ch.Int("capacity", std::max(c.count, 1), -32768, 32767);
    c.writeIndex = ch.Int("writeIndex", c.capacity > 0 && c.count >= 0 ? c.count % c.capacity : 0, -32768, 32767);
    c.width = ch.Int("width", 2, 0, 255);
    c.interval = ch.Int("interval", 1, 0, 255);
    c.instantHigh = ch.Int("instantHigh", 0, -32768, 32767);
    c.instantLow = ch.Int("instantLow", 0, -32768, 32767);
    c.averageLow = ch.Int("averageLow", 0, -32768, 32767);
    c.averageHigh = ch.Int("averageHigh", 0, -32768, 32767);
    c.description = Field(ch.String("description", QString()), 36);
    c.systemName = Field(ch.String("systemName", QString()), 36);
    c.unitOfMeasure = Field(ch.String("unitOfMeasure", QString()), 16);
    c.zone = ch.Int("zone", 0, 0, 255);
    FillRing(c, records);
    return c;
}

DatalogFaults ReadFaults(const JsonReader& f)
{
    f.RejectUnknownKeys({"on", "silent", "delayMs", "dropShare", "dropFirst", "replyFromOtherPort", "duplicate",
                         "before"});
    DatalogFaults faults;
    faults.on = f.Choice("on", {"status", "datalog", "both"}, "both");
    faults.silent = f.Bool("silent", false);
    faults.delayMs = f.Int("delayMs", 0, 0, 600000);
    faults.dropShare = f.Double("dropShare", 0.0, 0.0, 1.0);
    faults.dropFirst = f.Int("dropFirst", 0, 0, INT_MAX);
    faults.replyFromOtherPort = f.Bool("replyFromOtherPort", false);
    faults.duplicate = f.Bool("duplicate", false);
    if (f.Has("before")) {
        const QJsonArray list = f.Array("before");
        const QStringList known = {"otherPort", "otherPortIndex", "otherLength", "garbage"};
        for (int i = 0; i < list.size(); ++i) {
            const QString word = list[i].toString();
            if (!known.contains(word))
                f.Fail(QString("before[%1]").arg(i), "must be one of " + known.join(", "));
            faults.before << word;
        }
    }
    return faults;
}

} // namespace

DatalogUnit ReadDatalogUnit(const JsonReader& datalog, const QByteArray& community)
{
    datalog.RejectUnknownKeys({"password", "otherPorts", "otherChannels", "channels", "faults"});
    DatalogUnit unit;
    const QByteArray password = datalog.Has("password") ? datalog.String("password").toUtf8() : community;
    unit.password = password.left(16);
    unit.password.append(QByteArray(16 - unit.password.size(), '\0'));
    unit.otherPortError = datalog.Int("otherPorts", -3, -128, -1);
    unit.otherChannelError = datalog.Int("otherChannels", -2, -128, -1);
    if (datalog.Has("faults"))
        unit.faults = ReadFaults(datalog.Child("faults"));
    if (!datalog.Has("channels"))
        return unit;
    const QJsonArray list = datalog.Array("channels");
    for (int i = 0; i < list.size(); ++i) {
        const JsonReader ch = datalog.Element("channels", list, i);
        const int port = ch.Int("port", std::nullopt, 0, 7);
        const int channel = ch.Int("channel", 0, 0, 1);
        if (!unit.channels.emplace(port * 2 + channel, ReadChannel(ch)).second)
            ch.Fail("channel", QString("port %1 channel %2 is listed twice").arg(port).arg(channel));
    }
    return unit;
}

} // namespace unitsim
