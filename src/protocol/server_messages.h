#pragma once

#include <QByteArrayView>

class SessionContext;

// What operators, the automation interface, the message dialog and the server
// pop-up menu send to game servers. Texts are wire bytes (Windows-1252).
namespace ServerMessages {

// A text message (type 4) to the server in `slot`.
void sendText(SessionContext& session, int slot, QByteArrayView text);
// The same text message to every logged-in server, in slot order 1..255.
void sendTextToAllServers(SessionContext& session, QByteArrayView text);
// "Add God" (type 5) with `payload` as given: the main window sends the name
// as typed, an operator's command marks it first (MessageType::ToServer::OperatorAddGodMarker).
void sendAddGod(SessionContext& session, int slot, QByteArrayView payload);

} // namespace ServerMessages
