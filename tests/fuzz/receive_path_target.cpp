// Fuzz target: arbitrary byte streams, cut into arbitrary arrivals, from
// several peers in every session mode, through the real receive path and
// dispatcher of a registry with a real SQLite database.
//
// The input is a script. A fresh registry first gets four peers over the wire:
//   peer 0  an operator (logged in, new accounts allowed)
//   peer 1  game server "alpha" (registered, logged in)
//   peer 2  game server "bravo" (registered, logged in)
//   peer 3  a fresh connection (not logged in)
// Then each script step is one op byte followed by its operands:
//   op % 8 in 0..3  arrival: peer byte, length byte, that many data bytes
//   op % 8 == 4     new callers: count byte (0..63); beyond 255 they overflow
//   op % 8 == 5     time passes: byte x 250 ms, then one supervision pass
//   op % 8 == 6     pending send completions are delivered, then the posted
//                   work of one loop pass runs (messages left for a later pass)
//   op % 8 == 7     peer event: peer byte, event byte (peer closes, socket
//                   error, hold/release output, flip the new-accounts switch)
// After every step the slot table must be consistent; at the end every peer
// must have received only whole frames, and the database must pass its check.
#include "fuzz_harness.h"

#include "database/database_file.h"
#include "host/registry.h"
#include "doubles/memory_socket_layer.h"
#include "doubles/manual_tick_clock.h"
#include "protocol/framing.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <vector>

