#include "receive_path_rig.h"

#include "fuzz_harness.h"
#include "fuzz_registry.h"

#include "database/account_set.h"
#include "database/ban_set.h"
#include "database/sqlite_statement.h"
#include "protocol/framing.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <sqlite3.h>

#include <algorithm>
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

// Everything the registry sends is whole frames (the memory layer delivers
// each send completely), so each peer's bytes must parse to the end.
FUZZ_RIG_UNTRACED void checkFrames(const QByteArray& received, int peer) {
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

// Length-prefixed, so that two different outcomes never hash the same text.
FUZZ_RIG_UNTRACED void add(QCryptographicHash& hash, QByteArrayView bytes) {
    const quint64 n = quint64(bytes.size());
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(&n), sizeof n));
    hash.addData(bytes);
}

FUZZ_RIG_UNTRACED void add(QCryptographicHash& hash, quint64 value) {
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(&value), sizeof value));
}

// The one statement the registry never runs itself: the key counter of
// the accounts table goes back to zero, as in a new file, so that the
// bookmarks handed out are the same whatever ran before.
void restartAccountKeys(const QString& connectionName) {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'sqlite_sequence'")) || !q.next())
        FuzzHarness::fail("the database cannot be read between inputs");
    if (q.value(0).toInt() == 0)
        return;
    if (!q.exec(QStringLiteral("DELETE FROM sqlite_sequence")))
        FuzzHarness::fail("the key counter of the accounts cannot be reset");
}

// The registry writes every change through a rollback journal file it
// creates and deletes, the most expensive part of an input's writes. What
// this target checks is the receive path and the database's consistency, not
// what survives a crash (the crash-safety tests do), so the journal stays in
// memory here.
void keepJournalInMemory(const QString& connectionName) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    if (!q.exec(QStringLiteral("PRAGMA journal_mode = MEMORY")) || !q.next() ||
        q.value(0).toString() != QLatin1String("memory"))
        FuzzHarness::fail("the database journal cannot be kept in memory");
}

bool databaseSound(const QString& connectionName) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    return q.exec(QStringLiteral("PRAGMA quick_check")) && q.next() && q.value(0).toString() == QLatin1String("ok");
}

// Rows the connection has inserted, updated or deleted since it was opened,
// the rig's own statements included: while it stands still, the tables are
// as the last reset left them, and the reset has nothing to do.
FUZZ_RIG_UNTRACED qint64 rowsChanged(const QString& connectionName) {
    sqlite3* handle = SqliteStatement::handleOf(QSqlDatabase::database(connectionName, false));
    if (!handle)
        FuzzHarness::fail("the database has no SQLite handle");
    return qint64(sqlite3_total_changes64(handle));
}

// The accounts of the two game servers every input opens with, as their
// registration over the wire stores them.
const std::vector<AccountRecord>& standingAccounts() {
    static const std::vector<AccountRecord> records = [] {
        std::vector<AccountRecord> out;
        for (const auto& [user, password] : {std::pair{"alpha", "SECRET"}, std::pair{"bravo", "PW"}}) {
            AccountRecord a;
            a.User = QString::fromLatin1(user);
            a.Password = QString::fromLatin1(password);
            a.Name = QStringLiteral("<untitled>");
            a.Official = 0;
            out.push_back(a);
        }
        return out;
    }();
    return records;
}

FUZZ_RIG_UNTRACED bool sameAccount(const AccountRecord& a, const AccountRecord& b) {
    return a.bookmark == b.bookmark && a.User == b.User && a.Password == b.Password && a.Name == b.Name &&
           a.Description == b.Description && a.UpdateURL == b.UpdateURL && a.Official == b.Official;
}

} // namespace

ReceivePathRig::ReceivePathRig(const QString& dataDir, Recheck recheck, Outcome outcome)
    : m_recheck(recheck), m_digest(outcome == Outcome::Digest) {
    m_registry = FuzzHarness::startRegistry(m_net, m_clock, dataDir);
    m_allowedAtStart = m_registry->newAccountsAllowed();
    m_connectionName = m_registry->database().connectionName();
    keepJournalInMemory(m_connectionName);
    putBackTables();
    QObject::connect(&m_registry->eventLog(), &EventLog::lineAppended, [this](const QString& line, bool) {
        if (m_recording)
            add(m_outcome, line.toUtf8());
    });
}

ReceivePathRig::~ReceivePathRig() { m_registry->shutdown(); }

