#include "protocol/server_session.h"

#include "database/account_rules.h"
#include "database/account_set.h"
#include "database/presence_table.h"
#include "platform/code_page.h"
#include "protocol/framing.h"
#include "protocol/message_types.h"
#include "protocol/online_servers.h"
#include "protocol/payload_fields.h"
#include "protocol/session_context.h"

namespace {

namespace Reply = MessageType::ToServer;

constexpr qsizetype kMaxPasswordLength = 15;
constexpr qsizetype kMaxServerNameLength = 50;
constexpr qsizetype kMaxDescriptionLength = 255;

QString text(QByteArrayView bytes) { return CodePage::toUnicode(bytes); }
QString ipText(const ClientSlot& s) { return QString::fromLatin1(s.IP); }

void replyThenClose(SessionContext& session, int slot, quint8 type) {
    session.sendFramed(slot, Framing::message(type));
    session.closeClient(slot);
}

void replyThenCloseWhenSent(SessionContext& session, int slot, quint8 type) {
    session.slot(slot).CloseAfterSend = true;
    session.sendFramed(slot, Framing::message(type));
}

void sendAccepted(SessionContext& session, int slot) {
    const ClientSlot& s = session.slot(slot);
    session.sendFramed(slot, Framing::message(Reply::Accepted, s.ServerName, s.Description));
}

// A registration name: 3 to 15 letters, digits or underscores once trimmed.
bool isAcceptableNewName(QByteArrayView name) {
    return name.size() >= 3 && name.size() <= 15 && IsValidAccountText(CodePage::toUnicode(name)) && !name.contains(' ');
}

} // namespace

namespace ServerSession {

void registerAccount(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    RegistryCounters& counters = session.counters();
    if (payload.isEmpty()) {
        counters.count(RegistrationResult::Invalid);
        session.closeClient(slot);
        return;
    }
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p)) {
        counters.count(RegistrationResult::Invalid);
        session.closeClient(slot);
        return;
    }
    const QByteArrayView name = CodePage::trimSpaces(PayloadFields::before(payload, p));
    if (!isAcceptableNewName(name)) {
        counters.count(RegistrationResult::Invalid);
        session.closeClient(slot);
        return;
    }
    if (!session.newAccountsAllowed()) {
        counters.count(RegistrationResult::NotAllowed);
        replyThenClose(session, slot, Reply::Refused);
        return;
    }
    // Past its hourly allowance an address hears what it hears when new
    // accounts are not allowed.
    if (!session.callerLimits().registrationAllowed(session.slot(slot).IP)) {
        session.counters().count(RegistrationResult::RateLimited);
        replyThenClose(session, slot, Reply::Refused);
        return;
    }
    AccountSet& accounts = session.accounts();
    const bool exists = accounts.find(text(name)).has_value();
    if (!session.storeAvailable() || accounts.lastFindFailed()) {
        counters.count(RegistrationResult::StoreFailed);
        session.closeClient(slot);
        return;
    }
    if (exists) {
        counters.count(RegistrationResult::Exists);
        replyThenClose(session, slot, Reply::NameTaken);
        return;
    }

    ClientSlot& s = session.slot(slot);
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
        counters.count(RegistrationResult::StoreFailed);
        session.closeClient(slot);
        return;
    }
    // Another registry sharing the database may log the new account in the
    // moment it exists; whoever claims it first has it.
    if (session.presence().claim(record.User) != PresenceTable::Claim::Granted) {
        counters.count(RegistrationResult::StoreFailed);
        session.closeClient(slot);
        return;
    }

    session.callerLimits().accountCreated(s.IP);
    s.ServerId = name.toByteArray();
    session.logEvent(QStringLiteral("New account ") + text(name) + QStringLiteral(" created from ") + ipText(s));
    s.ServerName = QByteArrayLiteral("<untitled>");
    s.Description.clear();
    s.Official = 0;
    s.UpdateUrl.clear();
    session.onlineServers().add(s.ServerId);
    s.Mode = SessionMode::Server;
    s.AccountBookmark = bookmark;
    counters.count(RegistrationResult::Ok);
    session.clients().listChanged();
    sendAccepted(session, slot);
}

