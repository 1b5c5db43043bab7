#include "protocol/operator_session.h"

#include "database/account_set.h"
#include "platform/code_page.h"
#include "protocol/framing.h"
#include "protocol/message_types.h"
#include "protocol/payload_fields.h"
#include "protocol/server_messages.h"
#include "protocol/session_context.h"

#include <QRegularExpression>

namespace {

const QByteArray kFirstAccessCode = QByteArrayLiteral("QWZRTPLKMX");
const QByteArray kSecondAccessCode = QByteArrayLiteral("ZKRTQWPMNBVCXLKJHGFD");
const QByteArray kUpgradeText = QByteArrayLiteral("You must upgrade to v12.01 or higher.");

// The named server of a "name, 0, value" payload of at least `minSize` bytes,
// or 0 (malformed payloads are ignored and keep the session).
int namedServer(SessionContext& session, QByteArrayView payload, qsizetype minSize, QByteArrayView* value) {
    if (payload.size() < minSize)
        return 0;
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p))
        return 0;
    *value = PayloadFields::after(payload, p);
    return session.findServerByName(CodePage::upper(PayloadFields::before(payload, p)));
}

void setOfficial(SessionContext& session, QByteArrayView payload, quint8 official) {
    QByteArrayView value;
    const int target = namedServer(session, payload, 3, &value);
    if (target != 0) {
        session.slot(target).Official = official;
        session.clients().listChanged();
    }
}

} // namespace

namespace OperatorSession {

bool versionMatches(QByteArrayView payload) {
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    const QString text = QString::fromLatin1(payload);
    if (!decimal.match(text).hasMatch())
        return false;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value == double(RequiredOperatorVersion);
}

void login(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    CallerLimits& limits = session.callerLimits();
    const QByteArray ip = session.slot(slot).IP;
    if (limits.loginLockedOut(ip)) {
        session.counters().count(LoginKind::Operator, LoginResult::LockedOut);
        session.closeClient(slot);
        return;
    }
    // Refused like wrong codes, and counted as a failure like them: the
    // caller cannot tell which of the two it met.
    if (!limits.operatorLoginAllowed(ip)) {
        session.counters().count(LoginKind::Operator, LoginResult::NotAllowedFrom);
        limits.loginFailed(ip);
        session.closeClient(slot);
        return;
    }
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p)) {
        session.counters().count(LoginKind::Operator, LoginResult::Malformed);
        limits.loginFailed(ip);
        session.closeClient(slot);
        return;
    }
    if (CodePage::upper(PayloadFields::before(payload, p)) != kFirstAccessCode ||
        CodePage::upper(PayloadFields::after(payload, p)) != kSecondAccessCode) {
        session.counters().count(LoginKind::Operator, LoginResult::WrongPassword);
        limits.loginFailed(ip);
        session.closeClient(slot);
        return;
    }
    session.counters().count(LoginKind::Operator, LoginResult::Ok);
    session.sendFramed(slot, Framing::message(MessageType::ToOperator::Accepted));
    ClientSlot& s = session.slot(slot);
    s.Mode = SessionMode::Operator;
    session.logEvent(QStringLiteral("Operator connection established from ") + QString::fromLatin1(s.IP));
}

void disconnectServer(SessionContext& session, int, quint8, QByteArrayView payload) {
    const int target = session.findServerByName(payload);
    if (target != 0)
        session.closeClient(target, CloseReason::Operator);
}

void messageServer(SessionContext& session, int, quint8, QByteArrayView payload) {
    QByteArrayView value;
    const int target = namedServer(session, payload, 3, &value);
    if (target != 0)
        ServerMessages::sendText(session, target, CodePage::upper(value));
}

void broadcast(SessionContext& session, int, quint8, QByteArrayView payload) {
    if (payload.isEmpty())
        return;
    session.logEvent(QStringLiteral("Operator: ") + CodePage::toUnicode(payload));
    ServerMessages::sendTextToAllServers(session, payload);
}

void ignore(SessionContext&, int, quint8, QByteArrayView) {}

void addGod(SessionContext& session, int, quint8, QByteArrayView payload) {
    QByteArrayView value;
    const int target = namedServer(session, payload, 4, &value);
    if (target == 0)
        return;
    QByteArray body;
    body.append(MessageType::ToServer::OperatorAddGodMarker);
    body.append(CodePage::upper(value));
    ServerMessages::sendAddGod(session, target, body);
}

void markOfficial(SessionContext& session, int, quint8, QByteArrayView payload) { setOfficial(session, payload, 1); }

void markUnofficial(SessionContext& session, int, quint8, QByteArrayView payload) {
    setOfficial(session, payload, 0);
}

void denyNewAccounts(SessionContext& session, int, quint8, QByteArrayView) { session.setNewAccountsAllowed(false); }

void allowNewAccounts(SessionContext& session, int, quint8, QByteArrayView) { session.setNewAccountsAllowed(true); }

void clearOfficial(SessionContext& session, int, quint8, QByteArrayView) { session.accounts().clearOfficialOfAll(); }

void deleteAllAccounts(SessionContext& session, int, quint8, QByteArrayView) { session.accounts().removeAll(); }

void setSessionFlag(SessionContext& session, int slot, quint8, QByteArrayView) {
    session.slot(slot).SessionFlag = true;
}

void checkVersion(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    if (versionMatches(payload)) {
        session.slot(slot).SessionFlag = true;
        return;
    }
    session.sendFramed(slot, Framing::message(MessageType::ToOperator::Text, kUpgradeText));
    session.closeClient(slot);
}

} // namespace OperatorSession