QByteArray ReceivePathRig::run(const uint8_t* data, size_t size) {
    if (m_registry->connectionCount() != 0 || m_net.openCount() != 0)
        FuzzHarness::fail("a connection outlived the input before it");
    m_outcome.reset();
    m_recording = m_digest;
    openSessions();
    playScript(data, size);
    finish();
    m_recording = false;
    // Put back now rather than when the next input begins, so that what an
    // input allocated is freed within it: libFuzzer runs an input that
    // allocated more than it freed a second time and then looks for leaks,
    // and what one input leaves for the next to free makes that happen often.
    restoreBaseline();
    return m_digest ? m_outcome.result().toHex() : QByteArray();
}

FUZZ_RIG_UNTRACED void ReceivePathRig::restoreBaseline() {
    Registry& r = *m_registry;
    if (r.connectionCount() != 0 || m_net.openCount() != 0 || !m_net.forgetPeers())
        FuzzHarness::fail("a connection outlived the input before it");
    if (rowsChanged(m_connectionName) != m_rowsAtBaseline)
        putBackTables();
    // Slot records keep some fields across a close on purpose (the session
    // flag, the generation); a new registry has them blank. Slots no caller
    // of the input reached are blank still.
    for (int i = SlotTable::kFirstSlot; i <= m_slotsTaken; ++i)
        r.clients()[i] = ClientSlot{};
    r.clients()[SlotTable::kOverflowSlot] = ClientSlot{};
    m_slotsTaken = 0;
    r.counters() = RegistryCounters{};
    // Failed logins, lockouts and rates are remembered per address; an
    // address made exempt is forgotten at once, so exempting every address
    // for a moment leaves the limits as a new registry has them.
    static const LimitSettings defaults;
    static const LimitSettings forgetAll = [] {
        const std::optional<AddressSet> everyAddress = AddressSet::parse(QStringLiteral("0.0.0.0/0 ::/0"), nullptr);
        if (!everyAddress)
            FuzzHarness::fail("no address set holds every address");
        LimitSettings settings;
        settings.exempt = *everyAddress;
        return settings;
    }();
    r.setLimits(forgetAll);
    r.setLimits(defaults);
    if (r.addressLimits().trackedCount() != 0)
        FuzzHarness::fail("the limits still remember an address between inputs");
    r.setNewAccountsAllowed(m_allowedAtStart);
    // A new registry's event view is empty. Emptied here, the lines an input
    // added are freed within it (a line can be shared with the list pages'
    // kept event line, so dropping the oldest line need not free anything).
    r.eventLog().clear();
    m_clock.set(kStartTick);
}

FUZZ_RIG_UNTRACED void ReceivePathRig::putBackTables() {
    Registry& r = *m_registry;
    // The accounts and bans of the last input go.
    if (!r.accounts().removeAll() || !r.database().bans().removeAll())
        FuzzHarness::fail("the tables cannot be emptied between inputs");
    restartAccountKeys(m_connectionName);
    m_standing.clear();
    for (AccountRecord a : standingAccounts()) {
        a.bookmark = r.accounts().add(a);
        if (a.bookmark != qint64(m_standing.size()) + 1)
            FuzzHarness::fail("a standing account was not stored under its bookmark", int(a.bookmark));
        m_standing.push_back(a);
    }
    m_rowsAtBaseline = rowsChanged(m_connectionName);
}

void ReceivePathRig::openSessions() {
    Registry& r = *m_registry;
    const int op = m_net.connectPeer("10.0.0.1");
    m_net.peerSends(op, frameOf(2, QByteArray("qwzrtplkmx\0ZKRTQWPMNBVCXLKJHGFD", 31)) + frameOf(13, "x"));
    const int alpha = m_net.connectPeer("10.0.0.2");
    m_net.peerSends(alpha, frameOf(1, QByteArray("alpha\0secret", 12)));
    const int bravo = m_net.connectPeer("10.0.1.0");
    m_net.peerSends(bravo, frameOf(1, QByteArray("bravo\0pw", 8)));
    m_net.connectPeer("192.168.0.1");
    m_net.completeSends();
    if (r.clients()[1].Mode != SessionMode::Operator || r.clients()[2].Mode != SessionMode::Server ||
        r.clients()[3].Mode != SessionMode::Server)
        FuzzHarness::fail("the opening sessions did not come up");
    checkSlots();
}

