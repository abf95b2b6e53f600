// libFuzzer target for the settings-file reader: any bytes as VeltraneG.ini. A failed read
// leaves the record as it was; a good one survives a write and a read back unchanged.
#include "app/CSettings.h"
#include "platform/MessageBox.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// The reader's message boxes are not needed here: only what it leaves in the record counts.
void platform::MessageBox(const QString&) {}

namespace {

bool Same(const CSettings& a, const CSettings& b)
{
    return a.m_strPassword == b.m_strPassword && a.m_strFolder == b.m_strFolder && a.m_strPeriod == b.m_strPeriod
           && a.m_strIpAddress == b.m_strIpAddress && a.m_bOverwrite == b.m_bOverwrite
           && a.m_bLocalTimezone == b.m_bLocalTimezone;
}

CSettings Sentinel()
{
    CSettings s;
    s.m_strPassword = "sentinel password";
    s.m_strFolder = "/sentinel/folder";
    s.m_strPeriod = "77";
    s.m_strIpAddress = "127.7.7.7";
    s.m_bOverwrite = 0x5A;
    s.m_bLocalTimezone = 0xA5;
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The file lives in the current directory: run the fuzzer in a scratch folder.
    FILE* file = std::fopen(kSettingsFileName, "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();

    CSettings read = Sentinel();
    if (!ReadSettingsFile(&read)) {
        if (!Same(read, Sentinel()))
            std::abort(); // a failed read changed the record
        return 0;
    }
    if (!WriteSettingsFile(&read))
        std::abort();
    CSettings again;
    again.m_strPeriod = "different";
    if (!ReadSettingsFile(&again) || !Same(again, read))
        std::abort(); // what was read did not survive a write and a read back
    return 0;
}
