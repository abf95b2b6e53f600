#pragma once
#include "platform/NotifyIcon.h"

#include <QDialog>
#include <QIcon>
#include <QPoint>

#include <memory>

// A dialog that, when minimised, leaves the desktop and the taskbar for an icon in the
// notification area; a left click or double click on the icon brings it back and removes the
// icon. On a desktop without a notification area it minimises as any other window does.
class CTrayDialog : public QDialog {
    Q_OBJECT
public:
    // The window-menu command of minimising, as system commands number it.
    static constexpr unsigned SC_MINIMIZE = 0xF020;
    // The only icon id used.
    static constexpr unsigned kTrayIconId = 1;

    explicit CTrayDialog(QWidget* parent = nullptr);
    ~CTrayDialog() override;

    // The icon resource with that number for the notification area; a null icon (and no
    // change) when there is none.
    QIcon SetTrayIcon(int iconId);
    // The icon's tip; the first 63 characters are kept.
    void SetTrayTip(const QString& text);
    // False, doing nothing, while the icon is shown; else the desktop's answer.
    bool AddTrayIcon();
    // False, doing nothing, while no icon is shown; else the desktop's answer.
    bool RemoveTrayIcon();
    bool IsTrayIconShown() const { return m_bTrayIconShown; }
    const platform::NotifyIconData& TrayIconData() const { return m_nid; }

    // Runs the dialog until it is done. QDialog's own exec ends as soon as the dialog is hidden,
    // and in the notification area it is hidden while the program goes on.
    int exec() override;

    // A system command: minimising goes to the notification area; the rest as usual.
    virtual void OnSysCommand(unsigned nID);

protected:
    // Mouse actions on the icon, with the cursor position.
    virtual void OnTrayLButtonDown(const QPoint& pos);
    virtual void OnTrayRButtonDown(const QPoint& pos);
    virtual void OnTrayRButtonDblClk(const QPoint& pos);
    virtual void OnTrayMouseMove(const QPoint& pos);

    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnTrayNotify(const platform::TrayIconEvent& event);
    void ShowFromTray();

    bool m_bMinimizeToTray = true;
    bool m_bTrayIconShown = false;
    platform::NotifyIconData m_nid;
    std::unique_ptr<platform::INotifyIcon> m_pNotifyIcon;
};
