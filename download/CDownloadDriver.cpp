#include "download/CDownloadDriver.h"

#include "download/CDatalogReport.h"
#include "download/getdata.h"

#include <cstdio>
#include <set>

namespace {

constexpr const char* kSystem = "system";

std::string Format(const char* format, const char* text)
{
    char line[128];
    std::snprintf(line, sizeof line, format, text);
    return line;
}

std::string Format(const char* format, long value)
{
    char line[128];
    std::snprintf(line, sizeof line, format, value);
    return line;
}

// The unit's error bytes and the client's own codes fit a byte; anything wider is a socket
// error, whose low byte could otherwise pass for one of them.
int ErrorKey(std::int32_t code)
{
    return code >= -128 && code <= 255 ? static_cast<std::int8_t>(code & 0xFF) : 0;
}

} // namespace

CDownloadDriver::CDownloadDriver(getdata& client, CDatalogReport& report, IDownloadEvents& events)
    : m_client(client), m_report(report), m_events(events)
{
    m_client.set_message_handler([this](const std::string& text) { m_events.Message(text); });
    m_report.m_pDialog = &m_events;
}

CDownloadDriver::~CDownloadDriver()
{
    Cancel();
    Wait();
    m_client.set_message_handler({});
}

bool CDownloadDriver::Start(DownloadSettings settings)
{
    if (m_bRunning.exchange(true))
        return false;
    Wait();
    m_client.clear_cancel();
    m_thread = std::thread([this, settings = std::move(settings)] {
        const DownloadResult result = Download(settings);
        // Not running from here on, before the front end has the end: the window's controls come
        // back then, and a click on them starts a new download instead of being refused.
        m_bRunning = false;
        m_events.Finished(result);
    });
    return true;
}

void CDownloadDriver::Wait()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void CDownloadDriver::Cancel()
{
    m_client.cancel();
}

bool CDownloadDriver::IsAnswer(std::int32_t code)
{
    switch (ErrorKey(code)) {
    case getdata_error::no_records:
    case getdata_error::unit_no_datalog:
    case getdata_error::unit_port_offline:
        return true;
    default:
        return false;
    }
}

CDownloadDriver::Next CDownloadDriver::React(std::int32_t code, int port)
{
    switch (ErrorKey(code)) {
    case getdata_error::no_reply:
        m_events.Message(Format("No %s reply !", kSystem));
        return Next::Stop;
    case getdata_error::old_firmware:
        m_events.AddStatusLine(Format("Please update firmware on %s\n", kSystem), false);
        return Next::Stop;
    case getdata_error::no_records: // the client has said so in a message box
        return Next::Channel;
    case getdata_error::unit_no_datalog:
        m_events.AddStatusLine(Format("Sensor on port %d has no datalog.\n", static_cast<long>(port + 1)), false);
        return Next::Channel;
    case getdata_error::unit_port_offline:
        m_events.AddStatusLine(Format("Port %d offline.\n", static_cast<long>(port + 1)), false);
        return Next::Port;
    case getdata_error::unit_skip_channel_4:
    case getdata_error::unit_skip_channel_5:
        return Next::Channel;
    case getdata_error::unit_wrong_password:
        m_events.Message("Wrong password !");
        return Next::Stop;
    default:
        break;
    }
    char line[128];
    std::snprintf(line, sizeof line, "Read %s status, return unknown error (%ld).\n", kSystem, static_cast<long>(code));
    m_events.AddStatusLine(line, false);
    return Next::Channel;
}

DownloadResult CDownloadDriver::Run(const DownloadSettings& settings)
{
    const DownloadResult result = Download(settings);
    m_events.Finished(result);
    return result;
}

DownloadResult CDownloadDriver::Download(const DownloadSettings& settings)
{
    DownloadResult result;
    std::string restore = "Ready...";
    if (settings.collecting)
        restore = m_events.GetStatusText();
    else
        m_events.ClearStatusList();
    m_events.SetStatusText("Downloading Data...");

    // Overwriting replaces what an earlier run left; a second report of this run under the
    // same name (two channels of one sensor type) is added behind the first.
    std::set<std::string> written;
    bool stop = false;
    for (int port = 0; port < kPortCount && !stop; ++port) {
        for (int channel = 0; channel < kChannelCount && !stop; ++channel) {
            const int pair = port * kChannelCount + channel;
            m_events.Progress(pair, kPairCount, 0, 0);
            if (m_client.cancelled()) {
                result.cancelled = stop = true;
                break;
            }
            ++result.pairsAsked;
            m_client.set_progress_handler([this, pair](int received, int count) {
                m_events.Progress(pair, kPairCount, received, count);
            });
            const int r = m_client.fetch(settings.ipAddress, settings.password, port, channel);
            if (r == getdata_fetch::no_socket) {
                // No socket: the client has shown its message; the program ends.
                result.halted = true;
                m_client.set_progress_handler({});
                return result;
            }
            if (m_client.cancelled()) {
                result.cancelled = stop = true;
                break;
            }
            ChannelOutcome outcome {port, channel, ChannelOutcome::Kind::ReportWritten, 0};
            if (r < 0) {
                outcome.code = m_client.last_error();
                const Next next = React(outcome.code, port);
                stop = next == Next::Stop;
                outcome.kind = stop                     ? ChannelOutcome::Kind::Stopped
                               : IsAnswer(outcome.code) ? ChannelOutcome::Kind::UnitAnswered
                                                        : ChannelOutcome::Kind::NoAnswer;
                ChannelOver(result, outcome);
                if (next == Next::Port)
                    break;
                continue;
            }
            char name[CDatalogReport::kNameRoom];
            if (CDatalogReport::BuildFileName(name, sizeof name, m_client) < 0) {
                outcome.kind = ChannelOutcome::Kind::ReportFailed;
                ChannelOver(result, outcome);
                continue;
            }
            const std::string path = settings.folder + "/" + name;
            const bool append = !settings.overwrite || written.count(path) != 0;
            if (m_report.WriteReport(path, m_client, append) == 0)
                written.insert(path);
            else
                outcome.kind = ChannelOutcome::Kind::ReportFailed;
            ChannelOver(result, outcome);
        }
    }

    m_client.set_progress_handler({});
    m_events.ProgressEnded();
    m_events.SetStatusText(restore);
    return result;
}

void CDownloadDriver::ChannelOver(DownloadResult& result, const ChannelOutcome& outcome)
{
    switch (outcome.kind) {
    case ChannelOutcome::Kind::ReportWritten: ++result.reportsWritten; break;
    case ChannelOutcome::Kind::ReportFailed: ++result.reportsFailed; break;
    case ChannelOutcome::Kind::UnitAnswered: break;
    case ChannelOutcome::Kind::NoAnswer: result.pairsFailed.emplace_back(outcome.port, outcome.channel); break;
    case ChannelOutcome::Kind::Stopped: result.stopped = true; break;
    }
    m_events.ChannelDone(outcome);
}
