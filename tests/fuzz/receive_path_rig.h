#pragma once

#include "database/account_set.h"
#include "doubles/manual_tick_clock.h"
#include "doubles/memory_socket_layer.h"
#include "host/registry.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One registry, one socket layer in memory, one manual clock and one SQLite
// database for many inputs of the receive-path target. Building a registry
// and a database file costs far more than an input, so the rig keeps them
// and puts everything an input can change back to how a freshly started
// registry has it after each run: no connection, the accounts of the game
// servers "alpha" and "bravo" and nothing else in the tables, the switch and
// the clock as at start, counters at zero, every slot record blank. The
// tables are put back only after an input that changed a row (most inputs
// change none), and only such an input's tables are read back and checked.
//
// run() plays one input and can return a digest of everything it led to (what
// each peer received, the event lines, the counters, the slots, the accounts
// left), so that a state the reset leaks into the next input shows up as a
// different digest for the same input.
class ReceivePathRig {
public:
    // Where qbrx.dat lives; the folder must exist and be the rig's alone.
    // Always: the tables are read back and checked after every input, and
    // an input that changed no row must have left them exactly as they were
    // (slower; for the replay tests). WhenChanged: only after an input that
    // changed a row (for the fuzzer).
    enum class Recheck { WhenChanged, Always };
    // Digest: run() returns the outcome's digest. None: it returns nothing
    // and the input costs less (the fuzzer compares no outcomes); every
    // check is made all the same.
    enum class Outcome { Digest, None };
    ReceivePathRig(const QString& dataDir, Recheck recheck, Outcome outcome);
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
    // Empties the tables, starts the keys again and stores the standing
    // accounts, so that they have the same bookmarks every time.
    void putBackTables();
    void openSessions();
    void playScript(const uint8_t* data, size_t size);
    void finish();
    void checkSlots();
    void recordSlots();
    void recordAccounts();

    MemorySocketLayer m_net;
    ManualTickClock m_clock{kStartTick};
    std::unique_ptr<Registry> m_registry;
    Recheck m_recheck;
    bool m_digest;
    // Regular slots the callers of the last input can have taken: 1 to this.
    int m_slotsTaken = SlotTable::kLastRegularSlot;
    QString m_connectionName;
    // The standing accounts as stored, and the connection's count of
    // changed rows right after they were.
    std::vector<AccountRecord> m_standing;
    qint64 m_rowsAtBaseline = 0;
    bool m_allowedAtStart = false;
    bool m_recording = false;
    QCryptographicHash m_outcome{QCryptographicHash::Sha256};
};
