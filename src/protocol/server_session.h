#pragma once

#include <QByteArrayView>

class Dispatcher;
class Registry;

// Game servers: registration and login on a fresh connection, then their
// reports of name and description, password and player count.
namespace ServerSession {
void registerAccount(Registry& registry, int slot, quint8 type, QByteArrayView payload); // mode 0, type 0
void login(Registry& registry, int slot, quint8 type, QByteArrayView payload);           // mode 0, type 1
void reportNameAndDescription(Registry& registry, int slot, quint8 type, QByteArrayView payload); // mode 2, type 5
void changePassword(Registry& registry, int slot, quint8 type, QByteArrayView payload);  // mode 2, type 6
void reportPlayerCount(Registry& registry, int slot, quint8 type, QByteArrayView payload); // mode 2, type 7
void install(Dispatcher& dispatcher);
} // namespace ServerSession
