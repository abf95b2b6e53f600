#include "app/CTrayDialog.h"

#include "platform/Resources.h"

#include <QCursor>
#include <QEventLoop>
#include <QPointer>
#include <QWindowStateChangeEvent>

CTrayDialog::CTrayDialog(QWidget* parent) : QDialog(parent), m_pNotifyIcon(platform::CreateNotifyIcon())
{
    m_nid.hWnd = this;
    m_nid.uID = kTrayIconId;
    m_nid.uFlags = platform::NifMessage;
}

CTrayDialog::~CTrayDialog()
{
    // No icon is left behind when the program ends while minimised.
    if (m_nid.hWnd && m_nid.uID != 0 && m_bTrayIconShown)
        m_pNotifyIcon->Delete(m_nid);
}

QIcon CTrayDialog::SetTrayIcon(int iconId)
{
    const QIcon icon = platform::LoadIconResource(iconId);
    if (icon.isNull())
        return {};
    m_nid.hIcon = icon;
    m_nid.uFlags |= platform::NifIcon;
    return icon;
}

void CTrayDialog::SetTrayTip(const QString& text)
{
    m_nid.szTip = text.left(platform::kNotifyTipMaxChars);
    m_nid.uFlags |= platform::NifTip;
}

bool CTrayDialog::AddTrayIcon()
{
    if (m_bTrayIconShown)
        return false;
    const bool added = m_pNotifyIcon->Add(m_nid);
    if (added)
        m_bTrayIconShown = true;
    return added;
}

bool CTrayDialog::RemoveTrayIcon()
{
    if (!m_bTrayIconShown)
        return false;
    const bool deleted = m_pNotifyIcon->Delete(m_nid);
    if (deleted)
        m_bTrayIconShown = false;
    return deleted;
}

int CTrayDialog::exec()
{
    const QPointer<CTrayDialog> guard(this);
    setResult(0);
    setAttribute(Qt::WA_ShowModal, true);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec(QEventLoop::DialogExec);
    return guard ? result() : int(QDialog::Rejected);
}

void CTrayDialog::OnSysCommand(unsigned nID)
{
    if (m_bMinimizeToTray && (nID & 0xFFF0) == SC_MINIMIZE) {
        // Already in the notification area: nothing changes.
        if (m_bTrayIconShown)
            return;
        if (AddTrayIcon()) {
            hide();
            return;
        }
        // No notification area (or the desktop refused the icon): swallowing the minimise would
        // leave a window that cannot be minimised at all, so it minimises to the taskbar.
    }
    if ((nID & 0xFFF0) == SC_MINIMIZE)
        setWindowState(windowState() | Qt::WindowMinimized);
}

void CTrayDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // The desktop minimises the window itself (title bar, window menu, keyboard); the command
    // arrives here as the change into the minimised state.
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (!(windowState() & Qt::WindowMinimized) || (change->oldState() & Qt::WindowMinimized))
        return;
    // Once the change is done: showMinimized() shows the window right after it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (windowState() & Qt::WindowMinimized)
                OnSysCommand(SC_MINIMIZE);
        },
        Qt::QueuedConnection);
}

bool CTrayDialog::event(QEvent* event)
{
    if (event->type() == platform::TrayIconEvent::EventType()) {
        OnTrayNotify(static_cast<const platform::TrayIconEvent&>(*event));
        return true;
    }
    return QDialog::event(event);
}

void CTrayDialog::OnTrayNotify(const platform::TrayIconEvent& event)
{
    if (event.IconId() != kTrayIconId)
        return;
    const QPoint pos = QCursor::pos();
    switch (event.Mouse()) {
    case platform::TrayMouse::LButtonDown:
    case platform::TrayMouse::LButtonDblClk: OnTrayLButtonDown(pos); break;
    case platform::TrayMouse::RButtonDown:
    case platform::TrayMouse::ContextMenu: OnTrayRButtonDown(pos); break;
    case platform::TrayMouse::RButtonDblClk: OnTrayRButtonDblClk(pos); break;
    case platform::TrayMouse::MouseMove: OnTrayMouseMove(pos); break;
    case platform::TrayMouse::Other: break;
    case platform::TrayMouse::HostGone:
        // The icon went with the notification area: the window must not stay out of reach.
        if (RemoveTrayIcon())
            ShowFromTray();
        break;
    }
}

void CTrayDialog::OnTrayLButtonDown(const QPoint&)
{
    // A double click arrives as a press and then the double click; the second finds no icon.
    if (m_bMinimizeToTray && RemoveTrayIcon())
        ShowFromTray();
}

void CTrayDialog::ShowFromTray()
{
    // Back as it was before the minimise.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CTrayDialog::OnTrayRButtonDown(const QPoint&) {}

void CTrayDialog::OnTrayRButtonDblClk(const QPoint&) {}

void CTrayDialog::OnTrayMouseMove(const QPoint&) {}
