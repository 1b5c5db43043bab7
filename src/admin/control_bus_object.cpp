#include "admin/control_bus_object.h"

#include "host/registry.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QString errorName(ControlOperations::CallError::Kind kind) {
    switch (kind) {
    case ControlOperations::CallError::Kind::SubscriptOutOfRange:
        return QStringLiteral("HostLedger.Error.SubscriptOutOfRange");
    case ControlOperations::CallError::Kind::Database:
        return QStringLiteral("HostLedger.Error.Database");
    case ControlOperations::CallError::Kind::InvalidArgument:
        return QStringLiteral("HostLedger.Error.InvalidArgument");
    }
    return QStringLiteral("HostLedger.Error.Failed");
}

QString str(const QVariantList& a, int i) { return a.at(i).toString(); }
int num(const QVariantList& a, int i) { return a.at(i).toInt(); }

// Expected D-Bus signature of each method's input.
const QHash<QString, QString>& inputSignatures() {
    static const QHash<QString, QString> table = {
        {"SendMessage", "sns"},       {"SendMessageToAll", "ss"},  {"ShutdownServer", "ss"},
        {"GetServerInfo", "is"},      {"BootServer", "ns"},        {"GetAccountData", "ss"},
        {"GetBanData", "ss"},         {"FindServer", "s"},         {"CreateAccount", "sssssys"},
        {"EditAccount", "sssssys"},   {"CreateBan", "sssss"},      {"EditBan", "sssss"},
        {"DeleteAccount", "ss"},      {"DeleteBan", "ss"},         {"OptionText", "n"},
        {"OptionCount", ""},          {"ListAccounts", ""},        {"ListBans", ""},
    };
    return table;
}

} // namespace

ControlBusObject::ControlBusObject(Registry& registry, QObject* parent)
    : QDBusVirtualObject(parent), m_registry(registry), m_operations(registry),
      m_connection(QStringLiteral("none")) {}

ControlBusObject::~ControlBusObject() { unpublish(); }

QString ControlBusObject::interfaceXml() {
    static const QString xml = [] {
        QFile f(QStringLiteral(":/dbus/HostLedger.clsControl.xml"));
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        const QString all = QString::fromUtf8(f.readAll());
        const auto m = QRegularExpression(QStringLiteral("<interface .*</interface>"),
                                          QRegularExpression::DotMatchesEverythingOption)
                           .match(all);
        return m.hasMatch() ? m.captured(0) : QString();
    }();
    return xml;
}

bool ControlBusObject::publish(const QDBusConnection& connection, QString* errorText) {
    m_connection = connection;
    if (!m_connection.isConnected()) {
        *errorText = QStringLiteral("the bus is not reachable: %1").arg(m_connection.lastError().message());
        return false;
    }
    if (!m_connection.registerVirtualObject(QLatin1String(kObjectPath), this, QDBusConnection::SingleNode)) {
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

QString ControlBusObject::introspect(const QString&) const { return interfaceXml(); }

void ControlBusObject::remember(const QString& caller) {
    if (m_watcher && !m_usernames.contains(caller))
        m_watcher->addWatchedService(caller);
}

bool ControlBusObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    QDBusMessage reply;
    if (message.interface() == kPropertiesInterface)
        reply = properties(message);
    else if (message.interface().isEmpty() || message.interface() == QLatin1String(kInterface))
        reply = call(message);
    else
        return false;
    connection.send(reply);
    if (message.member() == QLatin1String("ShutdownServer") && reply.type() == QDBusMessage::ReplyMessage) {
        // The caller hears that its call succeeded before the registry goes.
        QTimer::singleShot(0, &m_registry, &Registry::shutdown);
    }
    return true;
}

QDBusMessage ControlBusObject::properties(const QDBusMessage& message) {
    const QVariantList a = message.arguments();
    const QString member = message.member();
    const QString caller = message.service();
    auto wrongInterface = [&] {
        return message.createErrorReply(QDBusError::UnknownInterface,
                                        QStringLiteral("no such interface here"));
    };
    if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
        if (str(a, 0) != QLatin1String(kInterface))
            return wrongInterface();
        if (str(a, 1) == QLatin1String("ServerList"))
            return message.createReply(QVariant::fromValue(QDBusVariant(m_operations.serverList())));
        if (str(a, 1) == QLatin1String("Username"))
            return message.createReply(QVariant::fromValue(QDBusVariant(m_usernames.value(caller))));
        return message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such property"));
    }
    if (member == QLatin1String("Set") && message.signature() == QLatin1String("ssv")) {
        if (str(a, 0) != QLatin1String(kInterface))
            return wrongInterface();
        if (str(a, 1) == QLatin1String("Username")) {
            const QVariant value = qvariant_cast<QDBusVariant>(a.at(2)).variant();
            if (value.metaType() != QMetaType::fromType<QString>())
                return message.createErrorReply(QDBusError::InvalidSignature,
                                                QStringLiteral("Username is a text"));
            remember(caller);
            m_usernames.insert(caller, value.toString());
            return message.createReply();
        }
        if (str(a, 1) == QLatin1String("ServerList"))
            return message.createErrorReply(QDBusError::PropertyReadOnly,
                                            QStringLiteral("ServerList cannot be set over the bus"));
        return message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such property"));
    }
    if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        if (str(a, 0) != QLatin1String(kInterface))
            return wrongInterface();
        QVariantMap all;
        all.insert(QStringLiteral("ServerList"), m_operations.serverList());
        all.insert(QStringLiteral("Username"), m_usernames.value(caller));
        return message.createReply(QVariant::fromValue(all));
    }
    return message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method"));
}

