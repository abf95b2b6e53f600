#include "TestCollectorView.h"

#include "collect/CFileNameDialog.h"
#include "platform/ModalDialog.h"
#include "platform/StatusLamp.h"
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

void CTestView::AddStatusLine(const QString& text)
{
    EXPECT_TRUE(platform::IsUiThread());
    lines << text;
}

void CTestView::RunStarted(const RunStart& start)
{
    lamps.push_back(kLampCollecting);
    lines.clear();
    statusText = start.message;
    if (!start.columnsNotSaved.isEmpty())
        AddStatusLine(start.columnsNotSaved);
    collectingControls = true;
}

void CTestView::LineWritten(const CollectedLine& line, bool runGoesOn)
{
    AddStatusLine(line.text);
    if (runGoesOn)
        lamps.push_back(kLampCollecting);
}

void CTestView::WriteFailed(const CollectedLine& line, const QString& error, bool runGoesOn)
{
    AddStatusLine(line.text);
    AddStatusLine(error);
    if (runGoesOn)
        lamps.push_back(kLampReadFailed);
}

void CTestView::ReadFailed(const ReadFailure& failure)
{
    if (failure.sessionOpened)
        lamps.push_back(kLampReadFailed);
    AddStatusLine(failure.message);
}

void CTestView::RunEnded(RunEnd why)
{
    if (why != RunEnd::Stopped)
        return;
    lamps.push_back(kLampIdle);
    statusText = QStringLiteral("Ready...");
    collectingControls = false;
}

int CTestView::AskExistingFile(QString& fileName)
{
    ++fileNameDialogs;
    return CFileNameDialog::Ask(fileName, nullptr);
}

bool CTestView::IsIdle() const
{
    return !collectingControls;
}

bool CTestView::IsCollecting() const
{
    return collectingControls;
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
