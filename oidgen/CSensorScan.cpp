#include "oidgen/CSensorScan.h"

#include "oidgen/OidTemplates.h"
#include "snmp/CSnmpSession.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <cstdio>

namespace {

constexpr int kArrayCount = 8;
constexpr int kArrayEntries = 8;

// A unit has at most 8 ports with at most 8 sensors each (the shape of its sensor arrays), so
// no sub-table family holds more entries than this; a larger count is cut here, so that a
// wrong or hostile count cannot keep the scan reading for days.
constexpr int kMaxFamilyEntries = 64;

// The two port tables; a table-17 row reads its type from table 18.
struct PortTable {
    const char* value;
    const char* description;
    const char* type;
};
constexpr PortTable kPortTables[] = {
    {oidtpl::kTable16Value, oidtpl::kTable16Description, nullptr},
    {oidtpl::kTable17Value, oidtpl::kTable17Description, oidtpl::kTable17Type},
};

// One read: exactly the OIDs given, in order, in one request.
bool Read(CSnmpSession& session, const std::vector<std::string>& oids, std::vector<std::string>& values, int& errorCode)
{
    std::string errorText;
    return session.Get(oids, values, errorText, errorCode);
}

bool Read(CSnmpSession& session, const std::string& oid, std::vector<std::string>& values)
{
    int errorCode = 0;
    return Read(session, std::vector<std::string>{oid}, values, errorCode);
}

// Value i of a read; an agent that answered fewer bindings than asked for gives an empty text.
const std::string& ValueAt(const std::vector<std::string>& values, std::size_t i)
{
    static const std::string empty;
    return i < values.size() ? values[i] : empty;
}

// A status text with the unit's address (and a count) in place of the format's fields.
std::string Format(const char* format, const std::string& address, int count = 0)
{
    const int needed = std::snprintf(nullptr, 0, format, address.c_str(), count);
    std::string text(needed > 0 ? static_cast<std::size_t>(needed) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, address.c_str(), count);
    return text;
}

// Every path that opened the session closes it.
struct SessionCloser {
    CSnmpSession& session;
    ~SessionCloser() { session.Close(); }
};

} // namespace

int CSensorScan::ValueNumber(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            n = static_cast<long long>(INT_MAX) + 1; // saturate; no more digits can matter
    }
    if (negative)
        return static_cast<int>(-n < INT_MIN ? INT_MIN : -n);
    return static_cast<int>(n > INT_MAX ? INT_MAX : n);
}

