#pragma once

#include "admin/control_operations.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVirtualObject>
#include <QHash>

#include <optional>

class ClsControlAdaptor;
class QDBusServiceWatcher;
class Registry;

// Publishes the automation class on D-Bus: well-known name
// HostLedger.clsControl, object /clsControl, interface HostLedger._clsControl.
// The methods and the introspection come from the adaptor that qdbusxml2cpp
// generates from HostLedger.clsControl.xml; Qt calls the members below through
// it, with this object's QDBusContext set to the call.
//
// Every calling connection is one instance of the class: it has its own
// Username, forgotten when it leaves the bus. Qt hands property reads and
// writes to an adaptor without any QDBusContext, so the properties interface
// is answered here, where the caller is known: handleMessage() sees every call
// first, answers org.freedesktop.DBus.Properties itself and leaves the rest
// to Qt's dispatch into the adaptor.
class ControlBusObject final : public QDBusVirtualObject, protected QDBusContext {
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

    // The members of HostLedger._clsControl, in the shapes the generated
    // adaptor calls: the first out argument is the result, the others follow
    // the in arguments as references.
    QString SendMessage(const QString& Message, short Index, const QString& ErrData);
    QString SendMessageToAll(const QString& Message, const QString& ErrData);
    QString ShutdownServer(const QString& Reason, const QString& ErrData);
    QString GetServerInfo(int Index, const QString& ErrData, QString& ServerName, QString& IP, int& PlayerCount,
                          int& Official, QString& ErrDataOut);
    QString BootServer(short Index, const QString& ErrData);
    QString GetAccountData(const QString& User, const QString& ErrData, QString& Name, QString& Description,
                           QString& UpdateURL, uchar& Official, QString& ErrDataOut);
    QString GetBanData(const QString& BanName, const QString& ErrData, QString& UnbanDate, QString& Reason,
                       QString& ErrDataOut);
    short FindServer(const QString& User);
    QString CreateAccount(const QString& User, const QString& Password, const QString& Name,
                          const QString& Description, const QString& UpdateURL, uchar Official,
                          const QString& ErrData);
    QString EditAccount(const QString& User, const QString& Password, const QString& Name,
                        const QString& Description, const QString& UpdateURL, uchar Official, const QString& ErrData);
    QString CreateBan(const QString& BanName, const QString& IP, const QString& UnbanDate, const QString& Reason,
                      const QString& ErrData);
    QString EditBan(const QString& BanName, const QString& IP, const QString& UnbanDate, const QString& Reason,
                    const QString& ErrData);
    QString DeleteAccount(const QString& User, const QString& ErrData);
    QString DeleteBan(const QString& BanName, const QString& ErrData);
    QString OptionText(short OptionNum);
    short OptionCount();
    QStringList ListAccounts();
    QStringList ListBans();
    QString CheckAddress(const QString& IP);

private:
    QDBusMessage properties(const QDBusMessage& message);
    // A call of a known method with arguments of the wrong types, answered as
    // such rather than as an unknown method; empty when the call is fine.
    std::optional<QDBusMessage> wrongArguments(const QDBusMessage& message) const;
    void remember(const QString& caller);
    void announceServerList();
    // Runs one operation; a CallError becomes the caller's error reply.
    template <typename Result, typename Operation>
    Result answer(Operation operation);

    Registry& m_registry;
    ControlOperations m_operations;
    ClsControlAdaptor* m_adaptor;
    QDBusConnection m_connection;
    bool m_published = false;
    QHash<QString, QString> m_usernames; // caller's unique name -> Username
    QDBusServiceWatcher* m_watcher = nullptr;
};
