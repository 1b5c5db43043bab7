#pragma once

#include <QString>
#include <QStringList>

class Registry;

// The operations of the automation class (clsControl) on one registry, apart
// from how callers reach them. Expected failures are reported in ErrData as
// three lines; anything else is a CallError the transport turns into an error
// reply.
class ControlOperations {
public:
    struct CallError {
        enum class Kind { SubscriptOutOfRange, Database, InvalidArgument };
        Kind kind;
        QString message;
    };

    explicit ControlOperations(Registry& registry) : m_registry(registry) {}

    // The failure report: "ErrNum=n" CR LF "ErrDesc=text" CR LF "Name=method".
    static QString failureText(int number, const QString& method);
    static QString optionText(int optionNumber);
    static constexpr int kOptionCount = 12;

    QStringList serverList() const;

    // Each returns nothing or throws CallError; ErrData is replaced only on an
    // expected failure.
    void SendMessage(const QString& Message, int Index, QString& ErrData);
    void SendMessageToAll(const QString& Message);
    void GetServerInfo(int Index, QString& ServerID, QString& ServerName, QString& IP, int& PlayerCount,
                       int& Official, QString& ErrData);
    void BootServer(int Index, QString& ErrData);
    void GetAccountData(const QString& User, QString& Password, QString& Name, QString& Description,
                        QString& UpdateURL, quint8& Official, QString& ErrData);
    void GetBanData(const QString& BanName, QString& IP, QString& UnbanDate, QString& Reason, QString& ErrData);
    int FindServer(const QString& User) const;
    void CreateAccount(const QString& User, const QString& Password, const QString& Name,
                       const QString& Description, const QString& UpdateURL, quint8 Official, QString& ErrData);
    void EditAccount(const QString& User, const QString& Password, const QString& Name, const QString& Description,
                     const QString& UpdateURL, quint8 Official, QString& ErrData);
    void CreateBan(const QString& BanName, const QString& IP, const QString& UnbanDate, const QString& Reason,
                   QString& ErrData);
    void EditBan(const QString& BanName, const QString& IP, const QString& UnbanDate, const QString& Reason,
                 QString& ErrData);
    void DeleteAccount(const QString& User, QString& ErrData);
    void DeleteBan(const QString& BanName, QString& ErrData);
    QStringList ListAccounts() const;
    QStringList ListBans() const;
    // What a caller from the address would meet now; an invalid address is
    // an InvalidArgument error.
    QString CheckAddress(const QString& IP) const;

private:
    void requireSlotIndex(int index) const;
    bool isServerSlot(int index) const;

    Registry& m_registry;
};
