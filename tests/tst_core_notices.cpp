// The core tells its owner what is no event of the registry through one
// notice signal, and writes nothing to standard error itself.
#include "support/registry_fixture.h"

#include "database/database_file.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

class CoreNoticesTest : public QObject {
    Q_OBJECT

private slots:
    void recoveredDatabaseIsAnInformationNotice() {
        RegistryFixture f(false);
        {
            // A first run leaves a database; a crash during compaction leaves
            // only the work file.
            RegistryFixture first(false);
            QVERIFY(first.start());
            first.reg().shutdown();
            QVERIFY(QFile::copy(DatabaseFile::databasePath(first.dataDir.path()),
                                DatabaseFile::workFilePath(f.dataDir.path())));
        }
        QSignalSpy notices(&f.reg(), &Registry::notice);
        QVERIFY(f.start());
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).value<NoticeSeverity>(), NoticeSeverity::Info);
        const QString text = notices.at(0).at(1).toString();
        QVERIFY(text.contains(QStringLiteral("recovered")));
        QVERIFY(text.contains(QStringLiteral("qbrx.tmp")));
        // A notice is not an event: the event view has only the start-up line.
        QCOMPARE(f.reg().eventLog().lines(), QStringList{f.reg().startupLine()});
    }

    void cleanStartSendsNoNotice() {
        RegistryFixture f(false);
        QSignalSpy notices(&f.reg(), &Registry::notice);
        QVERIFY(f.start());
        QCOMPARE(notices.size(), 0);
    }

    void failedSettingsWriteIsAWarning() {
        RegistryFixture f;
        // A folder where the file should be: the write cannot succeed.
        QVERIFY(QDir(f.dataDir.path()).mkdir(QStringLiteral("server.ini")));
        QSignalSpy notices(&f.reg(), &Registry::notice);
        QVERIFY(!f.reg().settings().writeSetting(QStringLiteral("AutoAllow"), QStringLiteral("True")));
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).value<NoticeSeverity>(), NoticeSeverity::Warning);
        const QString prefix =
            QStringLiteral("cannot write AutoAllow to ") + f.reg().settings().filePath() + QStringLiteral(": ");
        QVERIFY2(notices.at(0).at(1).toString().startsWith(prefix), qPrintable(notices.at(0).at(1).toString()));
        QVERIFY(notices.at(0).at(1).toString().size() > prefix.size()); // the reason follows
    }
};

QTEST_GUILESS_MAIN(CoreNoticesTest)
#include "tst_core_notices.moc"