// After the opening: peer 1 an operator (new accounts allowed), peers 2 and
// 3 the game servers "alpha" and "bravo", peer 4 a fresh connection.
// Each step is one op byte followed by its operands:
//   op % 8 in 0..3  arrival: peer byte, length byte, that many data bytes
//   op % 8 == 4     new callers: count byte, below 64 that many, otherwise
//                   its value % 4; beyond 255 they overflow; no more once
//                   kMaxCallers have called in this input
//   op % 8 == 5     time passes: byte x 250 ms, then one supervision pass
//   op % 8 == 6     pending send completions are delivered, then the posted
//                   work of one loop pass runs (messages left for a later pass)
//   op % 8 == 7     peer event: peer byte, event byte (peer closes, socket
//                   error, hold/release output, flip the new-accounts switch)
void ReceivePathRig::playScript(const uint8_t* data, size_t size) {
    Registry& r = *m_registry;
    Script script(data, size);
    std::vector<int> peers{1, 2, 3, 4};
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
            m_net.peerSends(peer, script.bytes(script.byte()));
            break;
        }
        case 4: {
            // Callers beyond the table's size only repeat the full notice:
            // a few such rounds cover it, thousands only slow the fuzzer
            // down. Taking a caller is most of what an input costs, so only
            // a count byte below 64 brings many (a full table takes four of
            // them); the others bring at most three.
            const uint8_t asked = script.byte();
            const int count = std::min(asked < 64 ? int(asked) : asked % 4, kMaxCallers - m_net.peerCount());
            for (int id : m_net.connectPeers(count, "172.16.0.9"))
                peers.push_back(id);
            break;
        }
        case 5:
            m_clock.advance(quint32(script.byte()) * 250);
            r.superviseSlots();
            break;
        case 6:
            m_net.completeSends();
            QCoreApplication::sendPostedEvents();
            break;
        case 7: {
            const int peer = peers[script.byte() % peers.size()];
            switch (script.byte() % 4) {
            case 0:
                m_net.peerCloses(peer);
                break;
            case 1:
                m_net.raiseError(peer);
                break;
            case 2:
                hold = !hold;
                m_net.setHoldOutput(hold);
                break;
            default:
                r.setNewAccountsAllowed(!r.newAccountsAllowed());
                break;
            }
            break;
        }
        }
        checkSlots();
    }
}

// Ends the input as shutdown would (every slot closed in order, operators
// told of servers going) but keeps the registry and its database running.
FUZZ_RIG_UNTRACED void ReceivePathRig::finish() {
    Registry& r = *m_registry;
    for (int i = 1; i <= m_net.peerCount(); ++i)
        checkFrames(m_net.peer(i).received, i);
    if (m_digest)
        recordSlots();

    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kOverflowSlot; ++i)
        if (r.clients()[i].InUse)
            r.closeClient(i, CloseReason::Shutdown);
    // Work posted for a later pass finds every slot closed and ends here,
    // not in the next input.
    QCoreApplication::sendPostedEvents();
    if (m_net.openCount() != 0)
        FuzzHarness::fail("sockets left open after every slot was closed", m_net.openCount());
    if (r.connectionCount() != 0)
        FuzzHarness::fail("connections counted after every slot was closed", r.connectionCount());

    for (int i = 1; i <= m_net.peerCount() && m_digest; ++i) {
        const MemorySocketLayer::Peer& p = m_net.peer(i);
        add(m_outcome, p.address);
        add(m_outcome, quint64(p.refused) | quint64(p.peerGone) << 1);
        add(m_outcome, p.received);
    }
    m_slotsTaken = std::min(m_net.peerCount(), SlotTable::kLastRegularSlot);
    // The peers go with the input that made them: libFuzzer runs an input
    // twice and then a full leak check whenever it allocated more than it
    // freed, which memory freed by the next input would cause every time.
    if (!m_net.forgetPeers())
        FuzzHarness::fail("the peers of the input cannot be let go");
    if (m_digest) {
        const RegistryCounters& c = r.counters();
        add(m_outcome, QByteArrayView(reinterpret_cast<const char*>(&c), sizeof c));
    }

    recordAccounts();
    if (r.databaseLost())
        FuzzHarness::fail("the database was found lost after the run");
}

