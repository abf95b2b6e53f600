#pragma once
#include <QDialog>

// The About box (template 104): the program's name and version, and the SNMP enterprise
// number this build reads units under.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};
