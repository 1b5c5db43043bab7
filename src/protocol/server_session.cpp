#include "protocol/server_session.h"

#include "database/account_rules.h"
#include "database/account_set.h"
#include "database/registry_database.h"
#include "host/registry.h"
#include "platform/code_page.h"
#include "protocol/dispatcher.h"
#include "protocol/framing.h"
#include "protocol/payload_fields.h"

namespace {

namespace Reply {
constexpr quint8 Accepted = 0;
constexpr quint8 NameTaken = 1;
constexpr quint8 WrongPassword = 2;
constexpr quint8 Refused = 3; // new accounts not allowed, unknown name, malformed login
} // namespace Reply

constexpr qsizetype kMaxPasswordLength = 15;
constexpr qsizetype kMaxServerNameLength = 50;
constexpr qsizetype kMaxDescriptionLength = 255;

QString text(QByteArrayView bytes) { return CodePage::toUnicode(bytes); }
QString ipText(const ClientSlot& s) { return QString::fromLatin1(s.IP); }

void replyThenClose(Registry& registry, int slot, quint8 type) {
    registry.sendFramed(slot, Framing::message(type));
    registry.closeClient(slot);
}

void replyThenCloseWhenSent(Registry& registry, int slot, quint8 type) {
    registry.slot(slot).CloseAfterSend = true;
    registry.sendFramed(slot, Framing::message(type));
}

void sendAccepted(Registry& registry, int slot) {
    const ClientSlot& s = registry.slot(slot);
    QByteArray message;
    message.reserve(s.ServerName.size() + s.Description.size() + 2);
    message.append(char(Reply::Accepted));
    message.append(s.ServerName);
    message.append('\0');
    message.append(s.Description);
    registry.sendFramed(slot, message);
}

// A registration name: 3 to 15 letters, digits or underscores once trimmed.
bool isAcceptableNewName(QByteArrayView name) {
    return name.size() >= 3 && name.size() <= 15 && IsValidAccountText(CodePage::toUnicode(name)) && !name.contains(' ');
}

} // namespace

namespace ServerSession {

void registerAccount(Registry& registry, int slot, quint8, QByteArrayView payload) {
    if (payload.isEmpty()) {
        registry.closeClient(slot);
        return;
    }
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p)) {
        registry.closeClient(slot);
        return;
    }
    const QByteArrayView name = CodePage::trimSpaces(PayloadFields::before(payload, p));
    if (!isAcceptableNewName(name)) {
        registry.closeClient(slot);
        return;
    }
    if (!registry.newAccountsAllowed()) {
        replyThenClose(registry, slot, Reply::Refused);
        return;
    }
    AccountSet& accounts = registry.database().accounts();
    if (accounts.find(text(name))) {
        replyThenClose(registry, slot, Reply::NameTaken);
        return;
    }

    ClientSlot& s = registry.slot(slot);
    const QByteArray password =
        CodePage::upper(CodePage::trimSpaces(PayloadFields::after(payload, p))).left(kMaxPasswordLength);
    AccountRecord record;
    record.User = text(name);
    record.Password = text(password);
    record.Name = QStringLiteral("<untitled>");
    record.Description = QString();
    record.Official = 0;
    record.UpdateURL = QString();
    // The account is stored (and committed) before anything is announced: a
    // server is never told of an account that does not exist.
    const qint64 bookmark = accounts.add(record);
    if (bookmark == 0) {
        registry.closeClient(slot);
        return;
    }

    s.ServerId = name.toByteArray();
    registry.logEvent(QStringLiteral("New account ") + text(name) + QStringLiteral(" created from ") + ipText(s));
    s.ServerName = QByteArrayLiteral("<untitled>");
    s.Description.clear();
    s.Official = 0;
    s.UpdateUrl.clear();
    registry.onlineServers().add(s.ServerId);
    s.Mode = SessionMode::Server;
    s.AccountBookmark = bookmark;
    sendAccepted(registry, slot);
}

