#pragma once

#include "protocol/message_types.h"

#include <QByteArrayView>
#include <array>

class SessionContext;

// Decides what a complete message means: one table per session mode, indexed
// by type code. Every entry starts as "close the connection"; the message
// table (session_handlers.cpp) installs one handler per message type.
class Dispatcher {
public:
    using Handler = void (*)(SessionContext& session, int slot, quint8 type, QByteArrayView payload);
    static constexpr int kModes = MessageType::Mode::Count;

    Dispatcher();

    void install(quint8 mode, quint8 type, Handler handler);
    void dispatch(SessionContext& session, int slot, quint8 mode, quint8 type, QByteArrayView payload) const;

    // The default entry: close without reply.
    static void closeConnection(SessionContext& session, int slot, quint8 type, QByteArrayView payload);

private:
    std::array<std::array<Handler, 256>, kModes> m_table{};
};

// Installs every handler the registry knows into a dispatcher.
void installSessionHandlers(Dispatcher& dispatcher);
