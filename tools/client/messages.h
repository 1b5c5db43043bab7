#pragma once

#include "protocol/message_types.h"

#include <QByteArray>
#include <QByteArrayView>

// Every message a peer sends to the registry, as a complete frame. The type
// codes are the registry's own (protocol/message_types.h).
// Texts are Windows-1252 bytes (see wire_text.h); fields are joined by the byte 0.
namespace TavClient::Messages {

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
