#include "platform/NotifyIcon.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

namespace platform {
namespace {

constexpr int kHostWatchMs = 1000;

TrayMouse FromReason(QSystemTrayIcon::ActivationReason reason)
{
    // A left press arrives as Trigger, a second one quickly after it as DoubleClick; StatusNotifier
    // hosts send Trigger for their "activate" and Context for a right click.
    switch (reason) {
    case QSystemTrayIcon::Trigger: return TrayMouse::LButtonDown;
    case QSystemTrayIcon::DoubleClick: return TrayMouse::LButtonDblClk;
    case QSystemTrayIcon::Context: return TrayMouse::ContextMenu;
    default: return TrayMouse::Other;
    }
}

class CSystemTrayIcon : public INotifyIcon {
public:
    bool Add(const NotifyIconData& data) override
    {
        // Without a tray host the icon would be shown nowhere, and the window with it.
        if (m_pIcon || !QSystemTrayIcon::isSystemTrayAvailable())
            return false;
        // Owned by the window as well, so it never outlives it.
        m_pIcon = new QSystemTrayIcon(data.hWnd);
        if (data.uFlags & NifIcon)
            m_pIcon->setIcon(data.hIcon);
        if (data.uFlags & NifTip)
            m_pIcon->setToolTip(data.szTip);
        if (data.uFlags & NifMessage) {
            const QPointer<QObject> receiver = data.hWnd;
            const unsigned id = data.uID;
            QObject::connect(m_pIcon, &QSystemTrayIcon::activated, m_pIcon,
                             [receiver, id](QSystemTrayIcon::ActivationReason reason) {
                                 if (!receiver)
                                     return;
                                 TrayIconEvent event(id, FromReason(reason));
                                 QCoreApplication::sendEvent(receiver, &event);
                             });
        }
        m_pIcon->show();
        // Nothing tells when the tray host ends; without it the icon is nowhere to be clicked.
        auto* watch = new QTimer(m_pIcon);
        QObject::connect(watch, &QTimer::timeout, m_pIcon, [watch, receiver = QPointer<QObject>(data.hWnd), id = data.uID] {
            if (QSystemTrayIcon::isSystemTrayAvailable() || !receiver)
                return;
            watch->stop();
            TrayIconEvent event(id, TrayMouse::HostGone);
            QCoreApplication::sendEvent(receiver, &event);
        });
        watch->start(kHostWatchMs);
        return true;
    }

    bool Delete(const NotifyIconData&) override
    {
        if (!m_pIcon)
            return false;
        m_pIcon->hide();
        // Later: this may run inside the icon's own click report.
        m_pIcon->deleteLater();
        m_pIcon = nullptr;
        return true;
    }

    ~CSystemTrayIcon() override
    {
        delete m_pIcon.data();
    }

private:
    QPointer<QSystemTrayIcon> m_pIcon;
};

NotifyIconFactory& Factory()
{
    static NotifyIconFactory factory; // UI thread only
    return factory;
}

} // namespace

QEvent::Type TrayIconEvent::EventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

std::unique_ptr<INotifyIcon> CreateNotifyIcon()
{
    if (Factory())
        return Factory()();
    return std::make_unique<CSystemTrayIcon>();
}

void SetNotifyIconFactory(NotifyIconFactory factory)
{
    Factory() = std::move(factory);
}

} // namespace platform
