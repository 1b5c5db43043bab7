#pragma once

#include "client/frame_codec.h"
#include "protocol/message_types.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// What the registry sends to a peer, read (and, for fakes and load checks, built)
// on the peer side.
namespace TavClient::Replies {

// The answer to a registration (type 0) or login (type 1).
enum class LoginResult {
    Accepted,      // type 0: server name, 0, description
    NameExists,    // type 1: registration refused, the user name is taken
    WrongPassword, // type 2
    Refused,       // type 3: unknown user name, malformed login, or no new accounts
    RegistryFull,  // type 0 with the single byte 4, sent to any caller when every slot is taken
    Unexpected,
};

struct LoginReply {
    LoginResult result = LoginResult::Unexpected;
    QByteArray serverName;
    QByteArray description;
};

LoginReply parseLoginReply(const Frame& frame);
const char* loginResultText(LoginResult result);

// One server of a list reply (type 4): five fields, the last runs to the end.
struct ListEntry {
    QByteArray user;
    QByteArray address;
    QByteArray displayName; // "[players] name"
    QByteArray description; // "Official Server: ..." or "Unofficial Server: ..."
    QByteArray updateUrl;

    // -1 when the display name does not start with "[n] ".
    int playerCount() const;
    QByteArray serverName() const;
    bool official() const;
    QByteArray plainDescription() const;
    bool operator==(const ListEntry&) const = default;
};

std::optional<ListEntry> parseListEntry(QByteArrayView payload);
QByteArray listEntryPayload(QByteArrayView user, QByteArrayView address, int playerCount,
                            QByteArrayView serverName, bool official, QByteArrayView description,
                            QByteArrayView updateUrl);

// Type 255 from the registry: the end of a list, a request to query again from
// slot `next`, or a keep-alive probe that wants any message back.
struct Marker {
    enum class Kind { NotAMarker, End, Continue, Probe };
    Kind kind = Kind::NotAMarker;
    quint8 next = 0;
};

Marker parseMarker(const Frame& frame);
QByteArray endMarkerFrame();
QByteArray continueMarkerFrame(quint8 next);
QByteArray probeFrame();

// Operator sessions.
constexpr quint8 kOperatorAccepted = MessageType::ToOperator::Accepted; // empty payload
constexpr quint8 kServerOffline = MessageType::ToOperator::ServerOffline; // payload: the server's user name
constexpr quint8 kText = MessageType::ToServer::Text; // text message (to servers, or the upgrade notice)
static_assert(MessageType::ToServer::Text == MessageType::ToOperator::Text);

bool isOperatorAccepted(const Frame& frame);
std::optional<QByteArray> offlineNotice(const Frame& frame);

} // namespace TavClient::Replies
