#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Every message type of the registry's protocol, in both directions. The
// meaning of a type code depends on who sends it and, for peers, on the
// session mode of the sender's connection, so each direction and mode has a
// namespace of its own. The registry and the peer-side client library both
// use these names; nothing else writes a type code or a fixed frame.
namespace MessageType {

// Session modes of a connection: what its messages mean.
namespace Mode {
constexpr quint8 Connected = 0; // connected, not logged in
constexpr quint8 Operator = 1;
constexpr quint8 Server = 2;
constexpr int Count = 3;
} // namespace Mode

// Every mode: an empty payload keeps the connection alive.
constexpr quint8 KeepAlive = 255;

// --- from a peer that has not logged in (mode 0) ---
namespace FromConnected {
constexpr quint8 Register = 0;      // user name, 0, password
constexpr quint8 Login = 1;         // user name, 0, password
constexpr quint8 OperatorLogin = 2; // first access code, 0, second access code
constexpr quint8 ListQuery = 3;     // one byte: the first slot to list
} // namespace FromConnected

// --- from a logged-in game server (mode 2) ---
namespace FromServer {
constexpr quint8 NameDescription = 5; // server name, 0, description
constexpr quint8 PasswordChange = 6;  // new password
constexpr quint8 PlayerCount = 7;     // one byte
} // namespace FromServer

// --- from a logged-in operator (mode 1) ---
namespace FromOperator {
constexpr quint8 Disconnect = 5;        // server user name
constexpr quint8 MessageServer = 6;     // server user name, 0, text
constexpr quint8 Broadcast = 7;         // text
constexpr quint8 Ignored8 = 8;          // accepted and ignored
constexpr quint8 AddGod = 9;            // server user name, 0, player user name
constexpr quint8 MarkOfficial = 10;     // server user name, 0, any text
constexpr quint8 MarkUnofficial = 11;   // server user name, 0, any text
constexpr quint8 DenyNewAccounts = 12;
constexpr quint8 AllowNewAccounts = 13;
constexpr quint8 ClearOfficial = 14;    // of every account
constexpr quint8 DeleteAllAccounts = 15;
constexpr quint8 SessionFlag = 16;
constexpr quint8 Ignored17 = 17;
constexpr quint8 Ignored27 = 27;
constexpr quint8 OperatorVersion = 28;  // version number as decimal text
} // namespace FromOperator

// --- from the registry to a game server (or a server candidate) ---
namespace ToServer {
constexpr quint8 Accepted = 0;      // server name, 0, description
constexpr quint8 NameTaken = 1;     // registration refused: the user name exists
constexpr quint8 WrongPassword = 2;
constexpr quint8 Refused = 3;       // no new accounts, unknown user name or malformed login
constexpr quint8 Text = 4;          // a message from an operator or the administrator
constexpr quint8 AddGod = 5;        // player user name
// An operator's "Add God" puts this byte before the upper-cased player name.
constexpr char OperatorAddGodMarker = 10;
} // namespace ToServer

// --- from the registry to an operator tool ---
namespace ToOperator {
constexpr quint8 Text = 4;          // the upgrade notice of a failed version check
constexpr quint8 Accepted = 5;      // empty
constexpr quint8 ServerOffline = 6; // the server's user name
} // namespace ToOperator

// --- from the registry to a game client asking for the list ---
namespace ToClient {
constexpr quint8 ListEntry = 4;   // user name, 0, address, 0, "[n] name", 0, description, 0, update URL
constexpr quint8 ListMarker = 255;
constexpr char ListEnd = 4;       // marker payload: the list reached the last slot
constexpr char ListContinue = 3;  // marker payload: then one byte, the slot to query from
} // namespace ToClient

// --- from the registry to any peer ---
// Type 0 with this one byte as payload: every slot is taken.
constexpr char RegistryFullPayload = 4;
// Type 255 with this one byte as payload: 30 seconds of silence, answer with anything.
constexpr char ProbePayload = char(0xFF);

} // namespace MessageType

// The frames the registry sends whole, byte for byte. Each is a view of
// static bytes: sending one costs no allocation.
namespace FixedFrame {

namespace Bytes {
inline constexpr char FullNotice[] = {0x00, 0x02, 0x00, MessageType::RegistryFullPayload};
inline constexpr char Probe[] = {0x00, 0x02, char(MessageType::KeepAlive), MessageType::ProbePayload};
inline constexpr char ListEnd[] = {0x00, 0x02, char(MessageType::ToClient::ListMarker), MessageType::ToClient::ListEnd};
// The continue marker ends with one more byte, the slot to query from.
inline constexpr char ListContinuePrefix[] = {0x00, 0x03, char(MessageType::ToClient::ListMarker),
                                              MessageType::ToClient::ListContinue};
} // namespace Bytes

inline QByteArray fullNotice() { return QByteArray::fromRawData(Bytes::FullNotice, sizeof Bytes::FullNotice); }
inline QByteArray probe() { return QByteArray::fromRawData(Bytes::Probe, sizeof Bytes::Probe); }
inline QByteArray listEnd() { return QByteArray::fromRawData(Bytes::ListEnd, sizeof Bytes::ListEnd); }
inline QByteArray listContinue(quint8 next) {
    QByteArray out(Bytes::ListContinuePrefix, sizeof Bytes::ListContinuePrefix);
    out.append(char(next));
    return out;
}

} // namespace FixedFrame
