#pragma once

#include <QByteArrayView>

class Dispatcher;
class Registry;

// Operator tools: the login with the two access codes (mode 0, type 2) and the
// commands of a logged-in operator (mode 1).
namespace OperatorSession {

constexpr int RequiredOperatorVersion = 1201;

void login(Registry& registry, int slot, quint8 type, QByteArrayView payload);
void command(Registry& registry, int slot, quint8 type, QByteArrayView payload);
void install(Dispatcher& dispatcher);

// True when the payload is a decimal number equal to the required version.
bool versionMatches(QByteArrayView payload);

} // namespace OperatorSession
