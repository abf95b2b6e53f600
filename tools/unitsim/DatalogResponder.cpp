#include "tools/unitsim/DatalogResponder.h"

#include "tools/unitsim/DescriptionError.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QtEndian>

#include <cstring>

namespace unitsim {
namespace {

constexpr int kRequestSize = 24;
constexpr int kStatusSize = 132;
constexpr int kOldStatusSize = 124;
constexpr int kDatalogHead = 23;
constexpr int kLargestDatagram = 1500;

void PutBe16(QByteArray& d, int at, int v)
{
    qToBigEndian(static_cast<quint16>(v), d.data() + at);
}

void PutBe32(QByteArray& d, int at, qint32 v)
{
    qToBigEndian(static_cast<quint32>(v), d.data() + at);
}

void PutLe16(QByteArray& d, int at, int v)
{
    qToLittleEndian(static_cast<quint16>(v), d.data() + at);
}

} // namespace

DatalogResponder::DatalogResponder(DatalogUnit unit) : m_unit(std::move(unit)) {}

ProtocolModule DatalogResponder::Module()
{
    return ProtocolModule{
        QStringLiteral("datalog"),
        {QStringLiteral("datalog")},
        {},
        [](const UnitDescription& d) -> std::unique_ptr<IUnitProtocol> {
            if (!d.json.Has("datalog"))
                return nullptr;
            return std::make_unique<DatalogResponder>(ReadDatalogUnit(d.json.Child("datalog"), d.community));
        },
    };
}

const DatalogChannel* DatalogResponder::Find(int port, int channel, int& errorByte) const
{
    const auto it = m_unit.channels.find(port * 2 + channel);
    if (it != m_unit.channels.end()) {
        errorByte = it->second.kind == DatalogChannel::Kind::Error ? it->second.errorByte : 0;
        return errorByte ? nullptr : &it->second;
    }
    const bool portListed = m_unit.channels.count(port * 2) || m_unit.channels.count(port * 2 + 1);
    errorByte = portListed ? m_unit.otherChannelError : m_unit.otherPortError;
    return nullptr;
}

QByteArray DatalogResponder::ErrorReply(int errorByte, int port, qsizetype length) const
{
    QByteArray d(length, '\0');
    d[0] = static_cast<char>(errorByte);
    d[1] = static_cast<char>(port);
    return d;
}

QByteArray DatalogResponder::StatusReply(int port, int channel) const
{
    int errorByte = 0;
    const DatalogChannel* c = Find(port, channel, errorByte);
    if (!c)
        return ErrorReply(errorByte, port, kStatusSize);
    if (c->kind == DatalogChannel::Kind::OldFirmware) {
        QByteArray d(kOldStatusSize, '\0');
        d[0] = 4;
        d[1] = static_cast<char>(port);
        return d;
    }
    QByteArray d(kStatusSize, '\0');
    const qint32 now = c->unitTime ? *c->unitTime : static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
    const qint32 step = std::max(c->interval, 1) * 60;
    const qint32 newest = c->newestTime ? *c->newestTime : now - ((now % step) + step) % step;
    d[0] = 4;
    d[1] = static_cast<char>(port);
    d[2] = static_cast<char>(c->sensorType);
    PutBe32(d, 3, now);
    PutBe32(d, 7, newest);
    PutBe16(d, 11, c->writeIndex);
    PutBe16(d, 13, c->count);
    d[15] = static_cast<char>(c->width);
    d[16] = static_cast<char>(c->interval);
    PutBe16(d, 17, c->capacity);
    PutLe16(d, 19, c->instantHigh);
    PutLe16(d, 21, c->instantLow);
    PutLe16(d, 23, c->averageLow);
    PutLe16(d, 25, c->averageHigh);
    d.replace(43, 36, c->description);
    d.replace(79, 36, c->systemName);
    d.replace(115, 16, c->unitOfMeasure);
    d[131] = static_cast<char>(c->zone);
    return d;
}

QByteArray DatalogResponder::DatalogReply(int port, int channel, int first, int count) const
{
    int errorByte = 0;
    const DatalogChannel* c = Find(port, channel, errorByte);
    if (!c || c->kind != DatalogChannel::Kind::Status)
        return ErrorReply(errorByte ? errorByte : -2, port, kDatalogHead);
    const int w = c->sampleBytes;
    count = std::clamp(count, 0, (kLargestDatagram - kDatalogHead) / w);
    QByteArray d(kDatalogHead + qsizetype(count) * w, '\0');
    d[0] = 1;
    d[1] = static_cast<char>(port);
    d[2] = static_cast<char>(channel);
    PutLe16(d, 3, first);
    PutLe16(d, 5, count);
    // The ring read from slot `first` on, wrapping at its end: at most a few contiguous runs.
    char* out = d.data() + kDatalogHead;
    int slot = ((first % c->ringSlots) + c->ringSlots) % c->ringSlots;
    for (int k = 0; k < count;) {
        const int run = std::min(count - k, c->ringSlots - slot);
        std::memcpy(out + qsizetype(k) * w, c->ring.constData() + qsizetype(slot) * w, qsizetype(run) * w);
        k += run;
        slot = 0;
    }
    return d;
}

ProtocolReply DatalogResponder::Handle(const QByteArray& request, double)
{
    ProtocolReply reply;
    if (request.size() < kRequestSize) {
        reply.logText = QString("short datagram of %1 bytes").arg(request.size());
        return reply;
    }
    const auto* r = reinterpret_cast<const uchar*>(request.constData());
    const int command = r[0];
    const int port = r[1];
    const int channel = r[2];
    const int first = qFromLittleEndian<qint16>(r + 3);
    const int count = qFromLittleEndian<qint16>(r + 5);
    const QString name = command == 2 ? "status" : command == 3 ? "datalog" : QString("command %1").arg(command);
    QString log = QString("%1 port %2 channel %3 start %4 count %5").arg(name).arg(port).arg(channel).arg(first).arg(count);
    const bool passwordRight = request.mid(7, 16) == m_unit.password;
    if (!passwordRight)
        log += " wrong-password";

    QByteArray answer;
    if (command == 2) {
        answer = passwordRight ? StatusReply(port, channel) : ErrorReply(-6, port, kStatusSize);
    } else if (command == 3) {
        if (passwordRight) {
            answer = DatalogReply(port, channel, first, count);
        } else {
            int errorByte = 0;
            const DatalogChannel* c = Find(port, channel, errorByte);
            const int w = c ? c->sampleBytes : 1;
            answer = ErrorReply(-6, port, kDatalogHead + qsizetype(std::clamp(count, 0, 1477 / w)) * w);
        }
    }
    if (!answer.isEmpty())
        reply.datagrams << answer;
    const QString on = m_unit.faults.on;
    if (!answer.isEmpty() && (on == "both" || (on == "status") == (command == 2)))
        ApplyFaults(reply, log);
    reply.logText = log;
    return reply;
}

void DatalogResponder::ApplyFaults(ProtocolReply& reply, QString& log)
{
    const DatalogFaults& f = m_unit.faults;
    ++m_nFaultedRequests;
    if (f.silent || m_nFaultedRequests <= f.dropFirst
        || (f.dropShare > 0 && QRandomGenerator::global()->generateDouble() < f.dropShare)) {
        reply.datagrams.clear();
        log += " dropped";
        return;
    }
    const QByteArray answer = reply.datagrams.first();
    reply.datagrams.clear();
    reply.delayMs = f.delayMs;
    for (const QString& what : f.before) {
        if (what == "otherPort") {
            reply.otherPortDatagrams << answer;
        } else if (what == "otherPortIndex") {
            QByteArray d = answer;
            d[1] = static_cast<char>(d[1] ^ 1);
            reply.datagrams << d;
        } else if (what == "otherLength") {
            reply.datagrams << answer + '\0';
        } else if (what == "garbage") {
            QByteArray d(1 + QRandomGenerator::global()->bounded(100), '\0'); // never a reply's length
            for (char& ch : d)
                ch = static_cast<char>(QRandomGenerator::global()->bounded(256));
            d[0] = 0; // neither an answer nor an error byte, whatever its length
            reply.datagrams << d;
        }
    }
    if (f.replyFromOtherPort) {
        reply.otherPortDatagrams << answer;
        return;
    }
    reply.datagrams << answer;
    if (f.duplicate)
        reply.datagrams << answer;
}

} // namespace unitsim
