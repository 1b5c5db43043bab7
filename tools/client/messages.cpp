#include "client/messages.h"

#include "client/frame_codec.h"

namespace TavClient::Messages {

namespace {
namespace FromConnected = MessageType::FromConnected;
namespace FromOperator = MessageType::FromOperator;
namespace FromServer = MessageType::FromServer;
} // namespace

QByteArray joinFields(QByteArrayView first, QByteArrayView second) {
    QByteArray out;
    out.reserve(first.size() + 1 + second.size());
    out.append(first);
    out.append('\0');
    out.append(second);
    return out;
}

QByteArray registerServer(QByteArrayView user, QByteArrayView password) {
    return buildFrame(FromConnected::Register, joinFields(user, password));
}
QByteArray login(QByteArrayView user, QByteArrayView password) {
    return buildFrame(FromConnected::Login, joinFields(user, password));
}
QByteArray operatorLogin(QByteArrayView firstCode, QByteArrayView secondCode) {
    return buildFrame(FromConnected::OperatorLogin, joinFields(firstCode, secondCode));
}
QByteArray listQuery(quint8 firstSlot) {
    const char s = char(firstSlot);
    return buildFrame(FromConnected::ListQuery, QByteArrayView(&s, 1));
}
QByteArray keepAlive() { return buildFrame(MessageType::KeepAlive); }

QByteArray nameDescription(QByteArrayView name, QByteArrayView description) {
    return buildFrame(FromServer::NameDescription, joinFields(name, description));
}
QByteArray passwordChange(QByteArrayView password) { return buildFrame(FromServer::PasswordChange, password); }
QByteArray playerCount(quint8 count) {
    const char c = char(count);
    return buildFrame(FromServer::PlayerCount, QByteArrayView(&c, 1));
}

QByteArray disconnectServer(QByteArrayView server) { return buildFrame(FromOperator::Disconnect, server); }
QByteArray messageServer(QByteArrayView server, QByteArrayView text) {
    return buildFrame(FromOperator::MessageServer, joinFields(server, text));
}
QByteArray broadcast(QByteArrayView text) { return buildFrame(FromOperator::Broadcast, text); }
QByteArray addGod(QByteArrayView server, QByteArrayView player) {
    return buildFrame(FromOperator::AddGod, joinFields(server, player));
}
QByteArray markOfficial(QByteArrayView server) { return buildFrame(FromOperator::MarkOfficial, joinFields(server, "1")); }
QByteArray markUnofficial(QByteArrayView server) {
    return buildFrame(FromOperator::MarkUnofficial, joinFields(server, "1"));
}
QByteArray denyNewAccounts() { return buildFrame(FromOperator::DenyNewAccounts); }
QByteArray allowNewAccounts() { return buildFrame(FromOperator::AllowNewAccounts); }
QByteArray clearOfficial() { return buildFrame(FromOperator::ClearOfficial); }
QByteArray deleteAllAccounts() { return buildFrame(FromOperator::DeleteAllAccounts); }
QByteArray sessionFlag() { return buildFrame(FromOperator::SessionFlag); }
QByteArray operatorVersion(int version) { return buildFrame(FromOperator::OperatorVersion, QByteArray::number(version)); }

} // namespace TavClient::Messages
