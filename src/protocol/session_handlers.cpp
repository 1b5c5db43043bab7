#include "protocol/dispatcher.h"
#include "protocol/keep_alive.h"
#include "protocol/list_query.h"
#include "protocol/message_types.h"
#include "protocol/operator_session.h"
#include "protocol/server_session.h"

namespace {

struct Entry {
    quint8 mode;
    quint8 type;
    Dispatcher::Handler handler;
};

namespace Mode = MessageType::Mode;
namespace FromConnected = MessageType::FromConnected;
namespace FromOperator = MessageType::FromOperator;
namespace FromServer = MessageType::FromServer;

// The complete message table, one line per message a peer may send. Types not
// listed for a mode close the connection.
constexpr Entry kMessageTable[] = {
    {Mode::Connected, FromConnected::Register, &ServerSession::registerAccount},
    {Mode::Connected, FromConnected::Login, &ServerSession::login},
    {Mode::Connected, FromConnected::OperatorLogin, &OperatorSession::login},
    {Mode::Connected, FromConnected::ListQuery, &ListQuery::handle},
    {Mode::Connected, MessageType::KeepAlive, &KeepAlive::handle},

    {Mode::Operator, FromOperator::Disconnect, &OperatorSession::disconnectServer},
    {Mode::Operator, FromOperator::MessageServer, &OperatorSession::messageServer},
    {Mode::Operator, FromOperator::Broadcast, &OperatorSession::broadcast},
    {Mode::Operator, FromOperator::Ignored8, &OperatorSession::ignore},
    {Mode::Operator, FromOperator::AddGod, &OperatorSession::addGod},
    {Mode::Operator, FromOperator::MarkOfficial, &OperatorSession::markOfficial},
    {Mode::Operator, FromOperator::MarkUnofficial, &OperatorSession::markUnofficial},
    {Mode::Operator, FromOperator::DenyNewAccounts, &OperatorSession::denyNewAccounts},
    {Mode::Operator, FromOperator::AllowNewAccounts, &OperatorSession::allowNewAccounts},
    {Mode::Operator, FromOperator::ClearOfficial, &OperatorSession::clearOfficial},
    {Mode::Operator, FromOperator::DeleteAllAccounts, &OperatorSession::deleteAllAccounts},
    {Mode::Operator, FromOperator::SessionFlag, &OperatorSession::setSessionFlag},
    {Mode::Operator, FromOperator::Ignored17, &OperatorSession::ignore},
    {Mode::Operator, FromOperator::Ignored27, &OperatorSession::ignore},
    {Mode::Operator, FromOperator::OperatorVersion, &OperatorSession::checkVersion},
    {Mode::Operator, MessageType::KeepAlive, &KeepAlive::handle},

    {Mode::Server, FromServer::NameDescription, &ServerSession::reportNameAndDescription},
    {Mode::Server, FromServer::PasswordChange, &ServerSession::changePassword},
    {Mode::Server, FromServer::PlayerCount, &ServerSession::reportPlayerCount},
    {Mode::Server, MessageType::KeepAlive, &KeepAlive::handle},
};

} // namespace

void installSessionHandlers(Dispatcher& dispatcher) {
    for (const Entry& e : kMessageTable)
        dispatcher.install(e.mode, e.type, e.handler);
}
