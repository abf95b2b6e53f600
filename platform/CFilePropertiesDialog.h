#pragma once
#include <QDialog>

// A file's properties where no file manager can show them: name, folder, size, times, access.
class CFilePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFilePropertiesDialog(const QString& path, QWidget* parent = nullptr);
};
