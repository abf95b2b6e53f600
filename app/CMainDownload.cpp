#include "app/CMainDownload.h"

#include "app/CDownloadView.h"
#include "download/CDownloadDriver.h"

CMainDownload::CMainDownload(QObject* window, IDownloadWindow* events, QProgressBar* progress)
    : m_pDownloadView(std::make_unique<CDownloadView>(window, events, progress)),
      m_pDownload(std::make_unique<CDownloadDriver>(m_getdata, m_report, *m_pDownloadView))
{
}

CMainDownload::~CMainDownload()
{
    Close();
}

void CMainDownload::Close()
{
    if (m_pDownloadView)
        m_pDownloadView->Close();
    m_pDownload.reset();
}

bool CMainDownload::Start(DownloadSettings&& settings, bool localZone)
{
    if (!m_pDownload || m_pDownload->IsRunning())
        return false;
    m_report.m_bLocalZone = localZone;
    return m_pDownload->Start(std::move(settings));
}

bool CMainDownload::IsRunning() const
{
    return m_pDownload && m_pDownload->IsRunning();
}
