#include "admin/control_bus_object.h"

#include "control_adaptor.h"
#include "host/registry.h"

#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMetaMethod>

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kServerList = QStringLiteral("ServerList");
const QString kUsername = QStringLiteral("Username");

// The D-Bus signature of a slot's in arguments; its out arguments are the
// references that follow them.
QString inputSignature(const QMetaMethod& method) {
    QString signature;
    for (const QByteArray& type : method.parameterTypes()) {
        if (type.endsWith('&'))
            break;
        signature += QLatin1String(QDBusMetaType::typeToSignature(QMetaType::fromName(type)));
    }
    return signature;
}

} // namespace

ControlBusObject::ControlBusObject(Registry& registry, QObject* parent)
    : QDBusVirtualObject(parent), m_registry(registry), m_operations(registry),
      m_adaptor(new ClsControlAdaptor(this)), m_connection(QStringLiteral("none")) {
    OnlineServerList& online = m_registry.onlineServers();
    connect(&online, &OnlineServerList::added, this, &ControlBusObject::announceServerList);
    connect(&online, &OnlineServerList::removed, this, &ControlBusObject::announceServerList);
}

ControlBusObject::~ControlBusObject() { unpublish(); }

bool ControlBusObject::publish(const QDBusConnection& connection, QString* errorText) {
    m_connection = connection;
    if (!m_connection.isConnected()) {
        *errorText = QStringLiteral("the bus is not reachable: %1").arg(m_connection.lastError().message());
        return false;
    }
    // Registered as a virtual object so that handleMessage() sees each call
    // first; the option SubPath carries the same bit as ExportAdaptors, which
    // is what lets Qt go on into the generated adaptor for the calls that
    // handleMessage() leaves to it.
    static_assert(int(QDBusConnection::SubPath) == int(QDBusConnection::ExportAdaptors));
    if (!m_connection.registerVirtualObject(QLatin1String(kObjectPath), this, QDBusConnection::SubPath)) {
        *errorText = QStringLiteral("cannot register the object %1").arg(QLatin1String(kObjectPath));
        return false;
    }
    if (!m_connection.registerService(QLatin1String(kServiceName))) {
        *errorText = QStringLiteral("cannot take the name %1: %2")
                         .arg(QLatin1String(kServiceName), m_connection.lastError().message());
        m_connection.unregisterObject(QLatin1String(kObjectPath));
        return false;
    }
    m_watcher = new QDBusServiceWatcher(this);
    m_watcher->setConnection(m_connection);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
        m_usernames.remove(name);
        m_watcher->removeWatchedService(name);
    });
    m_published = true;
    return true;
}

void ControlBusObject::unpublish() {
    if (!m_published)
        return;
    m_published = false;
    m_connection.unregisterService(QLatin1String(kServiceName));
    m_connection.unregisterObject(QLatin1String(kObjectPath));
}

// The interface itself is described by the adaptor (its introspection is the
// shipped XML); nothing is added here.
QString ControlBusObject::introspect(const QString&) const { return QString(); }

void ControlBusObject::remember(const QString& caller) {
    if (m_watcher && !m_usernames.contains(caller))
        m_watcher->addWatchedService(caller);
}

bool ControlBusObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (message.path() != QLatin1String(kObjectPath)) {
        connection.send(message.createErrorReply(QDBusError::UnknownObject,
                                                 QStringLiteral("no object at %1").arg(message.path())));
        return true;
    }
    if (message.interface() == kPropertiesInterface) {
        connection.send(properties(message));
        return true;
    }
    if (message.interface().isEmpty() || message.interface() == QLatin1String(kInterface)) {
        if (const std::optional<QDBusMessage> refusal = wrongArguments(message)) {
            connection.send(*refusal);
            return true;
        }
    }
    return false;
}

std::optional<QDBusMessage> ControlBusObject::wrongArguments(const QDBusMessage& message) const {
    const QMetaObject* meta = m_adaptor->metaObject();
    QString expected;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Slot || method.name() != message.member().toLatin1())
            continue;
        expected = inputSignature(method);
        if (expected == message.signature())
            return std::nullopt;
    }
    if (expected.isNull())
        return std::nullopt; // not a method of the interface: Qt answers it
    return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("%1 takes the arguments (%2), not (%3)")
                                                                 .arg(message.member(), expected, message.signature()));
}

QDBusMessage ControlBusObject::properties(const QDBusMessage& message) {
    const QVariantList a = message.arguments();
    const QString member = message.member();
    const QString caller = message.service();
    const QString interfaceName = a.value(0).toString();
    const QString property = a.value(1).toString();
    const bool ours = interfaceName == QLatin1String(kInterface);
    const QDBusMessage wrongInterface =
        message.createErrorReply(QDBusError::UnknownInterface, QStringLiteral("no such interface here"));
    if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
        if (!ours)
            return wrongInterface;
        if (property == kServerList)
            return message.createReply(QVariant::fromValue(QDBusVariant(m_operations.serverList())));
        if (property == kUsername)
            return message.createReply(QVariant::fromValue(QDBusVariant(m_usernames.value(caller))));
        return message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such property"));
    }
    if (member == QLatin1String("Set") && message.signature() == QLatin1String("ssv")) {
        if (!ours)
            return wrongInterface;
        if (property == kUsername) {
            const QVariant value = qvariant_cast<QDBusVariant>(a.at(2)).variant();
            if (value.metaType() != QMetaType::fromType<QString>())
                return message.createErrorReply(QDBusError::InvalidSignature,
                                                QStringLiteral("Username is a text"));
            remember(caller);
            m_usernames.insert(caller, value.toString());
            return message.createReply();
        }
        if (property == kServerList)
            return message.createErrorReply(QDBusError::PropertyReadOnly,
                                            QStringLiteral("ServerList cannot be set over the bus"));
        return message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such property"));
    }
    if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        if (!ours)
            return wrongInterface;
        QVariantMap all;
        all.insert(kServerList, m_operations.serverList());
        all.insert(kUsername, m_usernames.value(caller));
        return message.createReply(QVariant::fromValue(all));
    }
    return message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method"));
}

// Clients that cache properties learn of every server that comes or goes.
void ControlBusObject::announceServerList() {
    if (!m_published)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kObjectPath), kPropertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << QLatin1String(kInterface) << QVariantMap{{kServerList, m_operations.serverList()}} << QStringList();
    m_connection.send(signal);
}
