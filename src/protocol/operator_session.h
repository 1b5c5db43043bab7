#pragma once

#include <QByteArrayView>

class SessionContext;

// Operator tools: the login with the two access codes (mode 0, type 2) and the
// commands of a logged-in operator (mode 1), one handler per command.
namespace OperatorSession {

constexpr int RequiredOperatorVersion = 1201;

void login(SessionContext& session, int slot, quint8 type, QByteArrayView payload);

void disconnectServer(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void messageServer(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void broadcast(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void ignore(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void addGod(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void markOfficial(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void markUnofficial(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void denyNewAccounts(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void allowNewAccounts(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void clearOfficial(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void deleteAllAccounts(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void setSessionFlag(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
void checkVersion(SessionContext& session, int slot, quint8 type, QByteArrayView payload);

// True when the payload is a decimal number equal to the required version.
bool versionMatches(QByteArrayView payload);

} // namespace OperatorSession
