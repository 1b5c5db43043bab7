#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Every message a peer sends to the registry, as a complete frame.
// Texts are Windows-1252 bytes (see wire_text.h); fields are joined by the byte 0.
namespace TavClient::Messages {

namespace Type {
// Before logging in (any peer).
constexpr quint8 Register = 0;
constexpr quint8 Login = 1;
constexpr quint8 OperatorLogin = 2;
constexpr quint8 ListQuery = 3;
constexpr quint8 KeepAlive = 255;
// A logged-in game server.
constexpr quint8 NameDescription = 5;
constexpr quint8 PasswordChange = 6;
constexpr quint8 PlayerCount = 7;
// A logged-in operator.
constexpr quint8 Disconnect = 5;
constexpr quint8 MessageServer = 6;
constexpr quint8 Broadcast = 7;
constexpr quint8 AddGod = 9;
constexpr quint8 MarkOfficial = 10;
constexpr quint8 MarkUnofficial = 11;
constexpr quint8 DenyNewAccounts = 12;
constexpr quint8 AllowNewAccounts = 13;
constexpr quint8 ClearOfficial = 14;
constexpr quint8 DeleteAllAccounts = 15;
constexpr quint8 SessionFlag = 16;
constexpr quint8 OperatorVersion = 28;
} // namespace Type

// Fields joined by the byte 0.
QByteArray joinFields(QByteArrayView first, QByteArrayView second);

QByteArray registerServer(QByteArrayView user, QByteArrayView password);
QByteArray login(QByteArrayView user, QByteArrayView password);
QByteArray operatorLogin(QByteArrayView firstCode, QByteArrayView secondCode);
QByteArray listQuery(quint8 firstSlot);
QByteArray keepAlive();

QByteArray nameDescription(QByteArrayView name, QByteArrayView description);
QByteArray passwordChange(QByteArrayView password);
QByteArray playerCount(quint8 count);

QByteArray disconnectServer(QByteArrayView server);
QByteArray messageServer(QByteArrayView server, QByteArrayView text);
QByteArray broadcast(QByteArrayView text);
QByteArray addGod(QByteArrayView server, QByteArrayView player);
// The registry wants a non-empty text after the server's name; it is not read.
QByteArray markOfficial(QByteArrayView server);
QByteArray markUnofficial(QByteArrayView server);
QByteArray denyNewAccounts();
QByteArray allowNewAccounts();
QByteArray clearOfficial();
QByteArray deleteAllAccounts();
QByteArray sessionFlag();
QByteArray operatorVersion(int version);

} // namespace TavClient::Messages
