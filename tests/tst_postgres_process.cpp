// tavregistry processes on a shared PostgreSQL database: accounts made at one
// registry log in at the other; an unreachable server stops start-up with a
// message naming it; the command line never carries a password.
#include "app/command_line.h"
#include "protocol/message_types.h"
#include "support/postgres_server.h"
#include "support/registry_process.h"
#include "support/test_engine.h"
#include "support/test_files.h"
#include "support/wire_peer.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class PostgresProcessTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (RegistryProcess::binary().isEmpty())
            QSKIP("TAVREGISTRY_BIN is not set");
        if (const QString why = PostgresServer::missingReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void aPasswordOnTheCommandLineIsRefused() {
        CommandLine cl = CommandLine::parse({"tavregistryd", "--database", "postgresql://tav:hunter2@db/tav"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Error));
        QCOMPARE(cl.errorText, QStringLiteral("the database URL on the command line holds a password: put it in the "
                                              "file named by [database] password_file, or in ~/.pgpass or PGPASSFILE"));
        cl = CommandLine::parse({"tavregistryd", "--database-url=host=db password=hunter2"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Error));
        QVERIFY(!cl.errorText.contains(QLatin1String("hunter2")));
        cl = CommandLine::parse({"tavregistryd", "--database", "host=/run/postgresql dbname=tav"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Run));
        QCOMPARE(cl.overrides.size(), 1);
        QCOMPARE(cl.overrides.first().section + QLatin1Char('.') + cl.overrides.first().key,
                 QStringLiteral("database.url"));
        QCOMPARE(cl.overrides.first().value, QStringLiteral("host=/run/postgresql dbname=tav"));
    }

    void anUnreachableServerStopsStartUpNamingIt() {
        QTemporaryDir dir;
        RegistryProcess registry;
        registry.setExtraArguments({"--database", "host=/nonexistent/socket dbname=tav user=tav"});
        QVERIFY(registry.launch(dir.path()));
        QVERIFY(registry.process().waitForFinished(30000));
        QCOMPARE(registry.process().exitCode(), 1);
        const QByteArray errors = registry.errors();
        QVERIFY2(errors.contains("cannot open the PostgreSQL database tav on the socket in /nonexistent/socket as tav"),
                 errors.constData());
        // Nothing of SQLite's: no qbrx.dat made in the data folder.
        QVERIFY(!QFile::exists(QDir(dir.path()).filePath(QStringLiteral("qbrx.dat"))));
    }

    void anUnreadablePasswordFileStopsStartUp() {
        QTemporaryDir dir;
        const QString missing = QDir(dir.path()).filePath(QStringLiteral("no-such-password"));
        put(QDir(dir.path()).filePath(QStringLiteral("tavregistry.conf")),
            "[database]\nurl = host=/nonexistent dbname=tav\npassword_file = " + missing.toUtf8() + "\n");
        RegistryProcess registry;
        QVERIFY(registry.launch(dir.path()));
        QVERIFY(registry.process().waitForFinished(30000));
        QCOMPARE(registry.process().exitCode(), 1);
        const QByteArray errors = registry.errors();
        QVERIFY2(errors.contains("cannot read the database password file " + missing.toUtf8() + ": "),
                 errors.constData());
    }

    void anAccountRegisteredAtOneRegistryLogsInAtTheOther() {
        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        QTemporaryDir dirA, dirB;
        put(QDir(dirA.path()).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
        // The URL from the configuration file, as a service would have it.
        put(QDir(dirB.path()).filePath(QStringLiteral("tavregistry.conf")),
            "[database]\nurl = " + url.toUtf8() + "\n");
        RegistryProcess a, b;
        a.setExtraArguments({"--database", url});
        const quint16 portA = a.start(dirA.path());
        QVERIFY2(portA, a.errors().constData());
        const quint16 portB = b.start(dirB.path());
        QVERIFY2(portB, b.errors().constData());

        WirePeer atA;
        QVERIFY(atA.connectTo(portA));
        const auto registered = atA.logIn(MessageType::FromConnected::Register, "Shared1", "pw1");
        QVERIFY(registered);
        QCOMPARE(quint8(registered->at(0)), MessageType::ToServer::Accepted);
        atA.close();

        WirePeer atB;
        QVERIFY(atB.connectTo(portB));
        const auto logged = atB.logIn(MessageType::FromConnected::Login, "SHARED1", "pw1");
        QVERIFY(logged);
        QCOMPARE(quint8(logged->at(0)), MessageType::ToServer::Accepted);
        // A wrong password is refused there with the usual reply.
        WirePeer wrong;
        QVERIFY(wrong.connectTo(portB));
        const auto refused = wrong.logIn(MessageType::FromConnected::Login, "shared1", "nope");
        QVERIFY(refused);
        QVERIFY(quint8(refused->at(0)) != MessageType::ToServer::Accepted);
        // No file of SQLite's in either folder.
        QVERIFY(!QFile::exists(QDir(dirA.path()).filePath(QStringLiteral("qbrx.dat"))));
        QVERIFY(!QFile::exists(QDir(dirB.path()).filePath(QStringLiteral("qbrx.dat"))));
        QVERIFY(a.terminate());
        QVERIFY(b.terminate());
    }
};

QTEST_GUILESS_MAIN(PostgresProcessTest)
#include "tst_postgres_process.moc"
