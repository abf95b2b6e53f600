// veltrane-cli scan ADDRESS [-c COMMUNITY] [--oids]: the discovery scan of the Generate OID
// dialog, printed instead of listed.
#include "cli/CliSupport.h"
#include "oidgen/CSensorRow.h"
#include "oidgen/CSensorScan.h"
#include "oidgen/IScanView.h"

#include <QCommandLineParser>

#include <string>
#include <vector>

namespace {

// The dialog's list, kept for printing once the scan is over. Calls arrive on the scanning
// thread, which here is the only one.
class CPrintingScanView : public IScanView {
public:
    struct Item {
        std::string label;
        std::string description;
        std::string oid;
    };

    void AddListItem(const std::string& label, int, const std::string& description, const std::string&,
                     CSensorRow* row) override
    {
        m_items.push_back({label, description, row->m_strOid});
    }
    void CheckAllItems() override { m_bChecked = true; }
    void SetStatusText(const std::string& text) override { m_strStatus = text; }
    // The scan goes on after its boxes; here they are lines on standard error.
    void ShowMessageBox(const std::string& text) override { cli::PrintErr(m_strPrefix + cli::Printable(text)); }

    std::vector<Item> m_items;
    bool m_bChecked = false; // the dialog would tick every row: OK would take them all
    std::string m_strStatus;
    std::string m_strPrefix;
};

// The status text without the blanks the dialog pads it with.
std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

int RunScan(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Scans the unit at ADDRESS over SNMPv1 and prints one line per online sensor: port label,\n"
        "description and OID, separated by tabs (control characters in descriptions as \\t, \\n,\n"
        "\\xHH), then the status text. With --oids it prints only the OIDs that Generate OID would\n"
        "take, one per line, ready for 'collect --oids FILE'; the status text then goes to\n"
        "standard error."));
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("The unit's dotted IPv4 address."));
    const QCommandLineOption community({QStringLiteral("c"), QStringLiteral("community")},
                                       QStringLiteral("The SNMP community (default: public)."),
                                       QStringLiteral("COMMUNITY"), QStringLiteral("public"));
    const QCommandLineOption oidsOnly(QStringLiteral("oids"), QStringLiteral("Prints only the OIDs."));
    parser.addOptions({community, oidsOnly});
    if (const auto status = cli::Parse(parser, args, 1))
        return *status;
    const QString address = parser.positionalArguments().at(0);
    if (!cli::IsIPv4Address(address))
        return cli::Fail(args, QStringLiteral("\"%1\" is not a dotted IPv4 address").arg(address), cli::kExitUsage);

    CPrintingScanView view;
    view.m_strPrefix = args.first().toStdString() + ": ";
    CSensorScan scan;
    scan.SetScanView(&view);
    scan.m_strIpAddress = address.toStdString();
    // The community goes out as the bytes that were typed.
    scan.m_strCommunity = parser.value(community).toLocal8Bit().toStdString();
    scan.ScanUnit();

    const std::string status = Trimmed(view.m_strStatus);
    if (parser.isSet(oidsOnly)) {
        if (view.m_bChecked)
            for (const auto& item : view.m_items)
                cli::PrintOut(item.oid);
        cli::PrintErr(status);
    } else {
        for (const auto& item : view.m_items)
            cli::PrintOut(item.label + '\t' + cli::Printable(item.description) + '\t' + item.oid);
        cli::PrintOut(status);
    }
    // The port-count probe is the first read: without a port count the unit gave no answer
    // (or refused the community).
    return scan.m_nPortCount == 0 ? cli::kExitNoUnit : cli::kExitDone;
}
