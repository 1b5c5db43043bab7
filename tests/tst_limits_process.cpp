// The per-address limits of a tavregistry process, over real connections
// from several loopback addresses with the client library: the connection
// cap at its boundary, a lower cap by SIGHUP, and the lockout's line on
// standard error.
#include "client/blocking_client.h"
#include "client/messages.h"
#include "support/registry_process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace TavClient;

namespace {

const TavClient::Frame kFullNotice{0, QByteArray(1, '\x04')};

std::unique_ptr<BlockingClient> connectFrom(const QString& local, quint16 port) {
    auto c = std::make_unique<BlockingClient>(3000);
    c->setLocalAddress(local);
    if (!c->connectTo(QStringLiteral("127.0.0.1"), port))
        qWarning("connect from %s: %s", qPrintable(local), qPrintable(c->errorText()));
    return c;
}

// Admitted callers hear nothing and stay; refused ones hear the full notice
// and are closed.
bool staysOpen(BlockingClient& c, int ms = 300) {
    return !c.readFrame(ms) && c.error() == BlockingClient::Error::Timeout;
}

bool refusedAsFull(BlockingClient& c) {
    const std::optional<TavClient::Frame> f = c.readFrame(3000);
    if (!f || !(*f == kFullNotice))
        return false;
    return !c.readFrame(3000) && c.error() == BlockingClient::Error::Closed;
}

void put(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray waitForError(RegistryProcess& p, const QByteArray& wanted, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!p.errors().contains(wanted) && !deadline.hasExpired())
        p.process().waitForReadyRead(50);
    return p.errors();
}

} // namespace

class LimitsProcessTest : public QObject {
    Q_OBJECT

private slots:
    void capRefusesTheNextCallerFromThatAddressOnly() {
        QTemporaryDir dir;
        RegistryProcess p;
        p.setExtraArguments({"--limits-connections_per_address", "2", "--limits-exempt="});
        const quint16 port = p.start(dir.path());
        QVERIFY2(port != 0, p.errors().constData());

        auto first = connectFrom("127.0.0.2", port);
        QVERIFY(staysOpen(*first));
        auto second = connectFrom("127.0.0.2", port);
        QVERIFY(staysOpen(*second));
        auto third = connectFrom("127.0.0.2", port);
        QVERIFY(refusedAsFull(*third));
        auto other = connectFrom("127.0.0.3", port);
        QVERIFY(staysOpen(*other));
        QVERIFY(staysOpen(*first, 50));

        // A slot given back is a slot this address may take again.
        first->close();
        bool admitted = false;
        for (int i = 0; i < 40 && !admitted; ++i) {
            auto again = connectFrom("127.0.0.2", port);
            const std::optional<TavClient::Frame> f = again->readFrame(200);
            if (!f && again->error() == BlockingClient::Error::Timeout) {
                admitted = true;
                auto beyond = connectFrom("127.0.0.2", port);
                QVERIFY(refusedAsFull(*beyond));
                first = std::move(again);
            } else {
                QVERIFY(f && *f == kFullNotice);
            }
        }
        QVERIFY(admitted);
        QVERIFY(staysOpen(*second, 50));
        QVERIFY(p.terminate());
    }

    void sighupLowersTheCapWithoutClosingHeldSlots() {
        QTemporaryDir dir;
        const QString conf = dir.filePath(QStringLiteral("tavregistry.conf"));
        put(conf, "[limits]\nconnections_per_address = 3\nexempt =\n");
        RegistryProcess p;
        const quint16 port = p.start(dir.path());
        QVERIFY2(port != 0, p.errors().constData());

        std::vector<std::unique_ptr<BlockingClient>> held;
        for (int i = 0; i < 3; ++i) {
            held.push_back(connectFrom("127.0.0.4", port));
            QVERIFY(staysOpen(*held.back()));
        }
        QVERIFY(refusedAsFull(*connectFrom("127.0.0.4", port)));

        put(conf, "[limits]\nconnections_per_address = 1\nexempt =\n");
        ::kill(pid_t(p.pid()), SIGHUP);
        const QByteArray reloaded = "tavregistry: configuration reloaded from " + QFile::encodeName(conf) + "\n";
        QVERIFY2(waitForError(p, reloaded).contains(reloaded), p.errors().constData());
        for (auto& c : held)
            QVERIFY(staysOpen(*c, 100));
        QVERIFY(refusedAsFull(*connectFrom("127.0.0.4", port)));
        auto one = connectFrom("127.0.0.5", port);
        QVERIFY(staysOpen(*one));
        QVERIFY(refusedAsFull(*connectFrom("127.0.0.5", port)));

        // Back to no cap: the same address is taken again.
        put(conf, "[limits]\nexempt =\n");
        ::kill(pid_t(p.pid()), SIGHUP);
        QVERIFY(waitForError(p, reloaded + reloaded).contains(reloaded + reloaded));
        auto more = connectFrom("127.0.0.5", port);
        QVERIFY(staysOpen(*more));
        QVERIFY(p.terminate());
    }

    void lockoutIsOneLineOnStandardError() {
        QTemporaryDir dir;
        RegistryProcess p;
        p.setExtraArguments({"--limits-exempt=", "--limits-login_failures", "3"});
        const quint16 port = p.start(dir.path());
        QVERIFY2(port != 0, p.errors().constData());
        for (int i = 0; i < 3; ++i) {
            auto c = connectFrom("127.0.0.6", port);
            QVERIFY(c->send(Messages::login("nobody", "guess")));
            const std::optional<TavClient::Frame> reply = c->readFrame();
            QVERIFY(reply);
            QCOMPARE(int(reply->type), 3);
        }
        const QByteArray line = "tavregistry: 127.0.0.6 locked out for 300 s after 3 failed logins\n";
        QVERIFY2(waitForError(p, line).contains(line), p.errors().constData());

        auto locked = connectFrom("127.0.0.6", port);
        QVERIFY(locked->send(Messages::login("nobody", "guess")));
        QVERIFY(!locked->readFrame());
        QCOMPARE(int(locked->error()), int(BlockingClient::Error::Closed));
        QCOMPARE(locked->bytesReceived(), qint64(0));
        // Another address is still answered.
        auto other = connectFrom("127.0.0.7", port);
        QVERIFY(other->send(Messages::login("nobody", "guess")));
        const std::optional<TavClient::Frame> reply = other->readFrame();
        QVERIFY(reply);
        QCOMPARE(int(reply->type), 3);
        QCOMPARE(p.errors().count("locked out"), 1);
        QVERIFY(p.terminate());
    }
};

QTEST_GUILESS_MAIN(LimitsProcessTest)
#include "tst_limits_process.moc"
