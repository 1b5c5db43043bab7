#include "admin/control_operations.h"

#include "database/account_set.h"
#include "database/ban_set.h"
#include "database/registry_database.h"
#include "host/address_verdict.h"
#include "host/registry.h"
#include "platform/code_page.h"
#include "protocol/framing.h"
#include "protocol/server_messages.h"

#include <QDate>
#include <QDateTime>

namespace {

const char* const kClientNotFound = "Client index not found or not in server mode";

const char* const kErrDesc[] = {
    "",
    kClientNotFound,
    kClientNotFound,
    kClientNotFound,
    "Account not found in database",
    "Ban name not found in database",
    "The username selected already exists",
    "The username selected doesn't exist",
    "The ban name specified already exists",
    "A ban name and IP must be entered",
    "The ban name specified doesn't exists",
    "An IP must be entered",
    "The account specified does not exist",
    "The ban specified does not exist",
};

const char* const kOptions[] = {
    "",
    "Send Message - for sending messages to servers connected to the registry",
    "Send Message (All Servers) - for sending a message to all servers connected to the registry",
    "Add Account - for creating a new server account",
    "Edit Account - for editing an existing server account",
    "Delete Account - for deleting an existing server account",
    "View Accounts - for viewing existing accounts",
    "Add Ban - for creating an IP ban",
    "Edit Ban - for editing an existing IP ban",
    "Delete Ban - for deleting an existing IP ban",
    "View Bans - for viewing existing IP bans",
    "Boot Server - for booting servers connected to the registry",
    "Shutdown Registry - for exiting from the registry",
};

void fail(QString& errData, int number, const char* method) {
    errData = ControlOperations::failureText(number, QLatin1String(method));
}

[[noreturn]] void databaseError(const QString& message) {
    throw ControlOperations::CallError{ControlOperations::CallError::Kind::Database, message};
}

// An ISO-8601 date, or no date for the empty text.
std::optional<QDate> parseDate(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid() || text.size() != 10)
        throw ControlOperations::CallError{ControlOperations::CallError::Kind::InvalidArgument,
                                           QStringLiteral("'%1' is not a date of the form YYYY-MM-DD").arg(text)};
    return date;
}

// A text message to a server is sent whole or not at all.
QByteArray messageText(const QString& text) {
    QByteArray bytes = CodePage::fromUnicode(text);
    if (!Framing::fitsOneFrame(bytes))
        throw ControlOperations::CallError{
            ControlOperations::CallError::Kind::InvalidArgument,
            QStringLiteral("The message is %1 characters long; a message to a server holds at most %2")
                .arg(bytes.size())
                .arg(Framing::kMaxSendPayloadLength)};
    return bytes;
}

} // namespace

QString ControlOperations::failureText(int number, const QString& method) {
    const QString desc = (number >= 1 && number <= 13) ? QLatin1String(kErrDesc[number]) : QString();
    return QStringLiteral("ErrNum=") + QString::number(number) + QStringLiteral("\r\nErrDesc=") + desc +
           QStringLiteral("\r\nName=") + method;
}

QString ControlOperations::optionText(int optionNumber) {
    if (optionNumber < 1 || optionNumber > kOptionCount)
        return QString();
    return QLatin1String(kOptions[optionNumber]);
}

QStringList ControlOperations::serverList() const { return m_registry.onlineServers().texts(); }

void ControlOperations::requireSlotIndex(int index) const {
    if (!SlotTable::isValidIndex(index))
        throw CallError{CallError::Kind::SubscriptOutOfRange,
                        QStringLiteral("Subscript out of range: slot %1 is not between 1 and 256").arg(index)};
}

bool ControlOperations::isServerSlot(int index) const {
    const ClientSlot& s = m_registry.clients()[index];
    return SlotTable::isRegular(index) && s.InUse && s.Mode == SessionMode::Server;
}

void ControlOperations::SendMessage(const QString& Message, int Index, QString& ErrData) {
    requireSlotIndex(Index);
    const QByteArray text = messageText(Message);
    if (!isServerSlot(Index)) {
        fail(ErrData, 1, "SendMessage");
        return;
    }
    ServerMessages::sendText(m_registry, Index, text);
}

void ControlOperations::SendMessageToAll(const QString& Message) {
    ServerMessages::sendTextToAllServers(m_registry, messageText(Message));
    m_registry.logEvent(QStringLiteral("Server Message: ") + Message);
}

void ControlOperations::GetServerInfo(int Index, QString& ServerID, QString& ServerName, QString& IP,
                                      int& PlayerCount, int& Official, QString& ErrData) {
    requireSlotIndex(Index);
    if (!isServerSlot(Index)) {
        fail(ErrData, 3, "GetServerInfo");
        return;
    }
    const ClientSlot& s = m_registry.clients()[Index];
    ServerID = CodePage::toUnicode(s.ServerId);
    ServerName = CodePage::toUnicode(s.ServerName);
    IP = QString::fromLatin1(s.IP);
    PlayerCount = s.PlayerCount;
    Official = s.Official;
}

void ControlOperations::BootServer(int Index, QString& ErrData) {
    requireSlotIndex(Index);
    if (!isServerSlot(Index)) {
        fail(ErrData, 2, "BootServer");
        return;
    }
    m_registry.closeClient(Index, CloseReason::Administrator);
}

void ControlOperations::GetAccountData(const QString& User, QString& Password, QString& Name, QString& Description,
                                       QString& UpdateURL, quint8& Official, QString& ErrData) {
    if (User.isEmpty()) {
        fail(ErrData, 4, "GetAccountData");
        return;
    }
    const std::optional<AccountRecord> account = m_registry.database().accounts().find(User);
    if (!account) {
        fail(ErrData, 4, "GetAccountData");
        return;
    }
    if (!account->Official)
        databaseError(QStringLiteral("Invalid use of Null: the account's Official field is empty"));
    Password = account->Password;
    Name = account->Name;
    Description = account->Description;
    UpdateURL = account->UpdateURL;
    Official = quint8(*account->Official);
}

