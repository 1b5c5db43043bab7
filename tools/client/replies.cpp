#include "client/replies.h"

namespace TavClient::Replies {

namespace {

namespace ToServer = MessageType::ToServer;
namespace ToClient = MessageType::ToClient;

constexpr QByteArrayView kOfficialPrefix = "Official Server: ";
constexpr QByteArrayView kUnofficialPrefix = "Unofficial Server: ";

} // namespace

LoginReply parseLoginReply(const Frame& frame) {
    LoginReply reply;
    switch (frame.type) {
    case ToServer::Accepted: {
        const qsizetype zero = frame.payload.indexOf('\0');
        if (zero < 0) {
            if (frame.payload == QByteArrayView(&MessageType::RegistryFullPayload, 1))
                reply.result = LoginResult::RegistryFull;
            return reply;
        }
        reply.result = LoginResult::Accepted;
        reply.serverName = frame.payload.left(zero);
        reply.description = frame.payload.mid(zero + 1);
        return reply;
    }
    case ToServer::NameTaken:
        reply.result = LoginResult::NameExists;
        return reply;
    case ToServer::WrongPassword:
        reply.result = LoginResult::WrongPassword;
        return reply;
    case ToServer::Refused:
        reply.result = LoginResult::Refused;
        return reply;
    default:
        return reply;
    }
}

const char* loginResultText(LoginResult result) {
    switch (result) {
    case LoginResult::Accepted:
        return "accepted";
    case LoginResult::NameExists:
        return "the user name is already taken";
    case LoginResult::WrongPassword:
        return "wrong password";
    case LoginResult::Refused:
        return "refused (unknown user name, or new accounts are not allowed)";
    case LoginResult::RegistryFull:
        return "the registry is full";
    case LoginResult::Unexpected:
        break;
    }
    return "unexpected reply";
}

int ListEntry::playerCount() const {
    if (!displayName.startsWith('['))
        return -1;
    const qsizetype close = displayName.indexOf("] ");
    if (close < 2 || close > 4)
        return -1;
    bool ok = false;
    const int n = displayName.mid(1, close - 1).toInt(&ok);
    return ok && n >= 0 && n <= 255 ? n : -1;
}

QByteArray ListEntry::serverName() const {
    if (playerCount() < 0)
        return displayName;
    return displayName.mid(displayName.indexOf("] ") + 2);
}

bool ListEntry::official() const { return description.startsWith(kOfficialPrefix); }

QByteArray ListEntry::plainDescription() const {
    if (description.startsWith(kOfficialPrefix))
        return description.mid(kOfficialPrefix.size());
    if (description.startsWith(kUnofficialPrefix))
        return description.mid(kUnofficialPrefix.size());
    return description;
}

std::optional<ListEntry> parseListEntry(QByteArrayView payload) {
    QByteArray* fields[4];
    ListEntry entry;
    fields[0] = &entry.user;
    fields[1] = &entry.address;
    fields[2] = &entry.displayName;
    fields[3] = &entry.description;
    qsizetype from = 0;
    for (QByteArray* field : fields) {
        const qsizetype zero = payload.indexOf('\0', from);
        if (zero < 0)
            return std::nullopt;
        *field = payload.sliced(from, zero - from).toByteArray();
        from = zero + 1;
    }
    entry.updateUrl = payload.sliced(from).toByteArray();
    return entry;
}

QByteArray listEntryPayload(QByteArrayView user, QByteArrayView address, int playerCount,
                            QByteArrayView serverName, bool official, QByteArrayView description,
                            QByteArrayView updateUrl) {
    QByteArray out;
    out.reserve(user.size() + address.size() + serverName.size() + description.size() + updateUrl.size() + 32);
    out.append(user).append('\0').append(address).append('\0');
    out.append('[').append(QByteArray::number(playerCount)).append("] ").append(serverName).append('\0');
    out.append(official ? kOfficialPrefix : kUnofficialPrefix).append(description).append('\0');
    out.append(updateUrl);
    return out;
}

Marker parseMarker(const Frame& frame) {
    Marker marker;
    // The probe and the list markers share the type.
    static_assert(ToClient::ListMarker == MessageType::KeepAlive);
    if (frame.type != ToClient::ListMarker)
        return marker;
    if (frame.payload.size() == 1 && frame.payload[0] == ToClient::ListEnd)
        marker.kind = Marker::Kind::End;
    else if (frame.payload.size() == 1 && frame.payload[0] == MessageType::ProbePayload)
        marker.kind = Marker::Kind::Probe;
    else if (frame.payload.size() == 2 && frame.payload[0] == ToClient::ListContinue) {
        marker.kind = Marker::Kind::Continue;
        marker.next = quint8(frame.payload[1]);
    }
    return marker;
}

QByteArray endMarkerFrame() { return FixedFrame::listEnd(); }
QByteArray continueMarkerFrame(quint8 next) { return FixedFrame::listContinue(next); }
QByteArray probeFrame() { return FixedFrame::probe(); }

bool isOperatorAccepted(const Frame& frame) { return frame.type == kOperatorAccepted && frame.payload.isEmpty(); }

std::optional<QByteArray> offlineNotice(const Frame& frame) {
    if (frame.type != kServerOffline)
        return std::nullopt;
    return frame.payload;
}

} // namespace TavClient::Replies
