#pragma once

#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>

class SessionContext;
struct ClientSlot;

// Game servers: registration and login on a fresh connection, then their
// reports of name and description, password and player count.
namespace ServerSession {
void registerAccount(SessionContext& session, int slot, quint8 type, QByteArrayView payload); // mode 0, type 0
void login(SessionContext& session, int slot, quint8 type, QByteArrayView payload);           // mode 0, type 1
void reportNameAndDescription(SessionContext& session, int slot, quint8 type, QByteArrayView payload); // mode 2, type 5
void changePassword(SessionContext& session, int slot, quint8 type, QByteArrayView payload);  // mode 2, type 6
void reportPlayerCount(SessionContext& session, int slot, quint8 type, QByteArrayView payload); // mode 2, type 7
// "<user name><what><address>": the events of a server's session (its login,
// its close), made in one piece.
QString eventLine(const ClientSlot& s, QLatin1StringView what);
} // namespace ServerSession