// What is left in the slots counts as the input's outcome too: a field the
// next input could inherit must be the same as after a fresh start.
FUZZ_RIG_UNTRACED void ReceivePathRig::recordSlots() {
    Registry& r = *m_registry;
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kOverflowSlot; ++i) {
        const ClientSlot& s = r.clients()[i];
        add(m_outcome, quint64(s.InUse) | quint64(s.Mode) << 8 | quint64(s.PlayerCount) << 16 |
                           quint64(s.Official) << 24 | quint64(s.SessionFlag) << 32 |
                           quint64(s.CloseAfterSend) << 33 | quint64(s.Backlogged) << 34 |
                           quint64(s.HeldForOutput) << 35 | quint64(s.ReadPaused) << 36);
        add(m_outcome, quint64(s.LastTick));
        add(m_outcome, quint64(s.AccountBookmark));
        for (const QByteArray* field : {&s.Buffer, &s.ServerId, &s.ServerName, &s.IP, &s.Description, &s.UpdateUrl})
            add(m_outcome, *field);
    }
    for (const QString& name : r.onlineServers().texts())
        add(m_outcome, name.toUtf8());
    add(m_outcome, quint64(r.newAccountsAllowed()));
}

// The accounts left count as the outcome. An input that changed no row left
// the standing accounts as they were stored; reading them back is then a
// check of that (Recheck::Always), not news.
FUZZ_RIG_UNTRACED void ReceivePathRig::recordAccounts() {
    Registry& r = *m_registry;
    const bool changed = rowsChanged(m_connectionName) != m_rowsAtBaseline;
    auto record = [this](const AccountRecord& a) {
        if (!m_digest)
            return;
        add(m_outcome, quint64(a.bookmark));
        for (const QString* field : {&a.User, &a.Password, &a.Name, &a.Description, &a.UpdateURL})
            add(m_outcome, field->toUtf8());
        add(m_outcome, quint64(a.Official.value_or(-1)));
    };
    if (!changed && m_recheck == Recheck::WhenChanged) {
        for (const AccountRecord& a : m_standing)
            record(a);
        return;
    }
    std::vector<AccountRecord> left;
    for (const QString& user : r.accounts().names()) {
        const std::optional<AccountRecord> a = r.accounts().find(user);
        if (!a)
            FuzzHarness::fail("a listed account cannot be found");
        record(*a);
        left.push_back(*a);
    }
    if (!changed && (!std::equal(left.begin(), left.end(), m_standing.begin(), m_standing.end(), sameAccount) ||
                     !r.database().bans().isEmpty()))
        FuzzHarness::fail("the tables changed although no row was changed");
    if (!databaseSound(m_connectionName))
        FuzzHarness::fail("the database failed its check after the run");
}

FUZZ_RIG_UNTRACED void ReceivePathRig::checkSlots() {
    Registry& r = *m_registry;
    int inUse = 0;
    int servers = 0;
    // Every caller takes one slot at most, the lowest free one, and every
    // slot was free and blank when the input began: slots above the number
    // of callers so far have never been taken in this input.
    const int taken = std::min(m_net.peerCount(), SlotTable::kLastRegularSlot);
    for (int i = SlotTable::kFirstSlot; i <= taken; ++i) {
        const ClientSlot& s = r.clients()[i];
        // Beyond an incomplete tail, only messages left for a later pass stay,
        // and then reading is paused: never more than one arrival besides.
        if (s.Buffer.size() > 512 && !(s.Backlogged || s.HeldForOutput))
            FuzzHarness::fail("a slot holds more than 512 unconsumed bytes", i);
        if (s.Buffer.size() > 512 + 255)
            FuzzHarness::fail("a slot holds more than one arrival beyond 512 bytes", i);
        if (!s.InUse) {
            if (!s.Buffer.isEmpty() || s.Mode != SessionMode::Connected)
                FuzzHarness::fail("a free slot keeps a buffer or a session", i);
            if (m_net.peerAtIndex(i) != 0)
                FuzzHarness::fail("a free slot still has a socket", i);
            continue;
        }
        ++inUse;
        if (m_net.peerAtIndex(i) == 0)
            FuzzHarness::fail("an occupied slot has no socket", i);
        if ((s.Backlogged || s.HeldForOutput) && !m_net.peer(m_net.peerAtIndex(i)).readPaused)
            FuzzHarness::fail("a slot with messages waiting is still read", i);
        if (s.Mode > SessionMode::Server)
            FuzzHarness::fail("a slot in an unknown mode", i);
        if (s.Mode == SessionMode::Server) {
            ++servers;
            if (s.ServerId.isEmpty())
                FuzzHarness::fail("a server session without a user name", i);
        }
    }
    if (inUse != r.connectionCount())
        FuzzHarness::fail("ConnectionCount differs from the occupied slots", r.connectionCount());
    if (servers != r.onlineServers().count())
        FuzzHarness::fail("the online server list differs from the server sessions", servers);
}
