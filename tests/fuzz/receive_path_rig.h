#pragma once

#include "doubles/manual_tick_clock.h"
#include "doubles/memory_socket_layer.h"
#include "host/registry.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

// One registry, one socket layer in memory, one manual clock and one SQLite
// database for many inputs of the receive-path target. Building a registry
// and a database file costs far more than an input, so the rig keeps them
// and puts everything an input can change back to how a freshly started
// registry has it before each run: no connection, no account, the switch and
// the clock as at start, counters at zero, every slot record blank.
//
// run() plays one input and returns a digest of everything it led to (what
// each peer received, the event lines, the counters, the slots, the accounts
// left), so that a state the reset leaks into the next input shows up as a
// different digest for the same input.
class ReceivePathRig {
public:
    // Where qbrx.dat lives; the folder must exist and be the rig's alone.
    explicit ReceivePathRig(const QString& dataDir);
    ~ReceivePathRig();
    ReceivePathRig(const ReceivePathRig&) = delete;
    ReceivePathRig& operator=(const ReceivePathRig&) = delete;

    QByteArray run(const uint8_t* data, size_t size);

    // The tick every input starts from: close to the wrap, so that the
    // supervision crosses it.
    static constexpr quint32 kStartTick = 0xFFFF0000u;
    // Callers one input may bring: every slot, the overflow slot and more.
    static constexpr int kMaxCallers = 384;

private:
    void restoreBaseline();
    void openSessions();
    void playScript(const uint8_t* data, size_t size);
    void finish();
    void checkSlots();
    void recordOutcome();

    MemorySocketLayer m_net;
    ManualTickClock m_clock{kStartTick};
    std::unique_ptr<Registry> m_registry;
    bool m_allowedAtStart = false;
    bool m_recording = false;
    QCryptographicHash m_outcome{QCryptographicHash::Sha256};
};
