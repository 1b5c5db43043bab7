// kill -9 at random moments: while game servers register and change their
// accounts over the wire, and while start-up compacts the database. After each
// kill the registry starts again, and the file must open, pass the integrity
// check and hold every change a peer was told about (or a later one it sent).
#include "support/registry_process.h"
#include "support/wire_peer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <thread>

namespace {

struct Values {
    QByteArray password, name, description;
    bool operator==(const Values&) const = default;
};

struct Account {
    Values stored;              // what the file must hold, unless...
    QList<Values> pending;      // ...a later change that was sent but not yet confirmed
};

// A look at qbrx.dat through its own connection, made while no registry runs.
class FileView {
public:
    explicit FileView(const QString& path)
        : m_name(QStringLiteral("crash-view-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        // Read-write: after a kill the journal left behind must be rolled back
        // before the file can be read, as the next start of the registry does.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        m_open = QFile::exists(path) && db.open();
    }
    ~FileView() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool open() const { return m_open; }
    QString integrity() const {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!q.exec(QStringLiteral("PRAGMA integrity_check")))
            return q.lastError().text();
        QStringList lines;
        while (q.next())
            lines << q.value(0).toString();
        return lines.join(QLatin1Char(';'));
    }
    std::map<QByteArray, Values> accounts() const {
        std::map<QByteArray, Values> rows;
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.exec(QStringLiteral("SELECT User, Password, Name, Description FROM Servers"));
        while (q.next())
            rows[q.value(0).toString().toUpper().toLatin1()] = {
                q.value(1).toString().toLatin1(), q.value(2).toString().toLatin1(),
                q.value(3).toString().toLatin1()};
        return rows;
    }
    QByteArray digest() const {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.exec(QStringLiteral("SELECT User, Password, Name, Description, UpdateURL, Official FROM Servers "
                              "ORDER BY User"));
        while (q.next())
            for (int i = 0; i < 6; ++i)
                hash.addData(q.value(i).toString().toUtf8() + '\x1f');
        return hash.result().toHex();
    }

private:
    QString m_name;
    bool m_open = false;
};

// The servers a list query names, by user name: "[n] Name" and the description.
std::optional<std::map<QByteArray, std::pair<QByteArray, QByteArray>>> listServers(quint16 port) {
    WirePeer client;
    if (!client.connectTo(port) || !client.sendFrame(3, QByteArray(1, char(1))))
        return std::nullopt;
    std::map<QByteArray, std::pair<QByteArray, QByteArray>> out;
    for (;;) {
        const auto m = client.readMessage();
        if (!m || m->isEmpty())
            return std::nullopt;
        if (uchar(m->at(0)) == 255)
            return out;
        const QList<QByteArray> f = m->mid(1).split('\0');
        if (uchar(m->at(0)) != 4 || f.size() != 5)
            return std::nullopt;
        const QByteArray name = f[2].mid(f[2].indexOf("] ") + 2);
        const QByteArray description = f[3].mid(f[3].indexOf(": ") + 2);
        out[f[0].toUpper()] = {name, description};
    }
}

// The states the record may be in: the confirmed one, or any point of the
// changes sent after it (each is a password change, then a name/description report).
QList<Values> reachable(const Account& account) {
    QList<Values> states{account.stored};
    Values current = account.stored;
    for (const Values& change : account.pending) {
        current.password = change.password;
        states.append(current);
        current = change;
        states.append(current);
    }
    return states;
}

class Model {
public:
    std::map<QByteArray, Account> accounts; // by upper-case user name
    QSet<QByteArray> maybe;                 // registrations sent but not answered

    // Compares the file with what peers were told; then takes the file as the
    // new truth (a change committed but not confirmed is now confirmed).
    QString checkAndAdopt(const std::map<QByteArray, Values>& rows) {
        for (auto& [user, account] : accounts) {
            const auto it = rows.find(user);
            if (it == rows.end())
                return QStringLiteral("acknowledged account %1 is missing").arg(QString::fromLatin1(user));
            if (!reachable(account).contains(it->second))
                return QStringLiteral("account %1 holds %2/%3/%4, which no peer sent after the last confirmed change")
                    .arg(QString::fromLatin1(user), QString::fromLatin1(it->second.password),
                         QString::fromLatin1(it->second.name), QString::fromLatin1(it->second.description));
            account.stored = it->second;
            account.pending.clear();
        }
        for (const auto& [user, values] : rows) {
            if (accounts.count(user))
                continue;
            if (!maybe.contains(user))
                return QStringLiteral("account %1 was never registered").arg(QString::fromLatin1(user));
            accounts[user].stored = values;
        }
        maybe.clear();
        return {};
    }
};

} // namespace

class CrashSafetyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(RegistryProcess::binary()).isExecutable(), "TAVREGISTRY_BIN must name the binary");
    }

    void killsWhileServersRegisterAndChangeAccounts() {
        QTemporaryDir dir;
        const QString dat = QDir(dir.path()).filePath("qbrx.dat");
        QRandomGenerator rng(20240611);
        Model model;
        int nextAccount = 1;
        int nextChange = 1;
        int kills = 0, registered = 0, confirmedChanges = 0, wireLogins = 0;

        for (int round = 0; round <= 32; ++round) {
            // The registry holds the file locked while it runs, so the file is
            // looked at between the kill and the restart: it opens, is sound and
            // holds what peers were told.
            if (QFile::exists(dat)) {
                FileView view(dat);
                QVERIFY2(view.open(), "qbrx.dat does not open after the kill");
                QCOMPARE(view.integrity(), QStringLiteral("ok"));
                const QString problem = model.checkAndAdopt(view.accounts());
                QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("after kill %1: %2").arg(kills).arg(problem)));
            }
            RegistryProcess registry;
            const quint16 port = registry.start(dir.path());
            QVERIFY2(port != 0, registry.errors().constData());
            // ...and serves it: two known accounts log in and get their stored name and description.
            std::vector<std::unique_ptr<WirePeer>> sessions;
            std::vector<QByteArray> sessionUsers;
            for (auto it = model.accounts.begin(); it != model.accounts.end() && sessions.size() < 2; ++it) {
                if (rng.bounded(3) != 0)
                    continue;
                auto peer = std::make_unique<WirePeer>();
                QVERIFY(peer->connectTo(port));
                const auto reply = peer->logIn(1, it->first.toLower(), it->second.stored.password.toLower());
                QVERIFY(reply);
                QCOMPARE(*reply, QByteArray(1, '\0') + it->second.stored.name + '\0' + it->second.stored.description);
                ++wireLogins;
                sessions.push_back(std::move(peer));
                sessionUsers.push_back(it->first);
            }
            if (round == 32) {
                QVERIFY(registry.terminate());
                break;
            }

            WirePeer op;
            QVERIFY(op.connectTo(port));
            QVERIFY(op.loginOperator());
            QVERIFY(op.sendFrame(13));

            std::atomic<bool> killed{false};
            const int delayMs = 30 + int(rng.bounded(500));
            const auto pid = pid_t(registry.pid());
            std::thread killer([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                ::kill(pid, SIGKILL);
                killed = true;
            });

            QByteArray failure;
            while (!killed) {
                if (sessions.empty() || rng.bounded(3) == 0) {
                    const QByteArray user = "acc" + QByteArray::number(nextAccount++);
                    const QByteArray password = "pw" + QByteArray::number(nextAccount);
                    model.maybe.insert(user.toUpper());
                    auto peer = std::make_unique<WirePeer>();
                    if (!peer->connectTo(port, 500))
                        break;
                    const auto reply = peer->logIn(0, user, password);
                    if (!reply)
                        break;
                    if (*reply == QByteArray(1, char(3))) {
                        // The operator's switch had not been read yet; try again.
                        model.maybe.remove(user.toUpper());
                        continue;
                    }
                    if (*reply != QByteArray("\0<untitled>\0", 12)) {
                        failure = "unexpected registration reply " + reply->toHex();
                        break;
                    }
                    model.maybe.remove(user.toUpper());
                    model.accounts[user.toUpper()].stored = {password.toUpper(), "<untitled>", ""};
                    ++registered;
                    sessions.push_back(std::move(peer));
                    sessionUsers.push_back(user.toUpper());
                    if (sessions.size() > 6) {
                        sessions.erase(sessions.begin());
                        sessionUsers.erase(sessionUsers.begin());
                    }
                    continue;
                }
                // A password change and a new name and description in one write.
                const size_t k = rng.bounded(quint32(sessions.size()));
                const QByteArray tag = QByteArray::number(nextChange++);
                const Values change{"PASS" + tag, "name " + tag, "about " + tag};
                Account& account = model.accounts[sessionUsers[k]];
                account.pending.append(change);
                QByteArray bytes;
                const QByteArray five = "\x05" + change.name + '\0' + change.description;
                const QByteArray six = "\x06" + change.password.toLower();
                for (const QByteArray& m : {six, five})
                    bytes += QByteArray(1, char(m.size() >> 8)) + char(m.size() & 0xFF) + m;
                if (!sessions[k]->sendRaw(bytes))
                    break;
                if (rng.bounded(2) == 0)
                    continue;
                // Confirmed once a list query shows the new name: the password change came first.
                bool seen = false;
                for (int attempt = 0; attempt < 50 && !seen && !killed; ++attempt) {
                    const auto list = listServers(port);
                    if (!list)
                        break;
                    const auto it = list->find(sessionUsers[k]);
                    seen = it != list->end() && it->second == std::make_pair(change.name, change.description);
                }
                if (seen) {
                    account.stored = change;
                    account.pending.clear();
                    ++confirmedChanges;
                }
            }
            killer.join();
            registry.kill();
            QVERIFY2(failure.isEmpty(), failure.constData());
            ++kills;
        }
        qInfo("%d kills survived; %d registrations and %d changes confirmed; %d logins checked on the wire; "
              "%zu accounts in the file",
              kills, registered, confirmedChanges, wireLogins, model.accounts.size());
        QVERIFY(kills >= 30);
        QVERIFY(registered > 30);
        QVERIFY(confirmedChanges > 10);
    }

    void killsDuringStartupCompaction() {
        QTemporaryDir dir;
        const QString dat = QDir(dir.path()).filePath("qbrx.dat");
        const QString tmp = QDir(dir.path()).filePath("qbrx.tmp");
        {
            RegistryProcess registry;
            QVERIFY(registry.start(dir.path()) != 0);
            QVERIFY(registry.terminate());
        }
        // Enough records that the compaction takes a while.
        {
            const QString name = QStringLiteral("crash-fill");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(dat);
                QVERIFY(db.open());
                QVERIFY(db.transaction());
                QSqlQuery q(db);
                QVERIFY(q.prepare("INSERT INTO Servers (User, Password, Name, Description, UpdateURL, Official) "
                                  "VALUES (?, ?, ?, ?, ?, ?)"));
                for (int i = 0; i < 30000; ++i) {
                    q.addBindValue(QStringLiteral("bulk%1").arg(i));
                    q.addBindValue(QStringLiteral("PW%1").arg(i));
                    q.addBindValue(QStringLiteral("Server %1").arg(i));
                    q.addBindValue(QString(200, QChar(u'a' + i % 26)));
                    q.addBindValue(QString());
                    q.addBindValue(i % 2);
                    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
                }
                QVERIFY(db.commit());
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
        QByteArray original;
        {
            FileView view(dat);
            original = view.digest();
        }

        QElapsedTimer timer;
        timer.start();
        {
            RegistryProcess registry;
            QVERIFY(registry.start(dir.path(), 60000) != 0);
            QVERIFY(registry.terminate());
        }
        const qint64 startupMs = qMax<qint64>(timer.elapsed(), 20);

        QRandomGenerator rng(77);
        int inCompaction = 0;
        const int kKills = 12;
        for (int i = 0; i < kKills; ++i) {
            RegistryProcess registry;
            QVERIFY(registry.launch(dir.path()));
            if (i % 2 == 0) {
                // Wait for the work file to appear, then kill inside the copy.
                QElapsedTimer wait;
                wait.start();
                while (!QFile::exists(tmp) && wait.elapsed() < startupMs * 3)
                    QThread::usleep(200);
                QThread::usleep(rng.bounded(quint32(startupMs * 300)));
            } else {
                QThread::msleep(rng.bounded(quint32(startupMs)));
            }
            registry.kill();
            inCompaction += QFile::exists(tmp);

            RegistryProcess again;
            QVERIFY2(again.start(dir.path(), 60000) != 0, again.errors().constData());
            {
                FileView view(dat);
                QVERIFY(view.open());
                QCOMPARE(view.integrity(), QStringLiteral("ok"));
                QCOMPARE(view.digest(), original);
            }
            QVERIFY(again.terminate());
            QVERIFY2(!QFile::exists(tmp), "the work file outlived a clean start");
        }
        qInfo("start-up with 30000 accounts took %lld ms; %d kills, %d of them left a work file behind",
              startupMs, kKills, inCompaction);
        QVERIFY(inCompaction >= kKills / 4);
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "tst_crash_safety.moc"
