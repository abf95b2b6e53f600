#pragma once
#include "download/CDatalogReport.h"
#include "download/getdata.h"

#include <memory>

class CDownloadDriver;
class CDownloadView;
class IDownloadWindow;
class QObject;
class QProgressBar;
struct DownloadSettings;

// The main window's download, as the collector is its collection: the datalog client, the
// report writer, the driver with its thread, the view through which the driver reaches the
// window, and the progress bar beside the status text. The window checks its inputs, hands the
// settings over and keeps its own controls.
class CMainDownload {
public:
    // window is the main window (events is the same object, as the download sees it); progress
    // is its bar, placed by its layout.
    CMainDownload(QObject* window, IDownloadWindow* events, QProgressBar* progress);
    // Close, if the window has not.
    ~CMainDownload();
    CMainDownload(const CMainDownload&) = delete;
    CMainDownload& operator=(const CMainDownload&) = delete;

    // Starts the driver's thread; reports come in local time or UTC as localZone says. False
    // when a download still runs.
    bool Start(DownloadSettings&& settings, bool localZone);
    bool IsRunning() const;
    getdata& DatalogClient() { return m_getdata; }
    // A download still running is cancelled and waited for (its wait ends at once, its calls to
    // the window are dropped), so it never works on a window that is gone.
    void Close();

private:
    getdata m_getdata;
    CDatalogReport m_report;
    std::unique_ptr<CDownloadView> m_pDownloadView;
    std::unique_ptr<CDownloadDriver> m_pDownload; // destroyed first: it waits for its thread
};