namespace {

class Script {
public:
    Script(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    QByteArray bytes(size_t n) {
        n = std::min(n, m_size - m_pos);
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

QByteArray frameOf(quint8 type, const QByteArray& payload) {
    return Framing::frame(Framing::message(type, payload));
}

// One folder for the whole run; on /dev/shm when there is one, because every
// input creates a database and flushes it to disk.
const QString& dataDir() {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/tavfuzz-XXXXXX")
                                 : QDir::temp().filePath(QStringLiteral("tavfuzz-XXXXXX")));
    static const QString path = dir.path();
    return path;
}

void checkSlots(Registry& registry, MemorySocketLayer& net) {
    int inUse = 0;
    int servers = 0;
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& s = registry.slot(i);
        // Beyond an incomplete tail, only messages left for a later pass stay,
        // and then reading is paused: never more than one arrival besides.
        if (s.Buffer.size() > 512 && !(s.Backlogged || s.HeldForOutput))
            FuzzHarness::fail("a slot holds more than 512 unconsumed bytes", i);
        if (s.Buffer.size() > 512 + 255)
            FuzzHarness::fail("a slot holds more than one arrival beyond 512 bytes", i);
        if (!s.InUse) {
            if (!s.Buffer.isEmpty() || s.Mode != SessionMode::Connected)
                FuzzHarness::fail("a free slot keeps a buffer or a session", i);
            if (net.peerAtIndex(i) != 0)
                FuzzHarness::fail("a free slot still has a socket", i);
            continue;
        }
        ++inUse;
        if (net.peerAtIndex(i) == 0)
            FuzzHarness::fail("an occupied slot has no socket", i);
        if ((s.Backlogged || s.HeldForOutput) && !net.peer(net.peerAtIndex(i)).readPaused)
            FuzzHarness::fail("a slot with messages waiting is still read", i);
        if (s.Mode > SessionMode::Server)
            FuzzHarness::fail("a slot in an unknown mode", i);
        if (s.Mode == SessionMode::Server) {
            ++servers;
            if (s.ServerId.isEmpty())
                FuzzHarness::fail("a server session without a user name", i);
        }
    }
    if (inUse != registry.connectionCount())
        FuzzHarness::fail("ConnectionCount differs from the occupied slots", registry.connectionCount());
    if (servers != registry.onlineServers().count())
        FuzzHarness::fail("the online server list differs from the server sessions", servers);
}

// Everything the registry sends is whole frames (the memory layer delivers
// each send completely), so each peer's bytes must parse to the end.
void checkFrames(const QByteArray& received, int peer) {
    qsizetype pos = 0;
    while (pos < received.size()) {
        if (received.size() - pos < 2)
            FuzzHarness::fail("a peer received a cut length prefix", peer);
        const int length = Framing::decodeLength(QByteArrayView(received).sliced(pos, 2));
        if (length == 0)
            FuzzHarness::fail("a peer received an empty frame", peer);
        if (received.size() - pos - 2 < length)
            FuzzHarness::fail("a peer received a cut frame", peer);
        pos += 2 + length;
    }
}

void run(Script& script) {
    QFile::remove(DatabaseFile::databasePath(dataDir()));
    QFile::remove(DatabaseFile::workFilePath(dataDir()));

    MemorySocketLayer net;
    ManualTickClock clock(0xFFFF0000u); // close to the wrap, so the supervision crosses it
    RegistryOptions options;
    options.dataDir = dataDir();
    Registry registry(net, clock, options);
    QString error;
    if (!registry.start(&error))
        FuzzHarness::fail("the registry did not start");

    std::vector<int> peers;
    peers.push_back(net.connectPeer("10.0.0.1"));
    net.peerSends(peers[0], frameOf(2, QByteArray("qwzrtplkmx\0ZKRTQWPMNBVCXLKJHGFD", 31)) + frameOf(13, "x"));
    peers.push_back(net.connectPeer("10.0.0.2"));
    net.peerSends(peers[1], frameOf(0, QByteArray("alpha\0secret", 12)));
    peers.push_back(net.connectPeer("10.0.1.0"));
    net.peerSends(peers[2], frameOf(0, QByteArray("bravo\0pw", 8)));
    peers.push_back(net.connectPeer("192.168.0.1"));
    net.completeSends();
    if (registry.slot(1).Mode != SessionMode::Operator || registry.slot(2).Mode != SessionMode::Server ||
        registry.slot(3).Mode != SessionMode::Server)
        FuzzHarness::fail("the opening sessions did not come up");
    checkSlots(registry, net);

    bool hold = false;
    int steps = 0;
    while (!script.atEnd() && ++steps <= 4096) {
        const uint8_t op = script.byte();
        switch (op % 8) {
        case 0:
        case 1:
        case 2:
        case 3: {
            const int peer = peers[script.byte() % peers.size()];
            net.peerSends(peer, script.bytes(script.byte()));
            break;
        }
        case 4: {
            const int count = script.byte() % 64;
            for (int id : net.connectPeers(count, "172.16.0.9"))
                peers.push_back(id);
            break;
        }
        case 5:
            clock.advance(quint32(script.byte()) * 250);
            registry.superviseSlots();
            break;
        case 6:
            net.completeSends();
            QCoreApplication::sendPostedEvents();
            break;
        case 7: {
            const int peer = peers[script.byte() % peers.size()];
            switch (script.byte() % 4) {
            case 0:
                net.peerCloses(peer);
                break;
            case 1:
                net.raiseError(peer);
                break;
            case 2:
                hold = !hold;
                net.setHoldOutput(hold);
                break;
            default:
                registry.setNewAccountsAllowed(!registry.newAccountsAllowed());
                break;
            }
            break;
        }
        }
        checkSlots(registry, net);
    }

    for (int i = 1; i <= net.peerCount(); ++i)
        checkFrames(net.peer(i).received, i);
    registry.shutdown();
    if (net.openCount() != 0)
        FuzzHarness::fail("sockets left open after shutdown", net.openCount());
    const DatabaseFile::Inspection check = DatabaseFile::inspect(DatabaseFile::databasePath(dataDir()));
    if (!check.sound || !check.hasTables)
        FuzzHarness::fail("the database failed its check after the run");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHarness::ensureApplication();
    Script script(data, size);
    run(script);
    return 0;
}
