#pragma once
#include "collect/ICollectorEvents.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QRadioButton;

// The "File Name" dialog (template 103): the data file of a new run exists already; append to
// it, overwrite it, or name another file.
class CFileNameDialog : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 103 };
    // m_nChoice values.
    static constexpr int kSaveContinuously = ICollectorEvents::kSaveContinuously;
    static constexpr int kOverwrite = ICollectorEvents::kOverwrite;
    static constexpr int kRename = ICollectorEvents::kRename;

    // Runs the dialog for fileName modally over parent (platform::ExecModal), as
    // ICollectorEvents::AskExistingFile asks in the main window.
    static int Ask(QString& fileName, QWidget* parent);

    // fileName: the name of the existing file, shown in the edit and in the status text.
    explicit CFileNameDialog(const QString& fileName, QWidget* parent = nullptr);

    // In: the existing file's name. Out after OK: the edit's text, whatever the choice.
    QString m_strFileName;
    int m_nChoice = kSaveContinuously;

public slots:
    void accept() override;

private:
    void OnChoice(int choice);

    QRadioButton* m_radioSave;
    QRadioButton* m_radioOverwrite;
    QRadioButton* m_radioRename;
    QLineEdit* m_editFileName;
    QLabel* m_staticStatus;
};
