#pragma once

#include <QByteArrayView>
#include <array>

class Registry;

// Decides what a complete message means: one table per session mode, indexed
// by type code. Every entry starts as "close the connection"; the session
// modules install their handlers.
class Dispatcher {
public:
    using Handler = void (*)(Registry& registry, int slot, quint8 type, QByteArrayView payload);
    static constexpr int kModes = 3;

    Dispatcher();

    void install(quint8 mode, quint8 type, Handler handler);
    void dispatch(Registry& registry, int slot, quint8 mode, quint8 type, QByteArrayView payload) const;

    // The default entry: close without reply.
    static void closeConnection(Registry& registry, int slot, quint8 type, QByteArrayView payload);

private:
    std::array<std::array<Handler, 256>, kModes> m_table{};
};

// Installs every handler the registry knows into a dispatcher.
void installSessionHandlers(Dispatcher& dispatcher);
