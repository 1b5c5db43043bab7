#pragma once

#include "admin/control_operations.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>

class QDBusServiceWatcher;
class Registry;

// Publishes the automation class on D-Bus: well-known name
// HostLedger.clsControl, object /clsControl, interface HostLedger._clsControl,
// described by HostLedger.clsControl.xml (served verbatim as introspection).
// Every calling connection is one instance of the class: it has its own
// Username, forgotten when it leaves the bus.
class ControlBusObject final : public QDBusVirtualObject {
    Q_OBJECT
public:
    static constexpr const char* kServiceName = "HostLedger.clsControl";
    static constexpr const char* kObjectPath = "/clsControl";
    static constexpr const char* kInterface = "HostLedger._clsControl";

    ControlBusObject(Registry& registry, QObject* parent = nullptr);
    ~ControlBusObject() override;

    // Registers the object and takes the name; false with a reason otherwise.
    bool publish(const QDBusConnection& connection, QString* errorText);
    void unpublish();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // The published interface description (the shipped XML).
    static QString interfaceXml();

private:
    QDBusMessage call(const QDBusMessage& message);
    QDBusMessage properties(const QDBusMessage& message);
    void remember(const QString& caller);

    Registry& m_registry;
    ControlOperations m_operations;
    QDBusConnection m_connection;
    bool m_published = false;
    QHash<QString, QString> m_usernames; // caller's unique name -> Username
    QDBusServiceWatcher* m_watcher = nullptr;
};
