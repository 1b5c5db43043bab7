#pragma once

#include <QByteArrayView>

class SessionContext;

namespace KeepAlive {
// Type 255 in every mode: an empty payload only keeps the connection alive
// (the arrival already refreshed its activity tick); any payload byte closes it.
void handle(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
} // namespace KeepAlive
