#include "TestCollectorView.h"

#include "collect/CFileNameDialog.h"
#include "platform/ModalDialog.h"
#include "platform/UiThread.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {
const QRegularExpression& DataLine()
{
    static const QRegularExpression re(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d,  \\d\\d:\\d\\d:\\d\\d,  "));
    return re;
}
} // namespace

void CTestView::AddStatusLine(const QString& text, bool isFileLink)
{
    EXPECT_TRUE(platform::IsUiThread());
    EXPECT_FALSE(isFileLink) << "collection lines are never links";
    lines << text;
}

int CTestView::RunFileNameDialog(QString& fileName)
{
    ++fileNameDialogs;
    return CFileNameDialog::Ask(fileName, nullptr);
}

bool CTestView::IsIdle() const
{
    return inputsEnabled && buttons.at(RunButton::Start) && !buttons.at(RunButton::Stop) &&
           buttons.at(RunButton::GetOid) && focus == RunButton::Start;
}

bool CTestView::IsCollecting() const
{
    return !inputsEnabled && !buttons.at(RunButton::Start) && buttons.at(RunButton::Stop) &&
           !buttons.at(RunButton::GetOid) && focus == RunButton::Stop;
}

QStringList CTestView::OtherLines() const
{
    QStringList other;
    for (const QString& line : lines)
        if (!DataLine().match(line).hasMatch())
            other << line;
    return other;
}

QStringList CTestView::DataLines() const
{
    QStringList data;
    for (const QString& line : lines)
        if (DataLine().match(line).hasMatch())
            data << line;
    return data;
}