void login(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    auto counted = [&session](LoginResult result) { session.counters().count(LoginKind::Server, result); };
    CallerLimits& limits = session.callerLimits();
    // A locked-out address learns nothing, not even whether the name exists.
    if (limits.loginLockedOut(session.slot(slot).IP)) {
        counted(LoginResult::LockedOut);
        session.closeClient(slot);
        return;
    }
    if (payload.isEmpty()) {
        counted(LoginResult::Malformed);
        session.closeClient(slot);
        return;
    }
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p)) {
        counted(LoginResult::Malformed);
        limits.loginFailed(session.slot(slot).IP);
        replyThenCloseWhenSent(session, slot, Reply::Refused);
        return;
    }
    ClientSlot& s = session.slot(slot);
    s.ServerId = PayloadFields::before(payload, p).toByteArray();
    const std::optional<AccountRecord> account = session.accounts().find(text(s.ServerId));
    // Without the store nobody is told that a name is unknown.
    if (!session.storeAvailable() || (!account && session.accounts().lastFindFailed())) {
        counted(LoginResult::StoreUnavailable);
        session.closeClient(slot);
        return;
    }
    if (!account) {
        counted(LoginResult::Unknown);
        limits.loginFailed(s.IP);
        replyThenCloseWhenSent(session, slot, Reply::Refused);
        return;
    }
    const QByteArray given = CodePage::upper(PayloadFields::after(payload, p));
    if (given != CodePage::upper(CodePage::fromUnicode(account->Password))) {
        counted(LoginResult::WrongPassword);
        limits.loginFailed(s.IP);
        replyThenClose(session, slot, Reply::WrongPassword);
        return;
    }
    // Only sessions that are logged in count: a connection whose login was
    // refused keeps the name it tried until its refusal has been sent, and
    // must not lock that account out meanwhile.
    if (session.clients().findServerByName(s.ServerId, slot) != 0) {
        counted(LoginResult::Duplicate);
        session.closeClient(slot);
        return;
    }
    // The same test across the registries that share the database: online
    // at another one, the second session is closed without reply as well.
    switch (session.presence().claim(account->User)) {
    case PresenceTable::Claim::Granted:
        break;
    case PresenceTable::Claim::HeldElsewhere:
        counted(LoginResult::Duplicate);
        session.closeClient(slot);
        return;
    case PresenceTable::Claim::Unavailable:
        counted(LoginResult::StoreUnavailable);
        session.closeClient(slot);
        return;
    }

    s.ServerName = PayloadFields::oneField(CodePage::fromUnicode(account->Name));
    s.Description = PayloadFields::oneField(CodePage::fromUnicode(account->Description));
    // An Official left empty by another tool counts as not official.
    s.Official = quint8(account->Official.value_or(0));
    s.UpdateUrl = PayloadFields::oneField(CodePage::fromUnicode(account->UpdateURL));
    session.onlineServers().add(s.ServerId);
    s.Mode = SessionMode::Server;
    s.AccountBookmark = account->bookmark;
    counted(LoginResult::Ok);
    session.clients().listChanged();
    sendAccepted(session, slot);
    session.logEvent(eventLine(s, QLatin1StringView(" has connected successfully from ")));
}

QString eventLine(const ClientSlot& s, QLatin1StringView what) {
    QString line;
    line.reserve(s.ServerId.size() + what.size() + s.IP.size());
    CodePage::appendUnicode(line, s.ServerId);
    line.append(what).append(QLatin1StringView(s.IP));
    return line;
}

void reportNameAndDescription(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (p == 0) {
        session.closeClient(slot);
        return;
    }
    const QByteArrayView name = CodePage::trimSpaces(PayloadFields::before(payload, p));
    const QByteArrayView description = CodePage::trimSpaces(PayloadFields::after(payload, p));
    // A further byte 0 would let the server add fields of its choosing to
    // its list entry.
    if (description.size() > kMaxDescriptionLength || name.size() > kMaxServerNameLength ||
        description.contains('\0')) {
        session.closeClient(slot);
        return;
    }
    ClientSlot& s = session.slot(slot);
    // The write names the session's account: when it has been deleted
    // meanwhile nothing is written; the session still shows what the server
    // reported.
    session.accounts().updateNameAndDescription(s.AccountBookmark, text(s.ServerId), text(name), text(description));
    s.ServerName = name.toByteArray();
    s.Description = description.toByteArray();
    session.clients().listChanged();
}

void changePassword(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    if (payload.size() < 3 || payload.size() > kMaxPasswordLength)
        return;
    const ClientSlot& s = session.slot(slot);
    session.accounts().updatePassword(s.AccountBookmark, text(s.ServerId), text(CodePage::upper(payload)));
}

void reportPlayerCount(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    if (payload.size() != 1) {
        session.closeClient(slot);
        return;
    }
    // Servers report on a timer, mostly the count they reported last: only a
    // new one changes the list, so kept list pages stay valid meanwhile.
    const quint8 count = static_cast<quint8>(payload[0]);
    ClientSlot& s = session.slot(slot);
    if (s.PlayerCount == count)
        return;
    s.PlayerCount = count;
    session.clients().listChanged();
}

} // namespace ServerSession
