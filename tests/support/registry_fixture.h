#pragma once

#include "host/registry.h"
#include "doubles/memory_socket_layer.h"
#include "doubles/manual_tick_clock.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <memory>

// A started registry on the in-memory socket layer and a manual clock, with a
// fresh data folder of its own. Tests play the peers through `net`.
struct RegistryFixture {
    QTemporaryDir dataDir;
    MemorySocketLayer net;
    ManualTickClock clock{100000};
    std::unique_ptr<Registry> registry;

    explicit RegistryFixture(bool startNow = true);
    // A started registry on the given shared database, holding its accounts
    // under a lease of `leaseSeconds`.
    RegistryFixture(const QString& databaseUrl, int leaseSeconds);
    ~RegistryFixture();

    bool start();
    Registry& reg() { return *registry; }

    // Connects a caller; returns its peer id (its slot is net.peer(id).index).
    int connect(const QByteArray& address = "127.0.0.1");
    int slotOf(int peerId) const { return net.peer(peerId).index; }
    void send(int peerId, const QByteArray& bytes) { net.peerSends(peerId, bytes); }
    QByteArray received(int peerId) { return net.takeReceived(peerId); }
    bool isOpen(int peerId) const { return net.peer(peerId).open; }

    // Advances the clock in steps of 10 ms up to `ms`, running the supervision
    // after each step, as the 10 ms timer would.
    void runFor(quint32 ms);
};

// One frame: length prefix, type byte, payload.
QByteArray frame(quint8 type, const QByteArray& payload = {});