void login(Registry& registry, int slot, quint8, QByteArrayView payload) {
    if (payload.isEmpty()) {
        registry.closeClient(slot);
        return;
    }
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p)) {
        replyThenCloseWhenSent(registry, slot, Reply::Refused);
        return;
    }
    ClientSlot& s = registry.slot(slot);
    s.ServerId = PayloadFields::before(payload, p).toByteArray();
    const std::optional<AccountRecord> account = registry.database().accounts().find(text(s.ServerId));
    if (!account) {
        replyThenCloseWhenSent(registry, slot, Reply::Refused);
        return;
    }
    const QByteArray given = CodePage::upper(PayloadFields::after(payload, p));
    if (given != CodePage::upper(CodePage::fromUnicode(account->Password))) {
        replyThenClose(registry, slot, Reply::WrongPassword);
        return;
    }
    // Only sessions that are logged in count: a connection whose login was
    // refused keeps the name it tried until its refusal has been sent, and
    // must not lock that account out meanwhile.
    const QByteArray wanted = CodePage::upper(s.ServerId);
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& other = registry.slot(i);
        if (i != slot && other.Mode == SessionMode::Server && other.ServerId.size() == wanted.size() &&
            CodePage::upper(other.ServerId) == wanted) {
            registry.closeClient(slot);
            return;
        }
    }

    s.ServerName = CodePage::fromUnicode(account->Name);
    s.Description = CodePage::fromUnicode(account->Description);
    // An Official left empty by another tool counts as not official.
    s.Official = quint8(account->Official.value_or(0));
    s.UpdateUrl = CodePage::fromUnicode(account->UpdateURL);
    registry.onlineServers().add(s.ServerId);
    s.Mode = SessionMode::Server;
    s.AccountBookmark = account->bookmark;
    sendAccepted(registry, slot);
    registry.logEvent(text(s.ServerId) + QStringLiteral(" has connected successfully from ") + ipText(s));
}

void reportNameAndDescription(Registry& registry, int slot, quint8, QByteArrayView payload) {
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (p == 0) {
        registry.closeClient(slot);
        return;
    }
    const QByteArrayView name = CodePage::trimSpaces(PayloadFields::before(payload, p));
    const QByteArrayView description = CodePage::trimSpaces(PayloadFields::after(payload, p));
    if (description.size() > kMaxDescriptionLength || name.size() > kMaxServerNameLength) {
        registry.closeClient(slot);
        return;
    }
    ClientSlot& s = registry.slot(slot);
    // The write names the session's account: when it has been deleted
    // meanwhile nothing is written; the session still shows what the server
    // reported.
    registry.database().accounts().updateNameAndDescription(s.AccountBookmark, text(s.ServerId), text(name),
                                                            text(description));
    s.ServerName = name.toByteArray();
    s.Description = description.toByteArray();
}

void changePassword(Registry& registry, int slot, quint8, QByteArrayView payload) {
    if (payload.size() < 3 || payload.size() > kMaxPasswordLength)
        return;
    const ClientSlot& s = registry.slot(slot);
    registry.database().accounts().updatePassword(s.AccountBookmark, text(s.ServerId), text(CodePage::upper(payload)));
}

void reportPlayerCount(Registry& registry, int slot, quint8, QByteArrayView payload) {
    if (payload.size() != 1) {
        registry.closeClient(slot);
        return;
    }
    registry.slot(slot).PlayerCount = static_cast<quint8>(payload[0]);
}

void install(Dispatcher& dispatcher) {
    dispatcher.install(SessionMode::Connected, 0, &registerAccount);
    dispatcher.install(SessionMode::Connected, 1, &login);
    dispatcher.install(SessionMode::Server, 5, &reportNameAndDescription);
    dispatcher.install(SessionMode::Server, 6, &changePassword);
    dispatcher.install(SessionMode::Server, 7, &reportPlayerCount);
}

} // namespace ServerSession
