#include "cli/UnitScan.h"

#include "cli/CliSupport.h"
#include "oidgen/CSensorScan.h"
#include "oidgen/IScanView.h"

namespace cli {
namespace {

// What the terminal shows while the scan runs: its messages. The scan goes on after each, as
// it does after the user closed its box.
class CScanMessages : public IScanView {
public:
    explicit CScanMessages(std::string prefix) : m_strPrefix(std::move(prefix)) {}

    void ShowMessageBox(const std::string& text) override { PrintErr(m_strPrefix + Printable(text)); }

private:
    const std::string m_strPrefix;
};

} // namespace

ScanResult ScanUnitAt(const std::string& address, const std::string& community, const std::string& messagePrefix)
{
    CScanMessages view(messagePrefix);
    CSensorScan scan;
    scan.SetScanView(&view);
    scan.m_strIpAddress = address;
    scan.m_strCommunity = community;
    return scan.Scan();
}

} // namespace cli
