#include "oidgen/IScanView.h"

#include "platform/MessageBox.h"

#include <QString>

void IScanView::ShowMessageBox(const std::string& text)
{
    platform::MessageBox(QString::fromStdString(text));
}