QDBusMessage ControlBusObject::call(const QDBusMessage& message) {
    const QString member = message.member();
    const auto expected = inputSignatures().constFind(member);
    if (expected == inputSignatures().constEnd())
        return message.createErrorReply(QDBusError::UnknownMethod,
                                        QStringLiteral("no method %1 in %2").arg(member, QLatin1String(kInterface)));
    if (message.signature() != *expected)
        return message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("%1 takes the arguments (%2), not (%3)").arg(member, *expected, message.signature()));

    const QVariantList a = message.arguments();
    ControlOperations& op = m_operations;
    try {
        if (member == QLatin1String("SendMessage")) {
            QString err = str(a, 2);
            op.SendMessage(str(a, 0), num(a, 1), err);
            return message.createReply(err);
        }
        if (member == QLatin1String("SendMessageToAll")) {
            op.SendMessageToAll(str(a, 0));
            return message.createReply(str(a, 1));
        }
        if (member == QLatin1String("ShutdownServer"))
            return message.createReply(str(a, 1));
        if (member == QLatin1String("GetServerInfo")) {
            QString err = str(a, 1), id, name, ip;
            int players = 0, official = 0;
            op.GetServerInfo(num(a, 0), id, name, ip, players, official, err);
            return message.createReply(QVariantList{id, name, ip, players, official, err});
        }
        if (member == QLatin1String("BootServer")) {
            QString err = str(a, 1);
            op.BootServer(num(a, 0), err);
            return message.createReply(err);
        }
        if (member == QLatin1String("GetAccountData")) {
            QString err = str(a, 1), password, name, description, url;
            quint8 official = 0;
            op.GetAccountData(str(a, 0), password, name, description, url, official, err);
            return message.createReply(
                QVariantList{password, name, description, url, QVariant::fromValue<uchar>(official), err});
        }
        if (member == QLatin1String("GetBanData")) {
            QString err = str(a, 1), ip, date, reason;
            op.GetBanData(str(a, 0), ip, date, reason, err);
            return message.createReply(QVariantList{ip, date, reason, err});
        }
        if (member == QLatin1String("FindServer"))
            return message.createReply(QVariant::fromValue<short>(short(op.FindServer(str(a, 0)))));
        if (member == QLatin1String("CreateAccount") || member == QLatin1String("EditAccount")) {
            QString err = str(a, 6);
            const quint8 official = quint8(a.at(5).value<uchar>());
            if (member == QLatin1String("CreateAccount"))
                op.CreateAccount(str(a, 0), str(a, 1), str(a, 2), str(a, 3), str(a, 4), official, err);
            else
                op.EditAccount(str(a, 0), str(a, 1), str(a, 2), str(a, 3), str(a, 4), official, err);
            return message.createReply(err);
        }
        if (member == QLatin1String("CreateBan") || member == QLatin1String("EditBan")) {
            QString err = str(a, 4);
            if (member == QLatin1String("CreateBan"))
                op.CreateBan(str(a, 0), str(a, 1), str(a, 2), str(a, 3), err);
            else
                op.EditBan(str(a, 0), str(a, 1), str(a, 2), str(a, 3), err);
            return message.createReply(err);
        }
        if (member == QLatin1String("DeleteAccount")) {
            QString err = str(a, 1);
            op.DeleteAccount(str(a, 0), err);
            return message.createReply(err);
        }
        if (member == QLatin1String("DeleteBan")) {
            QString err = str(a, 1);
            op.DeleteBan(str(a, 0), err);
            return message.createReply(err);
        }
        if (member == QLatin1String("OptionText"))
            return message.createReply(ControlOperations::optionText(num(a, 0)));
        if (member == QLatin1String("OptionCount"))
            return message.createReply(QVariant::fromValue<short>(ControlOperations::kOptionCount));
        if (member == QLatin1String("ListAccounts"))
            return message.createReply(op.ListAccounts());
        if (member == QLatin1String("ListBans"))
            return message.createReply(op.ListBans());
    } catch (const ControlOperations::CallError& e) {
        return message.createErrorReply(errorName(e.kind), e.message);
    }
    return message.createErrorReply(QDBusError::UnknownMethod, member);
}
