#pragma once
#include <QEvent>
#include <QIcon>
#include <QString>

#include <functional>
#include <memory>

class QObject;

// One icon in the desktop's notification area (the system tray), with a tip, that reports the
// mouse actions on it to a window. The desktop's own is Qt's QSystemTrayIcon: a
// StatusNotifierItem over D-Bus where the desktop has a watcher for them, else an icon docked
// in an X11 system tray. Tests put a fake in its place.
namespace platform {

// What the record holds besides the receiver and the id.
enum NotifyIconFlag : unsigned {
    NifMessage = 0x1, // report mouse actions to hWnd
    NifIcon = 0x2,    // hIcon is set
    NifTip = 0x4,     // szTip is set
};

// At most this many characters of a tip are kept.
constexpr int kNotifyTipMaxChars = 63;

struct NotifyIconData {
    QObject* hWnd = nullptr; // receives TrayIconEvent
    unsigned uID = 0;
    unsigned uFlags = 0;
    QIcon hIcon;
    QString szTip;
};

// The mouse actions an icon reports, as far as the desktop tells them.
enum class TrayMouse {
    LButtonDown,
    LButtonDblClk,
    RButtonDown,
    RButtonDblClk,
    ContextMenu,
    MouseMove,
    Other, // button releases, the middle button and the rest
    // Not a mouse action: the notification area went away (its host ended) with the icon in it.
    HostGone,
};

// Sent to NotifyIconData::hWnd for a mouse action on the icon with id uID.
class TrayIconEvent : public QEvent {
public:
    TrayIconEvent(unsigned iconId, TrayMouse mouse) : QEvent(EventType()), m_uID(iconId), m_mouse(mouse) {}
    static QEvent::Type EventType();
    unsigned IconId() const { return m_uID; }
    TrayMouse Mouse() const { return m_mouse; }

private:
    unsigned m_uID;
    TrayMouse m_mouse;
};

// One icon slot: adds the icon to the notification area and deletes it again.
class INotifyIcon {
public:
    virtual ~INotifyIcon() = default;
    // False when the desktop has no notification area or refused the icon.
    virtual bool Add(const NotifyIconData& data) = 0;
    // False when the desktop refused; the icon then stays.
    virtual bool Delete(const NotifyIconData& data) = 0;
};

// The desktop's icon slot, or the one a test installed.
std::unique_ptr<INotifyIcon> CreateNotifyIcon();

// Tests: every later CreateNotifyIcon returns what this makes. An empty function restores the
// desktop's.
using NotifyIconFactory = std::function<std::unique_ptr<INotifyIcon>()>;
void SetNotifyIconFactory(NotifyIconFactory factory);

} // namespace platform
