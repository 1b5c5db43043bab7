#include "ui/tray_icon.h"

#include <QCursor>
#include <QMenu>

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent)
    : QObject(parent), m_iconImage(icon),
      m_available([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {}

TrayIcon::~TrayIcon() = default;

void TrayIcon::setFileMenu(QMenu* menu) {
    m_fileMenu = menu;
}

QMenu* TrayIcon::fileMenu() const {
    return m_fileMenu;
}

void TrayIcon::add() {
    if (isShown() || !m_available())
        return;
    if (!m_icon) {
        m_icon = std::make_unique<QSystemTrayIcon>(m_iconImage);
        connect(m_icon.get(), &QSystemTrayIcon::activated, this, &TrayIcon::handleActivation);
    }
    m_icon->setToolTip(m_tip);
    m_icon->show();
}

void TrayIcon::setTip(const QString& tip) {
    m_tip = tip;
    if (m_icon)
        m_icon->setToolTip(tip);
}

void TrayIcon::remove() {
    m_icon.reset();
}

bool TrayIcon::isShown() const {
    return m_icon && m_icon->isVisible();
}

void TrayIcon::handleActivation(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        emit restoreRequested();
        break;
    case QSystemTrayIcon::Context:
        if (m_fileMenu)
            m_fileMenu->popup(QCursor::pos());
        break;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
}
