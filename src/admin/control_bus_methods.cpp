// The members of HostLedger._clsControl as the generated adaptor calls them.
#include "admin/control_bus_object.h"

#include "host/registry.h"

#include <QDBusMessage>
#include <QTimer>

namespace {

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

} // namespace

template <typename Result, typename Operation>
Result ControlBusObject::answer(Operation operation) {
    try {
        return operation();
    } catch (const ControlOperations::CallError& e) {
        if (!calledFromDBus())
            throw;
        // The error reply replaces the adaptor's answer; what is returned is not sent.
        sendErrorReply(errorName(e.kind), e.message);
        return Result();
    }
}

QString ControlBusObject::SendMessage(const QString& Message, short Index, const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.SendMessage(Message, Index, err);
        return err;
    });
}

QString ControlBusObject::SendMessageToAll(const QString& Message, const QString& ErrData) {
    return answer<QString>([&] {
        m_operations.SendMessageToAll(Message);
        return ErrData;
    });
}

QString ControlBusObject::ShutdownServer(const QString&, const QString& ErrData) {
    // The caller hears that its call succeeded before the registry goes.
    if (calledFromDBus()) {
        setDelayedReply(true);
        connection().send(message().createReply(ErrData));
    }
    QTimer::singleShot(0, &m_registry, &Registry::shutdown);
    return ErrData;
}

QString ControlBusObject::GetServerInfo(int Index, const QString& ErrData, QString& ServerName, QString& IP,
                                        int& PlayerCount, int& Official, QString& ErrDataOut) {
    return answer<QString>([&] {
        QString id;
        ErrDataOut = ErrData;
        PlayerCount = 0;
        Official = 0;
        m_operations.GetServerInfo(Index, id, ServerName, IP, PlayerCount, Official, ErrDataOut);
        return id;
    });
}

QString ControlBusObject::BootServer(short Index, const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.BootServer(Index, err);
        return err;
    });
}

QString ControlBusObject::GetAccountData(const QString& User, const QString& ErrData, QString& Name,
                                         QString& Description, QString& UpdateURL, uchar& Official,
                                         QString& ErrDataOut) {
    return answer<QString>([&] {
        QString password;
        quint8 official = 0;
        ErrDataOut = ErrData;
        m_operations.GetAccountData(User, password, Name, Description, UpdateURL, official, ErrDataOut);
        Official = official;
        return password;
    });
}

QString ControlBusObject::GetBanData(const QString& BanName, const QString& ErrData, QString& UnbanDate,
                                     QString& Reason, QString& ErrDataOut) {
    return answer<QString>([&] {
        QString ip;
        ErrDataOut = ErrData;
        m_operations.GetBanData(BanName, ip, UnbanDate, Reason, ErrDataOut);
        return ip;
    });
}

short ControlBusObject::FindServer(const QString& User) { return short(m_operations.FindServer(User)); }

QString ControlBusObject::CreateAccount(const QString& User, const QString& Password, const QString& Name,
                                        const QString& Description, const QString& UpdateURL, uchar Official,
                                        const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.CreateAccount(User, Password, Name, Description, UpdateURL, Official, err);
        return err;
    });
}

QString ControlBusObject::EditAccount(const QString& User, const QString& Password, const QString& Name,
                                      const QString& Description, const QString& UpdateURL, uchar Official,
                                      const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.EditAccount(User, Password, Name, Description, UpdateURL, Official, err);
        return err;
    });
}

QString ControlBusObject::CreateBan(const QString& BanName, const QString& IP, const QString& UnbanDate,
                                    const QString& Reason, const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.CreateBan(BanName, IP, UnbanDate, Reason, err);
        return err;
    });
}

QString ControlBusObject::EditBan(const QString& BanName, const QString& IP, const QString& UnbanDate,
                                  const QString& Reason, const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.EditBan(BanName, IP, UnbanDate, Reason, err);
        return err;
    });
}

QString ControlBusObject::DeleteAccount(const QString& User, const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.DeleteAccount(User, err);
        return err;
    });
}

QString ControlBusObject::DeleteBan(const QString& BanName, const QString& ErrData) {
    return answer<QString>([&] {
        QString err = ErrData;
        m_operations.DeleteBan(BanName, err);
        return err;
    });
}

QString ControlBusObject::OptionText(short OptionNum) { return ControlOperations::optionText(OptionNum); }

short ControlBusObject::OptionCount() { return ControlOperations::kOptionCount; }

QStringList ControlBusObject::ListAccounts() { return m_operations.ListAccounts(); }

QStringList ControlBusObject::ListBans() { return m_operations.ListBans(); }

QString ControlBusObject::CheckAddress(const QString& IP) {
    return answer<QString>([&] { return m_operations.CheckAddress(IP); });
}
