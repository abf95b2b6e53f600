#pragma once
#include <QDialog>

// A file's properties where no file manager can show them: name, folder, size, times, access.
// The path is a text whose bytes platform::EscapedText keeps; names are shown readable.
class CFilePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFilePropertiesDialog(const QString& path, QWidget* parent = nullptr);
};