std::string CSensorScan::TrimmedStatus(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

CSensorRow* CSensorScan::NewRow()
{
    m_rows.push_back(std::make_unique<CSensorRow>());
    return m_rows.back().get();
}

void CSensorScan::SetStatus(const std::string& text)
{
    m_result.status = TrimmedStatus(text);
    if (m_pView)
        m_pView->SetStatusText(text);
}

void CSensorScan::ShowMessage(const std::string& text)
{
    if (m_bAbandon)
        return;
    m_result.messages.push_back(text);
    if (m_pView)
        m_pView->ShowMessageBox(text);
}

void CSensorScan::AddSensorRow(CSensorRow* row)
{
    const std::string label = row->FormatPortLabel(m_bZeroBasedPorts);
    m_result.rows.push_back({label, row->m_strDescription, row->m_strOid, row->TypeName(), row->m_nType});
    if (m_pView)
        m_pView->AddListItem(label, row->IconIndex(), row->m_strDescription, row->FormatStatusLabel(), row);
}

ScanResult CSensorScan::Scan()
{
    ScanUnit();
    return m_result;
}

int CSensorScan::ScanUnit()
{
    m_nSensorCount = 0;
    m_nPortCount = 0;
    m_result = {};
    CSnmpSession session;
    session.SetAbandonFlag(&m_bAbandon);
    std::string openText;
    if (!session.Open(m_strIpAddress, m_strCommunity, m_nTimeout, m_nRetries, openText)) {
        ShowMessage("Open SNMP error");
        return 0;
    }
    {
        const SessionCloser closer{session};
        std::vector<std::string> values;
        int errorCode = 0;

        // Port count: an answer at index 2 means 8 ports, noSuchName means 2.
        if (Read(session, {ExpandedOid(oidtpl::kTable16Status, 2)}, values, errorCode)) {
            m_nPortCount = 8;
        } else if (errorCode == CSnmpSession::kNoSuchName) {
            m_nPortCount = 2;
        } else if (errorCode == CSnmpSession::kNoAccess) {
            SetStatus(Format(" Cannot access IP %s because you may entered a wrong password. ", m_strIpAddress));
            return 0;
        } else {
            SetStatus(Format(" IP %s is not active.", m_strIpAddress));
            return 0;
        }
        // The port-count probe is the first read: with a port count the unit answered it with
        // the community.
        m_result.answered = true;

        // Numbering base; an answer at all means the unit has the sub-tables.
        if (Read(session, {ExpandedOid(oidtpl::kNumberingBase)}, values, errorCode)) {
            m_bHasSubTables = true;
            m_bZeroBasedPorts = ValueNumber(ValueAt(values, 0)) == 0;
        } else if (errorCode == CSnmpSession::kNoSuchName) {
            m_bHasSubTables = false;
            m_bZeroBasedPorts = true;
        }

        for (int i = 0; i < m_nPortCount; ++i) {
            const int p = m_bZeroBasedPorts ? i : i + 1;
            if (!Read(session, {ExpandedOid(oidtpl::kTable16Status, p), ExpandedOid(oidtpl::kTable17Status, p)}, values,
                      errorCode))
                continue;
            // Both statuses first: the reads of the table-16 row reuse the value array.
            const bool online[] = {ValueNumber(ValueAt(values, 0)) == 1, ValueNumber(ValueAt(values, 1)) == 1};
            for (std::size_t t = 0; t < std::size(kPortTables); ++t) {
                if (online[t]) {
                    AddPortRow(session, p, kPortTables[t].value, kPortTables[t].description, kPortTables[t].type);
                    ++m_nSensorCount;
                }
            }
        }

        if (m_bHasSubTables) {
            for (const int family : oidtpl::kSubTableFamilies) {
                const int added = WalkSubTable(session, family);
                if (added != -1)
                    m_nSensorCount += added;
            }
            const int added = WalkSensorArrays(session);
            if (added != -1)
                m_nSensorCount += added;
        }
    }

    if (m_nSensorCount == 0) {
        SetStatus(Format(" IP %s has no sensor online.", m_strIpAddress));
    } else {
        SetStatus(Format(m_nSensorCount == 1
                             ? " IP %s has %d sensor online , then select wanted sensor and press GenOID."
                             : " IP %s has %d sensors online , then select wanted sensor and press GenOID.",
                         m_strIpAddress, m_nSensorCount));
        m_result.ticked = true;
        if (m_pView)
            m_pView->CheckAllItems();
    }
    return m_nSensorCount;
}

void CSensorScan::AddPortRow(CSnmpSession& session, int p, const char* valueTemplate,
                             const char* descriptionTemplate, const char* typeTemplate)
{
    std::vector<std::string> values;
    CSensorRow* row = NewRow();
    row->m_nPort = p;
    row->m_nType = 1;
    row->m_strOid = ExpandedOid(valueTemplate, p);
    if (!Read(session, ExpandedOid(descriptionTemplate, p), values))
        ShowMessage("Error");
    row->m_strDescription = ValueAt(values, 0);
    if (typeTemplate) {
        if (!Read(session, ExpandedOid(typeTemplate, p), values))
            ShowMessage("Error");
        row->m_nType = ValueNumber(ValueAt(values, 0));
    }
    AddSensorRow(row);
}

int CSensorScan::WalkSubTable(CSnmpSession& session, int family)
{
    const oidtpl::SubTableTemplates templates = oidtpl::SubTable(family);
    std::vector<std::string> values;
    int count = 0;
    if (!Read(session, ExpandedOid(templates.count), values))
        return -1;
    const int entries = std::min(ValueNumber(ValueAt(values, 0)), kMaxFamilyEntries);
    for (int k = 0; k < entries; ++k) {
        const int e = m_bZeroBasedPorts ? k : k + 1;
        if (!Read(session, ExpandedOid(templates.status, e), values))
            return -1;
        if (ValueNumber(ValueAt(values, 0)) != 1)
            continue;
        if (!Read(session, ExpandedOid(templates.description, e), values))
            return -1;
        CSensorRow* row = NewRow();
        row->m_nPort = e;
        row->m_strOid = ExpandedOid(templates.value, e);
        row->m_strDescription = ValueAt(values, 0);
        AddSensorRow(row);
        ++count;
    }
    return count;
}

int CSensorScan::WalkSensorArrays(CSnmpSession& session)
{
    std::vector<std::string> values;
    int count = 0;
    for (int a = 1; a <= kArrayCount; ++a) {
        // Presence probe: only whether the array answers counts.
        if (!Read(session, ExpandedOid(oidtpl::kArrayProbe, -1, a), values))
            return -1;
        for (int k = 0; k < kArrayEntries; ++k) {
            const int e = m_bZeroBasedPorts ? k : k + 1;
            if (!Read(session, ExpandedOid(oidtpl::kArrayStatus, e, a), values))
                return -1;
            if (ValueNumber(ValueAt(values, 0)) != 1)
                continue;
            if (!Read(session, ExpandedOid(oidtpl::kArrayDescription, e, a), values))
                return -1;
            CSensorRow* row = NewRow();
            row->m_nPort = e;
            row->m_nArray = a;
            row->m_nType = 13;
            row->m_strOid = ExpandedOid(oidtpl::kArrayValue, e, a);
            row->m_strDescription = ValueAt(values, 0);
            AddSensorRow(row);
            ++count;
        }
    }
    return count;
}
