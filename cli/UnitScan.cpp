#include "cli/UnitScan.h"

#include "cli/CliSupport.h"
#include "oidgen/CSensorRow.h"
#include "oidgen/CSensorScan.h"
#include "oidgen/IScanView.h"

namespace cli {
namespace {

// The dialog's list, kept for printing once the scan is over. Calls arrive on the scanning
// thread, which here is the caller's.
class CRecordingScanView : public IScanView {
public:
    CRecordingScanView(ScanResult& result, std::string prefix) : m_result(result), m_strPrefix(std::move(prefix)) {}

    void AddListItem(const std::string& label, int, const std::string& description, const std::string&,
                     CSensorRow* row) override
    {
        m_result.rows.push_back({label, description, row->m_strOid, row->TypeName()});
    }
    void CheckAllItems() override { m_result.ticked = true; }
    void SetStatusText(const std::string& text) override { m_result.status = text; }
    // The scan goes on after its boxes, as it does after the user closed them.
    void ShowMessageBox(const std::string& text) override { PrintErr(m_strPrefix + Printable(text)); }

private:
    ScanResult& m_result;
    const std::string m_strPrefix;
};

} // namespace

std::vector<std::string> ScanResult::Oids() const
{
    std::vector<std::string> oids;
    if (ticked)
        for (const Row& row : rows)
            oids.push_back(row.oid);
    return oids;
}

ScanResult ScanUnitAt(const std::string& address, const std::string& community, const std::string& messagePrefix)
{
    ScanResult result;
    CRecordingScanView view(result, messagePrefix);
    CSensorScan scan;
    scan.SetScanView(&view);
    scan.m_strIpAddress = address;
    scan.m_strCommunity = community;
    scan.ScanUnit();
    result.status = CSensorScan::TrimmedStatus(result.status);
    // The port-count probe is the first read: without a port count the unit gave no answer or
    // refused the community.
    result.answered = scan.m_nPortCount != 0;
    return result;
}

} // namespace cli
