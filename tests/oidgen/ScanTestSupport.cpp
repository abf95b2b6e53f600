#include "ScanTestSupport.h"

#include "oidgen/OidTemplates.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

void RecordingView::AddListItem(const std::string& label, int iconIndex, const std::string& description,
                                const std::string& status, CSensorRow* row)
{
    items.push_back(RecordedItem{label, iconIndex, description, status, row});
}

void RecordingView::CheckAllItems()
{
    ++checkAllCalls;
    for (auto& item : items)
        item.checked = true;
}

void RecordingView::SetStatusText(const std::string& text)
{
    statusTexts.push_back(text);
}

void RecordingView::ShowMessageBox(const std::string& text)
{
    platform::MessageBox(QString::fromStdString(text));
}

QString Oem(const std::string& rest)
{
    return QString::fromStdString(oidtpl::OemPrefix() + "." + rest);
}

namespace {
std::string Rest(const char* format, int a, int b = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}
} // namespace

ExpectedReads& ExpectedReads::Get(const std::vector<std::string>& rests)
{
    QStringList oids;
    for (const auto& rest : rests)
        oids << Oem(rest);
    requests << oids;
    return *this;
}

ExpectedReads& ExpectedReads::StatusPair(int p)
{
    return Get({Rest("1.2.2.1.16.1.5.%d", p), Rest("1.2.2.1.17.1.5.%d", p)});
}

ExpectedReads& ExpectedReads::Description16(int p)
{
    return Get({Rest("1.2.2.1.16.1.1.%d", p)});
}

ExpectedReads& ExpectedReads::Description17AndType(int p)
{
    return Get({Rest("1.2.2.1.17.1.1.%d", p)}).Get({Rest("1.2.2.1.18.1.9.%d", p)});
}

ExpectedReads& ExpectedReads::FamilyCount(int family)
{
    return Get({Rest("1.2.2.1.19.%d.1.0", family)});
}

ExpectedReads& ExpectedReads::FamilyStatus(int family, int e)
{
    return Get({Rest("1.2.2.1.19.%d.2.1.5.%d", family, e)});
}

ExpectedReads& ExpectedReads::FamilyDescription(int family, int e)
{
    return Get({Rest("1.2.2.1.19.%d.2.1.2.%d", family, e)});
}

ExpectedReads& ExpectedReads::ArrayProbe(int array)
{
    return Get({Rest("1.2.2.1.19.33.%d.1.0", array)});
}

ExpectedReads& ExpectedReads::ArrayStatus(int array, int e)
{
    return Get({Rest("1.2.2.1.19.33.%d.2.1.5.%d", array, e)});
}

ExpectedReads& ExpectedReads::ArrayDescription(int array, int e)
{
    return Get({Rest("1.2.2.1.19.33.%d.2.1.2.%d", array, e)});
}

void ExpectRows(const CSensorScan& scan, const RecordingView& view, const std::vector<ExpectedRow>& rows,
                bool ticked)
{
    ASSERT_EQ(view.items.size(), rows.size());
    ASSERT_EQ(scan.m_rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + " " + rows[i].label + " " + rows[i].description);
        const RecordedItem& item = view.items[i];
        EXPECT_EQ(item.label, rows[i].label);
        EXPECT_EQ(item.description, rows[i].description);
        EXPECT_EQ(item.status, "Online");
        EXPECT_EQ(item.icon, rows[i].icon);
        EXPECT_EQ(item.row, scan.m_rows[i].get());
        EXPECT_EQ(item.row->m_strOid, Oem(rows[i].oidRest).toStdString());
        EXPECT_EQ(item.row->m_strDescription, rows[i].description);
        EXPECT_TRUE(item.row->m_bOnline);
        EXPECT_EQ(item.checked, ticked);
    }
}
