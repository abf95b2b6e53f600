#pragma once
// The Generate OID dialog: scans the unit on a worker thread behind the busy animation, lists
// every online sensor with a check box, and builds the OID list from the ticked rows.
#include "collect/ColumnsSidecar.h"
#include "oidgen/CSensorScan.h"
#include "oidgen/IScanView.h"

#include <QDialog>
#include <QIcon>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

class CGifAnimator;
class QLabel;
class QPushButton;
class QTreeWidget;

// Template 129. The scan (CSensorScan) works on this object's fields from the worker thread and
// reaches the widgets only through the IScanView calls, which run on the UI thread
// (platform::SendToUi). Control ids are the widgets' object names ("1012", ...).
//
// Caller: construct, set m_strIpAddress and m_strCommunity, run it with platform::ExecModal;
// on OK take m_oidList. The scan starts when the dialog is first shown.
class COidGenDialog : public QDialog, public CSensorScan, public IScanView {
    Q_OBJECT
public:
    enum ControlId {
        IdOK = 1,
        IdCancel = 2,
        IdList = 1012,
        IdSelectAll = 1013,
        IdClearAll = 1014,
        IdGenOid = 1015,
        IdAnimation = 1027,
        IdStatus = 1029,
    };

    explicit COidGenDialog(QWidget* parent = nullptr);
    ~COidGenDialog() override;

    QWidget* GetDlgItem(int id) const;

    // The status field; from any thread (a worker's call runs on the UI thread).
    void SetStatusText(const std::string& text) override;
    QString StatusText() const;

    // Column widths for a list client area of clientWidth pixels: u = width / 9, then 2.7u,
    // 4.5u (cut toward zero) and 2u.
    static std::array<int, 3> ColumnWidths(int clientWidth);
    // Inserts the three columns sized from the list's current client width.
    void SetupColumns();

    // True once OnScanFinished has run on the UI thread; until then the dialog cannot end.
    bool IsScanFinished() const { return m_bScanFinished; }

    // The product: the ticked rows' OIDs in list order, set by OnGenOid.
    std::vector<std::string> m_oidList;
    // Beside each OID, its row's port label and description ("Port 1 Server room"): the names
    // of the data file's columns in a plot.
    std::vector<std::string> m_sensorNames;
    // Beside each OID, its row as the list showed it (port label, description, type, OID): what
    // the data file's column sidecar records.
    std::vector<datafile::Column> m_columns;

public slots:
    void OnSelectAll();
    void OnClearAll();
    void OnGenOid();
    void OnOK();
    // OK and Cancel (and Escape, the close box) end the dialog only after the scan.
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // IScanView, called by the scan on the worker thread.
    void AddListItem(const std::string& label, int iconIndex, const std::string& description,
                     const std::string& status, CSensorRow* row) override;
    void CheckAllItems() override;
    // The OK-only box, safe from the worker: it blocks the scan until closed.
    void ShowMessageBox(const std::string& text) override;

    void CreateControls();
    void OnInitDialog();
    void SetupImageList();
    void SetAllChecks(bool checked);
    static int ScanThreadProc(COidGenDialog* dialog);
    // Called by the worker after the scan; its widget work runs on the UI thread.
    void OnScanFinished();

    QLabel* m_staticStatus = nullptr;
    QPushButton* m_btnGenOid = nullptr;
    QPushButton* m_btnOK = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnClearAll = nullptr;
    QPushButton* m_btnSelectAll = nullptr;
    CGifAnimator* m_animation = nullptr;
    std::thread m_pScanThread;
    QTreeWidget* m_listSensors = nullptr;
    QString m_strStatus;
    std::array<QIcon, 3> m_imageList;
    QIcon m_noIcon; // a transparent picture for rows without an image

    bool m_bInitialised = false;
    bool m_bScanFinished = false;          // UI thread only
    std::atomic<bool> m_bWorkerDone{false}; // the worker has made its last access
};
