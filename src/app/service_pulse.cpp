#include "app/service_pulse.h"

#include "host/registry.h"
#include "platform/service_manager.h"

ServicePulse::ServicePulse(Registry& registry, ServiceManager& manager, QObject* parent)
    : QObject(parent), m_registry(registry), m_manager(manager) {
    connect(&m_watchdog, &QTimer::timeout, this, [this] { m_manager.notifyWatchdog(); });
    m_status.setInterval(kStatusIntervalMs);
    connect(&m_status, &QTimer::timeout, this, &ServicePulse::sendStatus);
    // The last word is the manager's own ("stopping"); no status after it.
    connect(&m_registry, &Registry::shutdownFinished, this, [this] {
        m_watchdog.stop();
        m_status.stop();
    });
}

void ServicePulse::start() {
    if (const qint64 usec = m_manager.watchdogIntervalUsec(); usec > 0) {
        m_watchdog.setInterval(int(qBound(qint64(1), usec / 2000, qint64(24 * 3600 * 1000))));
        m_watchdog.start();
        m_manager.notifyWatchdog();
    }
    sendStatus();
    m_status.start();
}

QString ServicePulse::statusText(quint16 port, int connections, int serversOnline) {
    return QStringLiteral("Listening on port %1; %2 %3; %4 %5 online")
        .arg(port)
        .arg(connections)
        .arg(connections == 1 ? QStringLiteral("connection") : QStringLiteral("connections"))
        .arg(serversOnline)
        .arg(serversOnline == 1 ? QStringLiteral("server") : QStringLiteral("servers"));
}

void ServicePulse::sendStatus() {
    if (m_registry.state() != Registry::State::Running)
        return;
    // Compared as figures: an idle registry builds no text.
    const Figures now{m_registry.listeningPort(), m_registry.connectionCount(), m_registry.onlineServers().count()};
    if (m_lastFigures == now)
        return;
    m_lastFigures = now;
    m_manager.notifyStatus(statusText(now.port, now.connections, now.serversOnline));
}
