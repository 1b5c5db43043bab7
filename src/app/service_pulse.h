#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class Registry;
class ServiceManager;

// What a running registry tells its service manager besides readiness:
// "still alive" at half the watchdog interval it asks for (sent from the
// event loop, so a hung loop stops it and the manager restarts us), and a
// status line for "systemctl status" at most once a second, when it changed.
class ServicePulse final : public QObject {
    Q_OBJECT
public:
    static constexpr int kStatusIntervalMs = 1000;

    ServicePulse(Registry& registry, ServiceManager& manager, QObject* parent = nullptr);
    void start();

    // "Listening on port 5679; 3 connections; 2 servers online".
    static QString statusText(quint16 port, int connections, int serversOnline);

private:
    void sendStatus();

    Registry& m_registry;
    ServiceManager& m_manager;
    QTimer m_watchdog;
    QTimer m_status;
    struct Figures {
        quint16 port = 0;
        int connections = 0;
        int serversOnline = 0;
        bool operator==(const Figures&) const = default;
    };
    std::optional<Figures> m_lastFigures;
};
