#include "client/messages.h"

#include "client/frame_codec.h"

namespace TavClient::Messages {

QByteArray joinFields(QByteArrayView first, QByteArrayView second) {
    QByteArray out;
    out.reserve(first.size() + 1 + second.size());
    out.append(first);
    out.append('\0');
    out.append(second);
    return out;
}

QByteArray registerServer(QByteArrayView user, QByteArrayView password) {
    return buildFrame(Type::Register, joinFields(user, password));
}
QByteArray login(QByteArrayView user, QByteArrayView password) {
    return buildFrame(Type::Login, joinFields(user, password));
}
QByteArray operatorLogin(QByteArrayView firstCode, QByteArrayView secondCode) {
    return buildFrame(Type::OperatorLogin, joinFields(firstCode, secondCode));
}
QByteArray listQuery(quint8 firstSlot) {
    const char s = char(firstSlot);
    return buildFrame(Type::ListQuery, QByteArrayView(&s, 1));
}
QByteArray keepAlive() { return buildFrame(Type::KeepAlive); }

QByteArray nameDescription(QByteArrayView name, QByteArrayView description) {
    return buildFrame(Type::NameDescription, joinFields(name, description));
}
QByteArray passwordChange(QByteArrayView password) { return buildFrame(Type::PasswordChange, password); }
QByteArray playerCount(quint8 count) {
    const char c = char(count);
    return buildFrame(Type::PlayerCount, QByteArrayView(&c, 1));
}

QByteArray disconnectServer(QByteArrayView server) { return buildFrame(Type::Disconnect, server); }
QByteArray messageServer(QByteArrayView server, QByteArrayView text) {
    return buildFrame(Type::MessageServer, joinFields(server, text));
}
QByteArray broadcast(QByteArrayView text) { return buildFrame(Type::Broadcast, text); }
QByteArray addGod(QByteArrayView server, QByteArrayView player) {
    return buildFrame(Type::AddGod, joinFields(server, player));
}
QByteArray markOfficial(QByteArrayView server) { return buildFrame(Type::MarkOfficial, joinFields(server, "1")); }
QByteArray markUnofficial(QByteArrayView server) {
    return buildFrame(Type::MarkUnofficial, joinFields(server, "1"));
}
QByteArray denyNewAccounts() { return buildFrame(Type::DenyNewAccounts); }
QByteArray allowNewAccounts() { return buildFrame(Type::AllowNewAccounts); }
QByteArray clearOfficial() { return buildFrame(Type::ClearOfficial); }
QByteArray deleteAllAccounts() { return buildFrame(Type::DeleteAllAccounts); }
QByteArray sessionFlag() { return buildFrame(Type::SessionFlag); }
QByteArray operatorVersion(int version) { return buildFrame(Type::OperatorVersion, QByteArray::number(version)); }

} // namespace TavClient::Messages
