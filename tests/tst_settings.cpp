// The two persistent options: text-to-Boolean rules, loading, and what
// start-up does with them.
#include "host/settings.h"
#include "platform/service_manager.h"
#include "support/registry_fixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Records the ready notification and what the registry looked like then.
class RecordingServiceManager final : public ServiceManager {
public:
    explicit RecordingServiceManager(MemorySocketLayer& net, Registry* registry = nullptr)
        : m_net(net), m_registry(registry) {}
    void attach(Registry* registry) { m_registry = registry; }
    bool install(QString*) override { return true; }
    bool uninstall(QString*) override { return true; }
    void notifyReady() override {
        calls << QStringLiteral("ready");
        listeningWhenReady = m_net.listening();
        linesWhenReady = m_registry ? m_registry->eventLog().lines().size() : -1;
    }
    void notifyStopping() override { calls << QStringLiteral("stopping"); }

    QStringList calls;
    bool listeningWhenReady = true;
    qsizetype linesWhenReady = -1;

private:
    MemorySocketLayer& m_net;
    Registry* m_registry;
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void textToBoolean_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("True") << "True" << true;
        QTest::newRow("true") << "true" << true;
        QTest::newRow("TRUE") << "TRUE" << true;
        QTest::newRow("tRuE") << "tRuE" << true;
        QTest::newRow("False") << "False" << false;
        QTest::newRow("FALSE") << "FALSE" << false;
        QTest::newRow("1") << "1" << true;
        QTest::newRow("-1") << "-1" << true;
        QTest::newRow("42") << "42" << true;
        QTest::newRow("0.5") << "0.5" << true;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("00") << "00" << false;
        QTest::newRow("0.0") << "0.0" << false;
        QTest::newRow("-0") << "-0" << false;
        QTest::newRow("yes") << "yes" << false;
        QTest::newRow("on") << "on" << false;
        QTest::newRow("Truex") << "Truex" << false;
        QTest::newRow("1x") << "1x" << false;
        QTest::newRow("nan") << "nan" << false;
        QTest::newRow("inf") << "inf" << false;
        QTest::newRow("empty") << "" << false;
    }
    void textToBoolean() {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(Settings::textToBoolean(text), expected);
    }

    void booleanTextIsTrueOrFalse() {
        QCOMPARE(Settings::booleanText(true), QStringLiteral("True"));
        QCOMPARE(Settings::booleanText(false), QStringLiteral("False"));
    }

    void noFileMeansBothOffAndNoFileCreated() {
        QTemporaryDir dir;
        Settings settings(dir.path());
        settings.setServiceSetting(true);
        settings.setAutoAllowSetting(true);
        settings.loadSettings();
        QVERIFY(!settings.serviceSetting());
        QVERIFY(!settings.autoAllowSetting());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("server.ini"))));
        QCOMPARE(settings.filePath(), dir.filePath(QStringLiteral("server.ini")));
    }

    void loadSettings_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("service");
        QTest::addColumn<bool>("autoAllow");
        QTest::newRow("lower-case true and 1") << QByteArray("[TavRegistry]\nService=true\nAutoAllow=1\n") << true
                                               << true;
        QTest::newRow("written form") << QByteArray("[TavRegistry]\nService=False\nAutoAllow=True\n") << false
                                      << true;
        QTest::newRow("yes reads as false") << QByteArray("[TavRegistry]\nService=yes\nAutoAllow=yes\n") << false
                                            << false;
        QTest::newRow("empty values") << QByteArray("[TavRegistry]\nService=\nAutoAllow=\n") << false << false;
        QTest::newRow("other section only") << QByteArray("[Other]\nService=True\nAutoAllow=True\n") << false
                                            << false;
    }
    void loadSettings() {
        QFETCH(QByteArray, file);
        QFETCH(bool, service);
        QFETCH(bool, autoAllow);
        QTemporaryDir dir;
        put(dir.filePath(QStringLiteral("server.ini")), file);
        Settings settings(dir.path());
        settings.loadSettings();
        QCOMPARE(settings.serviceSetting(), service);
        QCOMPARE(settings.autoAllowSetting(), autoAllow);
    }

    void writeSettingWritesTheRegistrySection() {
        QTemporaryDir dir;
        Settings settings(dir.path());
        QVERIFY(settings.writeSetting(QStringLiteral("Service"), QStringLiteral("True")));
        QFile f(settings.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[TavRegistry]\nService=True\n"));
        QCOMPARE(settings.readSetting(QStringLiteral("SERVICE")), QStringLiteral("True"));
        // Writing changes the file, not the in-memory copy.
        QVERIFY(!settings.serviceSetting());
    }

    void startupAppliesAutoAllowToTheSwitch_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("AutoAllow=1") << QByteArray("[TavRegistry]\nAutoAllow=1\n") << true;
        QTest::newRow("AutoAllow=False") << QByteArray("[TavRegistry]\nAutoAllow=False\n") << false;
        QTest::newRow("no file") << QByteArray() << false;
    }
    void startupAppliesAutoAllowToTheSwitch() {
        QFETCH(QByteArray, file);
        QFETCH(bool, allowed);
        RegistryFixture f(false);
        if (!file.isEmpty())
            put(f.dataDir.filePath(QStringLiteral("server.ini")), file);
        QVERIFY(f.start());
        QCOMPARE(f.reg().settings().autoAllowSetting(), allowed);
        QCOMPARE(f.reg().newAccountsAllowed(), allowed);
    }

    void serviceSettingNotifiesReadyOnceListening() {
        RegistryFixture f(false);
        put(f.dataDir.filePath(QStringLiteral("server.ini")), "[TavRegistry]\nservice=TRUE\n");
        RecordingServiceManager manager(f.net, f.registry.get());
        f.reg().setServiceManager(&manager);
        QVERIFY(f.start());
        QCOMPARE(manager.calls, QStringList{QStringLiteral("ready")});
        QVERIFY(manager.listeningWhenReady);
        QCOMPARE(manager.linesWhenReady, 0); // before the start-up line
        QVERIFY(f.net.listening());
        f.reg().shutdown();
        QCOMPARE(manager.calls, (QStringList{QStringLiteral("ready"), QStringLiteral("stopping")}));
        f.reg().setServiceManager(nullptr);
    }

    void serviceSettingOffDoesNotTalkToTheServiceManager() {
        RegistryFixture f(false);
        put(f.dataDir.filePath(QStringLiteral("server.ini")), "[TavRegistry]\nService=0\nAutoAllow=True\n");
        RecordingServiceManager manager(f.net);
        f.reg().setServiceManager(&manager);
        QVERIFY(f.start());
        f.reg().shutdown();
        QVERIFY(manager.calls.isEmpty());
        f.reg().setServiceManager(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
