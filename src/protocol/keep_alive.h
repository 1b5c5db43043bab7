#pragma once

#include <QByteArrayView>

class Dispatcher;
class Registry;

namespace KeepAlive {
// Type 255 in every mode: an empty payload only keeps the connection alive
// (the arrival already refreshed its activity tick); any payload byte closes it.
void handle(Registry& registry, int slot, quint8 type, QByteArrayView payload);
void install(Dispatcher& dispatcher);
} // namespace KeepAlive
