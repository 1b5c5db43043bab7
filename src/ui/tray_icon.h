#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QMenu;

// The registry's icon in the notification area. The tip carries the
// connection count and is kept even while no icon is shown, so that an icon
// added later (a tray that appears after start-up, a restarted panel) shows
// the current count at once. Without a notification area there is no icon
// and no error.
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(const QIcon& icon, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether a notification area exists; tests replace the probe.
    void setAvailabilityProbe(std::function<bool()> probe) { m_available = std::move(probe); }
    // The menu a right click pops up (the main window's File menu).
    void setFileMenu(QMenu* menu);
    QMenu* fileMenu() const;

    // TrayAdd: shows the icon unless it is shown already or there is no tray.
    void add();
    // TraySetTip.
    void setTip(const QString& tip);
    // TrayRemove.
    void remove();

    QString tip() const { return m_tip; }
    bool isShown() const;
    QSystemTrayIcon* platformIcon() const { return m_icon.get(); }

    // What a click on the icon does: a double click asks for the main window,
    // a right click pops up the File menu at the pointer. Trays that report a
    // single activation and no double click (StatusNotifier panels) restore too,
    // or the hidden window could not be reached at all.
    void handleActivation(QSystemTrayIcon::ActivationReason reason);

signals:
    void restoreRequested();

private:
    QIcon m_iconImage;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::function<bool()> m_available;
    QPointer<QMenu> m_fileMenu;
    QString m_tip = QStringLiteral("TavRegistry [0]");
};
