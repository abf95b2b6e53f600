#pragma once
#include <functional>
#include <string>

class IDownloadEvents;
class getdata;
struct status_block;

// The report of one downloaded sensor channel: a header naming the unit, the sensor and the
// unit's time with its summary values, then one line per record, oldest first, closed by an
// empty line. Lines end in "\n".
//
// A report reaches its file whole or not at all. It is built in memory first; overwriting
// replaces the file in one step (a new file renamed over the old one), appending adds it with
// one write that is cut back if it fails. A failed write leaves the file as it was and says
// so, with the system's error text, in a status line.
class CDatalogReport {
public:
    // Room for a file name, terminating zero included (an address of 15 characters and the
    // longest type name need far less).
    static constexpr int kNameRoom = 100;

    // Times in the unit's own zone instead of UTC; the window sets it before each download.
    bool m_bLocalZone = false;
    // The mean of the samples of the report being written.
    double m_dAverage = 0.0;
    // Where the status lines go ("Saving data to ...", errors); none without one.
    IDownloadEvents* m_pDialog = nullptr;

    // The name of a sensor type byte; empty for types without a name and for 18 to 255.
    static const char* SensorTypeName(int type);
    // Types whose values count tenths of the unit of measure.
    static bool InTenths(int type);

    // "<address>_p<port + 1>_<type name>.txt" into dest (room characters, zero included).
    // Returns the name's length, or -1 when it does not fit (dest keeps what was written).
    static int BuildFileName(char* dest, int room, const getdata& data);
    static int BuildFileName(char* dest, int room, const std::string& address, int portIndex, int sensorType);

    // Writes the report of the client's last download to path, appended or replacing the
    // file. Returns 0 when the report is in the file, -1 otherwise.
    int WriteReport(const std::string& path, const getdata& data, bool append);

    // The same from a status and a sample source (count samples, oldest first).
    using SampleFn = std::function<int(int index)>;
    int WriteReport(const std::string& path, const std::string& address, const status_block& status,
                    const SampleFn& sample, int count, bool append);

    // The report's text; sets m_dAverage.
    std::string FormatReport(const std::string& address, const status_block& status, const SampleFn& sample,
                             int count);

private:
    void StatusLine(const std::string& text, bool isFileLink = false) const;
};
