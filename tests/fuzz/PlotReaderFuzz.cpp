// libFuzzer target for the plot reader: any bytes as a data file or a report, read as the plot
// window reads a live file: the file grows in pieces between reads, each read bounded or not,
// and may then be cut short. The first input byte steers that; the rest is the file.
// Whatever the bytes, reads end; the counts and the offset agree with one reader that reads
// the finished file at once; a cut file is read again from its start; a reader of all time
// finds every value.
#include "plot/CPlotReader.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

constexpr const char* kFile = "plot-data.txt";

void Append(const char* data, std::size_t size, bool truncate)
{
    const int fd = ::open(kFile, O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0600);
    if (fd < 0)
        std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// Reads until the end, maxBytes at a time; a bounded number of calls.
void ReadToEnd(CPlotReader& reader, std::int64_t maxBytes, std::size_t fileSize)
{
    const std::size_t calls = maxBytes > 0 ? fileSize / static_cast<std::size_t>(maxBytes) + 3 : 2;
    for (std::size_t i = 0; i < calls; ++i) {
        const CPlotReader::Status status = reader.Read(maxBytes);
        if (status == CPlotReader::Status::AtEnd)
            return;
        if (status == CPlotReader::Status::Failed)
            std::abort();
    }
    std::abort(); // the reader never came to the end
}

void Same(const CPlotReader& a, const CPlotReader& b)
{
    const CPlotReader::Counters& x = a.Count();
    const CPlotReader::Counters& y = b.Count();
    if (x.lines != y.lines || x.points != y.points || x.malformed != y.malformed || x.notNumbers != y.notNumbers
        || x.extraColumns != y.extraColumns || x.partial != y.partial || a.FileKind() != b.FileKind()
        || a.Offset() != b.Offset() || a.ReportSeriesInfo().size() != b.ReportSeriesInfo().size())
        std::abort(); // reading in pieces gave another result than reading at once
}

void Sound(const CPlotReader& reader, std::size_t fileSize)
{
    const CPlotReader::Counters& c = reader.Count();
    if (c.lines < 0 || c.points < 0 || c.malformed < 0 || c.notNumbers < 0 || c.extraColumns < 0
        || (c.partial != 0 && c.partial != 1) || reader.Offset() != static_cast<std::int64_t>(fileSize)
        || c.malformed > c.lines || reader.ReportSeriesInfo().size() > static_cast<std::size_t>(CPlotReader::kMaxSeries))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned control = bytes[0];
    const char* data = reinterpret_cast<const char*>(bytes + 1);
    const std::size_t length = size - 1;
    const std::size_t pieces = (control & 3) + 1;
    const unsigned step = (control >> 2) & 7;
    const std::int64_t maxBytes = step == 0 ? -1 : std::int64_t(1) << (step * 2); // 4 bytes to 16 KiB
    const bool cut = control & 0x20;

    Append(data, 0, true);
    CPlotReader live;
    if (!live.Open(QString::fromLatin1(kFile)))
        std::abort();
    std::size_t written = 0;
    for (std::size_t i = 1; i <= pieces; ++i) {
        const std::size_t upTo = length * i / pieces;
        Append(data + written, upTo - written, false);
        written = upTo;
        ReadToEnd(live, maxBytes, written);
        Sound(live, written);
    }
    CPlotReader whole;
    if (!whole.Open(QString::fromLatin1(kFile)))
        std::abort();
    ReadToEnd(whole, -1, length);
    Sound(whole, length);
    Same(live, whole);

    // A reader of all time reads every span the index holds and finds every value.
    if (const auto range = live.RangeReader(std::numeric_limits<std::int64_t>::min(),
                                            std::numeric_limits<std::int64_t>::max())) {
        if (range->Read() != CPlotReader::Status::AtEnd || range->Count().points != live.Count().points)
            std::abort();
    }

    if (cut && length > 0) {
        // The file cut to half (Overwrite did it, or someone): read again from the start.
        const std::size_t half = length / 2;
        if (::truncate(kFile, static_cast<off_t>(half)) != 0)
            std::abort();
        live.TakeRestarted();
        ReadToEnd(live, maxBytes, half);
        if (half < length && !live.TakeRestarted())
            std::abort();
        CPlotReader fresh;
        if (!fresh.Open(QString::fromLatin1(kFile)))
            std::abort();
        ReadToEnd(fresh, -1, half);
        Same(live, fresh);
    }
    return 0;
}
