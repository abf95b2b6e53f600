#pragma once
#include "tools/unitsim/JsonReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace unitsim {

// One port/channel of a unit's datalog, as its "datalog.channels" entry describes it.
struct DatalogChannel {
    enum class Kind {
        Error,       // every request answered with an error byte
        OldFirmware, // status answered with the old firmware's 124 bytes
        Status,      // a status and a ring of records
    };
    Kind kind = Kind::Status;
    int errorByte = -2;

    // The status reply's fields, sent as they stand (also when they make no sense).
    int sensorType = 1;
    std::optional<qint32> unitTime;   // absent: the real clock at each request
    std::optional<qint32> newestTime; // absent: the unit time rounded down to the interval
    int writeIndex = 0;
    int count = 0;
    int capacity = 1;
    int width = 2;
    int interval = 1;
    int instantHigh = 0, instantLow = 0, averageLow = 0, averageHigh = 0;
    QByteArray description, systemName, unitOfMeasure; // cut to their fields, zero-padded
    int zone = 0;

    // The ring: ringSlots slots of sampleBytes bytes each, little-endian.
    QByteArray ring;
    int ringSlots = 1;
    int sampleBytes = 2;
};

// Faults of the datalog side, applied to the requests they are "on".
struct DatalogFaults {
    QString on = "both";        // "status", "datalog" or "both"
    bool silent = false;        // no answer
    int delayMs = 0;            // every answer leaves this late
    double dropShare = 0;       // this share of requests gets no answer
    int dropFirst = 0;          // the first N requests get no answer
    bool replyFromOtherPort = false; // the answer leaves from another source port
    bool duplicate = false;     // the answer is sent twice
    // Datagrams sent before the answer: "otherPort" (the answer from another source port),
    // "otherPortIndex", "otherLength" (one byte more), "garbage" (random bytes).
    QStringList before;
};

struct DatalogUnit {
    QByteArray password;                  // 16 bytes, zero-padded, as requests carry it
    int otherPortError = -3;              // ports not listed: offline
    int otherChannelError = -2;           // unlisted channel of a listed port: no datalog
    std::map<int, DatalogChannel> channels; // key port * 2 + channel
    DatalogFaults faults;
};

// Reads a unit's "datalog" object; community is the default password. Throws DescriptionError.
DatalogUnit ReadDatalogUnit(const JsonReader& datalog, const QByteArray& community);

} // namespace unitsim
