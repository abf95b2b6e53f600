#include "download/CDownloadDriver.h"

#include "download/CDatalogReport.h"
#include "download/IDownloadView.h"
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

CDownloadDriver::CDownloadDriver(getdata& client, CDatalogReport& report, IDownloadView& view)
    : m_client(client), m_report(report), m_view(view)
{
    m_client.set_message_handler([this](const std::string& text) { m_view.MessageBox(text); });
    m_report.m_pDialog = &m_view;
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
        // Not running from here on, before the controls come back: a click on them then starts
        // a new download instead of being refused with the controls left off.
        m_bRunning = false;
        if (!result.halted)
            m_view.EnableDownloadControls();
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
        m_view.MessageBox(Format("No %s reply !", kSystem));
        return Next::Stop;
    case getdata_error::old_firmware:
        m_view.AddStatusLine(Format("Please update firmware on %s\n", kSystem), false);
        return Next::Stop;
    case getdata_error::no_records: // the client has said so in a message box
        return Next::Channel;
    case getdata_error::unit_no_datalog:
        m_view.AddStatusLine(Format("Sensor on port %d has no datalog.\n", static_cast<long>(port + 1)), false);
        return Next::Channel;
    case getdata_error::unit_port_offline:
        m_view.AddStatusLine(Format("Port %d offline.\n", static_cast<long>(port + 1)), false);
        return Next::Port;
    case getdata_error::unit_skip_channel_4:
    case getdata_error::unit_skip_channel_5:
        return Next::Channel;
    case getdata_error::unit_wrong_password:
        m_view.MessageBox("Wrong password !");
        return Next::Stop;
    default:
        break;
    }
    char line[128];
    std::snprintf(line, sizeof line, "Read %s status, return unknown error (%ld).\n", kSystem, static_cast<long>(code));
    m_view.AddStatusLine(line, false);
    return Next::Channel;
}

DownloadResult CDownloadDriver::Run(const DownloadSettings& settings)
{
    const DownloadResult result = Download(settings);
    if (!result.halted)
        m_view.EnableDownloadControls();
    return result;
}

DownloadResult CDownloadDriver::Download(const DownloadSettings& settings)
{
    DownloadResult result;
    std::string restore = "Ready...";
    if (settings.collecting)
        restore = m_view.GetStatusText();
    else
        m_view.ClearStatusList();
    m_view.SetStatusText("Downloading Data...");

    // Overwriting replaces what an earlier run left; a second report of this run under the
    // same name (two channels of one sensor type) is added behind the first.
    std::set<std::string> written;
    bool stop = false;
    for (int port = 0; port < kPortCount && !stop; ++port) {
        for (int channel = 0; channel < kChannelCount && !stop; ++channel) {
            const int pair = port * kChannelCount + channel;
            m_view.ShowProgress(pair, kPairCount, 0, 0);
            if (m_client.cancelled()) {
                result.cancelled = stop = true;
                break;
            }
            ++result.pairsAsked;
            m_client.set_progress_handler([this, pair](int received, int count) {
                m_view.ShowProgress(pair, kPairCount, received, count);
            });
            const int r = m_client.fetch(settings.ipAddress, settings.password, port, channel);
            if (r == getdata_fetch::no_socket) {
                // No socket: the client has shown its message; the program ends.
                result.halted = true;
                m_client.set_progress_handler({});
                m_view.HaltProgram(kHaltStatus);
                return result;
            }
            if (m_client.cancelled()) {
                result.cancelled = stop = true;
                break;
            }
            if (r < 0) {
                const std::int32_t code = m_client.last_error();
                const Next next = React(code, port);
                stop = next == Next::Stop;
                result.stopped = stop;
                if (!stop && !IsAnswer(code))
                    result.pairsFailed.emplace_back(port, channel);
                if (next == Next::Port)
                    break;
                continue;
            }
            char name[CDatalogReport::kNameRoom];
            if (CDatalogReport::BuildFileName(name, sizeof name, m_client) < 0) {
                ++result.reportsFailed;
                continue;
            }
            const std::string path = settings.folder + "/" + name;
            const bool append = !settings.overwrite || written.count(path) != 0;
            if (m_report.WriteReport(path, m_client, append) == 0) {
                written.insert(path);
                ++result.reportsWritten;
            } else {
                ++result.reportsFailed;
            }
        }
    }

    m_client.set_progress_handler({});
    m_view.HideProgress();
    m_view.SetStatusText(restore);
    return result;
}