void ControlOperations::GetBanData(const QString& BanName, QString& IP, QString& UnbanDate, QString& Reason,
                                   QString& ErrData) {
    BanSet& bans = m_registry.database().bans();
    if (bans.isEmpty())
        return;
    if (BanName.isEmpty()) {
        fail(ErrData, 5, "GetBanData");
        return;
    }
    const std::optional<BanRecord> ban = bans.findByName(BanName);
    if (!ban) {
        fail(ErrData, 5, "GetBanData");
        return;
    }
    IP = ban->IP;
    UnbanDate = ban->UnbanDate ? ban->UnbanDate->toString(Qt::ISODate) : QString();
    Reason = ban->Reason.value_or(QString());
}

int ControlOperations::FindServer(const QString& User) const {
    return m_registry.findServerByName(CodePage::fromUnicode(User));
}

void ControlOperations::CreateAccount(const QString& User, const QString& Password, const QString& Name,
                                      const QString& Description, const QString& UpdateURL, quint8 Official,
                                      QString& ErrData) {
    AccountSet& accounts = m_registry.database().accounts();
    if (accounts.count() > 0 && accounts.find(User)) {
        fail(ErrData, 6, "CreateAccount");
        return;
    }
    AccountRecord record;
    record.User = User;
    record.Password = Password;
    record.Name = Name;
    record.Description = Description;
    record.UpdateURL = UpdateURL;
    record.Official = Official;
    QString error;
    if (accounts.add(record, &error) == 0)
        databaseError(error);
}

void ControlOperations::EditAccount(const QString& User, const QString& Password, const QString& Name,
                                    const QString& Description, const QString& UpdateURL, quint8 Official,
                                    QString& ErrData) {
    AccountSet& accounts = m_registry.database().accounts();
    std::optional<AccountRecord> record = accounts.count() > 0 ? accounts.find(User) : std::nullopt;
    if (!record) {
        fail(ErrData, 7, "EditAccount");
        return;
    }
    record->Password = Password;
    record->Name = Name;
    record->Description = Description;
    record->UpdateURL = UpdateURL;
    record->Official = Official;
    QString error;
    if (!accounts.update(*record, &error))
        databaseError(error);
}

void ControlOperations::CreateBan(const QString& BanName, const QString& IP, const QString& UnbanDate,
                                  const QString& Reason, QString& ErrData) {
    const std::optional<QDate> date = parseDate(UnbanDate);
    if (BanName.isEmpty() || IP.isEmpty()) {
        fail(ErrData, 9, "CreateBan");
        return;
    }
    BanSet& bans = m_registry.database().bans();
    if (!bans.isEmpty() && bans.findByName(BanName)) {
        fail(ErrData, 8, "CreateBan");
        return;
    }
    const std::optional<int> number = bans.nextFreeNumber();
    if (!number)
        databaseError(QStringLiteral("The ban list is full."));
    BanRecord ban;
    ban.Number = *number;
    ban.Name = BanName;
    ban.IP = IP;
    ban.UnbanDate = date;
    if (!Reason.isEmpty())
        ban.Reason = Reason;
    QString error;
    if (!bans.add(ban, &error))
        databaseError(error);
}

void ControlOperations::EditBan(const QString& BanName, const QString& IP, const QString& UnbanDate,
                                const QString& Reason, QString& ErrData) {
    const std::optional<QDate> date = parseDate(UnbanDate);
    if (IP.isEmpty()) {
        fail(ErrData, 11, "EditBan");
        return;
    }
    BanSet& bans = m_registry.database().bans();
    std::optional<BanRecord> ban = bans.findByName(BanName);
    if (!ban) {
        fail(ErrData, 10, "EditBan");
        return;
    }
    ban->IP = IP;
    ban->UnbanDate = date;
    ban->Reason = Reason.isEmpty() ? std::nullopt : std::optional<QString>(Reason);
    QString error;
    if (!bans.update(*ban, &error))
        databaseError(error);
}

void ControlOperations::DeleteAccount(const QString& User, QString& ErrData) {
    AccountSet& accounts = m_registry.database().accounts();
    if (accounts.count() == 0)
        return;
    // An online server with this account stays connected until it leaves.
    if (!accounts.remove(User))
        fail(ErrData, 12, "DeleteAccount");
}

void ControlOperations::DeleteBan(const QString& BanName, QString& ErrData) {
    BanSet& bans = m_registry.database().bans();
    if (bans.isEmpty())
        return;
    const std::optional<BanRecord> ban = bans.findByName(BanName);
    if (!ban || !bans.remove(ban->Number))
        fail(ErrData, 13, "DeleteBan");
}

QStringList ControlOperations::ListAccounts() const { return m_registry.database().accounts().names(); }

QStringList ControlOperations::ListBans() const {
    QStringList names;
    for (const BanRecord& ban : m_registry.database().bans().list())
        names.append(ban.Name);
    return names;
}

QString ControlOperations::CheckAddress(const QString& IP) const {
    const std::optional<QString> verdict =
        addressVerdict(m_registry, IP, m_registry.today(), QDateTime::currentDateTimeUtc());
    if (!verdict)
        throw CallError{CallError::Kind::InvalidArgument,
                        QStringLiteral("'%1' is not an IPv4 or IPv6 address").arg(IP.left(64))};
    return *verdict;
}
