// The registry's own configuration file: what a file may hold, the messages
// for what it may not, command-line overrides and reloading.
#include "app/command_line.h"
#include "app/configuration.h"
#include "platform/config_file.h"
#include "support/test_files.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// A schema of every kind of key, apart from the registry's (which later work fills).
const ConfigSchema& schema() {
    static const ConfigSchema s{
        {QStringLiteral("limits"),
         {ConfigKey::integer(QStringLiteral("per-address"), 1, 255, 8, true),
          ConfigKey::boolean(QStringLiteral("strict"), false, true)}},
        {QStringLiteral("database"), {ConfigKey::text(QStringLiteral("url"), QStringLiteral("sqlite"), false)}},
    };
    return s;
}

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT

private slots:
    void emptyTextGivesTheDefaults() {
        QString error;
        const auto v = ConfigFile::parse(schema(), "", QStringLiteral("f"), &error);
        QVERIFY(v);
        QCOMPARE(v->value("limits", "per-address"), QVariant(qint64(8)));
        QCOMPARE(v->value("limits", "strict"), QVariant(false));
        QCOMPARE(v->value("database", "url"), QVariant(QStringLiteral("sqlite")));
    }

    void commentsBlanksSpacesAndLineEnds() {
        const QByteArray text = "; leading comment\r\n"
                                "# another\n"
                                "\n"
                                "  [ limits ]  \r\n"
                                "\tper-address=  12 \n"
                                "strict = Yes\n"
                                "[database]\n"
                                "url = postgres://h/db ; kept as written\n";
        QString error;
        const auto v = ConfigFile::parse(schema(), text, QStringLiteral("f"), &error);
        QVERIFY2(v, qPrintable(error));
        QCOMPARE(v->value("limits", "per-address"), QVariant(qint64(12)));
        QCOMPARE(v->value("limits", "strict"), QVariant(true));
        QCOMPARE(v->value("database", "url"), QVariant(QStringLiteral("postgres://h/db ; kept as written")));
    }

    void faultsNameFileLineAndWhat_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown section") << QByteArray("[limits]\n[limts]\n") << "/e/t.conf:2: unknown section [limts]";
        QTest::newRow("unknown key") << QByteArray("#\n[limits]\nper-adress = 3\n")
                                     << "/e/t.conf:3: unknown key 'per-adress' in [limits]";
        QTest::newRow("key of another section") << QByteArray("[database]\nstrict = 1\n")
                                                << "/e/t.conf:2: unknown key 'strict' in [database]";
        QTest::newRow("below the range") << QByteArray("[limits]\nper-address = 0\n")
                                         << "/e/t.conf:2: bad value '0' for per-address in [limits]: a whole number from 1 to 255 is wanted";
        QTest::newRow("above the range") << QByteArray("[limits]\nper-address = 256\n")
                                         << "/e/t.conf:2: bad value '256' for per-address in [limits]: a whole number from 1 to 255 is wanted";
        QTest::newRow("not a number") << QByteArray("[limits]\nper-address = 8k\n")
                                      << "/e/t.conf:2: bad value '8k' for per-address in [limits]: a whole number from 1 to 255 is wanted";
        QTest::newRow("empty number") << QByteArray("[limits]\nper-address =\n")
                                      << "/e/t.conf:2: bad value '' for per-address in [limits]: a whole number from 1 to 255 is wanted";
        QTest::newRow("not a boolean") << QByteArray("[limits]\nstrict = maybe\n")
                                       << "/e/t.conf:2: bad value 'maybe' for strict in [limits]: true or false is wanted";
        QTest::newRow("set twice") << QByteArray("[limits]\nstrict = 1\n[database]\n[limits]\nstrict = 0\n")
                                   << "/e/t.conf:5: strict in [limits] is set a second time";
        QTest::newRow("before a section") << QByteArray("\nstrict = 1\n")
                                          << "/e/t.conf:2: key 'strict' stands before any [section]";
        QTest::newRow("open header") << QByteArray("[limits\n") << "/e/t.conf:1: a section header must end with ']'";
        QTest::newRow("no equals sign") << QByteArray("[limits]\nstrict\n")
                                        << "/e/t.conf:2: expected 'key = value', a [section] or a comment, not 'strict'";
        // Kept as it is here: whatever writes the message out escapes it.
        QTest::newRow("control character kept for the writer to escape") << QByteArray("[li\x1bmits]\n")
                                                         << "/e/t.conf:1: unknown section [li\x1bmits]";
    }
    void faultsNameFileLineAndWhat() {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QString error;
        QVERIFY(!ConfigFile::parse(schema(), text, QStringLiteral("/e/t.conf"), &error));
        QCOMPARE(error, message);
    }

    void overridesWinAndAreChecked() {
        ConfigValues v = ConfigValues::defaults(schema());
        QString error;
        QVERIFY(ConfigFile::applyOverride(schema(), v, "limits", "per-address", "255", &error));
        QCOMPARE(v.value("limits", "per-address"), QVariant(qint64(255)));
        QVERIFY(!ConfigFile::applyOverride(schema(), v, "limits", "per-address", "256", &error));
        QCOMPARE(error, QStringLiteral("bad value '256' for per-address in [limits]: a whole number from 1 to 255 is wanted"));
        QCOMPARE(v.value("limits", "per-address"), QVariant(qint64(255)));
        QVERIFY(!ConfigFile::applyOverride(schema(), v, "limits", "nope", "1", &error));
        QCOMPARE(error, QStringLiteral("unknown option --limits-nope"));
        QVERIFY(!ConfigFile::applyOverride(schema(), v, "http", "listen", "1", &error));
        QCOMPARE(error, QStringLiteral("unknown option --http-listen"));
    }

    void configurationReadsTheFileThenTheCommandLine() {
        QTemporaryDir dir;
        const QString file = dir.filePath("tavregistry.conf");
        put(file, "[limits]\nper-address = 4\nstrict = true\n");
        Configuration c(schema(), {}, file, {{"limits", "per-address", "9"}});
        QString error;
        QVERIFY2(c.load(&error), qPrintable(error));
        QCOMPARE(c.path(), file);
        QCOMPARE(c.values().value("limits", "per-address"), QVariant(qint64(9)));
        QCOMPARE(c.values().value("limits", "strict"), QVariant(true));
    }

    void missingDefaultFileIsTheDefaultsButAMissingExplicitOneIsAnError() {
        QTemporaryDir dir;
        Configuration byDefault(schema(), {}, dir.filePath("tavregistry.conf"), {});
        QString error;
        QVERIFY(byDefault.load(&error));
        QCOMPARE(byDefault.path(), QString());
        QCOMPARE(byDefault.values(), ConfigValues::defaults(schema()));

        const QString missing = dir.filePath("given.conf");
        Configuration given(schema(), missing, dir.filePath("tavregistry.conf"), {});
        QVERIFY(!given.load(&error));
        QVERIFY2(error.startsWith(QStringLiteral("cannot read ") + missing + QStringLiteral(": ")), qPrintable(error));
    }

    void reloadTakesAValidFileKeepsFixedKeysAndRefusesAnInvalidOne() {
        QTemporaryDir dir;
        const QString file = dir.filePath("t.conf");
        put(file, "[limits]\nper-address = 4\n");
        Configuration c(schema(), file, {}, {});
        QString error;
        QVERIFY(c.load(&error));

        put(file, "[limits]\nper-address = 5\n[database]\nurl = other\n");
        QStringList notices;
        QVERIFY(c.reload(&notices, &error));
        QCOMPARE(c.values().value("limits", "per-address"), QVariant(qint64(5)));
        QCOMPARE(c.values().value("database", "url"), QVariant(QStringLiteral("sqlite")));
        QCOMPARE(notices, QStringList{QStringLiteral("url in [database] changes only at the next start")});

        put(file, "[limits]\nper-address = 6\nstrict = sometimes\n");
        notices.clear();
        QVERIFY(!c.reload(&notices, &error));
        QCOMPARE(error, file + QStringLiteral(":3: bad value 'sometimes' for strict in [limits]: true or false is wanted"));
        QCOMPARE(c.values().value("limits", "per-address"), QVariant(qint64(5)));
        QVERIFY(notices.isEmpty());
    }

    void commandLineConfigOptions() {
        CommandLine cl = CommandLine::parse({"tavregistryd", "--config", "/etc/t.conf"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Run));
        QCOMPARE(cl.configFile, QStringLiteral("/etc/t.conf"));
        cl = CommandLine::parse({"tavregistryd", "--config="});
        QCOMPARE(cl.errorText, QStringLiteral("--config needs a file"));
        cl = CommandLine::parse({"tavregistryd", "--database-no-such-key=1"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Error));
        QCOMPARE(cl.errorText, QStringLiteral("unknown option --database-no-such-key"));
        cl = CommandLine::parse({"tavregistryd", "--limits-no-such-key"});
        QCOMPARE(cl.errorText, QStringLiteral("option --limits-no-such-key needs a value"));
        const QString help = CommandLine::helpText("tavregistryd");
        for (const char* option : {"--config FILE", "--SECTION-KEY VALUE", "SIGHUP", "SIGQUIT", "JOURNAL_STREAM",
                                   "--limits-connections_per_address N", "--limits-login_failures N",
                                   "--limits-login_window S", "--limits-lockout S",
                                   "--limits-registrations_per_hour N", "--limits-list_queries_per_second N",
                                   "--limits-exempt LIST", "--limits-operator_from LIST", "--copy-to-database URL",
                                   "lease = S"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_config_file.moc"
