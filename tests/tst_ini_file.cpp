// The INI reader and writer: profile read semantics and line-preserving writes.
#include "support/test_files.h"
#include "platform/ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {


} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init() {
        m_path = m_dir.filePath(QStringLiteral("server.ini"));
        QFile::remove(m_path);
    }

    void missingFileReadsEmptyAndIsNotCreated() {
        QCOMPARE(IniFile::read(m_path, "TavRegistry", "Service"), QString());
        QVERIFY(!QFile::exists(m_path));
    }

    void readSemantics_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("exact") << QByteArray("[TavRegistry]\nService=True\n") << "TavRegistry" << "Service" << "True";
        QTest::newRow("section and key in other case")
            << QByteArray("[tavREGISTRY]\nSERVICE=true\n") << "TavRegistry" << "Service" << "true";
        QTest::newRow("blanks around names and value")
            << QByteArray("  [ TavRegistry ]  \n  Service  =  True  \n") << "TavRegistry" << "Service" << "True";
        QTest::newRow("crlf") << QByteArray("[TavRegistry]\r\nService=True\r\n") << "TavRegistry" << "Service"
                              << "True";
        QTest::newRow("no final line break") << QByteArray("[TavRegistry]\nService=1") << "TavRegistry" << "Service"
                                             << "1";
        QTest::newRow("first matching key wins")
            << QByteArray("[TavRegistry]\nService=first\nservice=second\n") << "TavRegistry" << "Service" << "first";
        QTest::newRow("first matching section wins")
            << QByteArray("[TavRegistry]\nAutoAllow=1\n[Other]\nService=x\n[TAVREGISTRY]\nService=later\n")
            << "TavRegistry" << "Service" << "";
        QTest::newRow("key in another section is not seen")
            << QByteArray("[Other]\nService=True\n[TavRegistry]\nAutoAllow=1\n") << "TavRegistry" << "Service" << "";
        QTest::newRow("missing section") << QByteArray("[Other]\nService=True\n") << "TavRegistry" << "Service"
                                         << "";
        QTest::newRow("key before any section is not in the section")
            << QByteArray("Service=True\n[TavRegistry]\n") << "TavRegistry" << "Service" << "";
        QTest::newRow("comment line is no key")
            << QByteArray("[TavRegistry]\n;Service=True\nService=False\n") << "TavRegistry" << "Service" << "False";
        QTest::newRow("prefix of a key is not the key")
            << QByteArray("[TavRegistry]\nServiceX=True\n") << "TavRegistry" << "Service" << "";
        QTest::newRow("empty value") << QByteArray("[TavRegistry]\nService=\n") << "TavRegistry" << "Service" << "";
        QTest::newRow("value keeps later equals signs")
            << QByteArray("[TavRegistry]\nService=a=b\n") << "TavRegistry" << "Service" << "a=b";
        QTest::newRow("one pair of quotes dropped")
            << QByteArray("[TavRegistry]\nService=\"True\"\n") << "TavRegistry" << "Service" << "True";
        QTest::newRow("utf-8 byte order mark")
            << QByteArray("\xEF\xBB\xBF[TavRegistry]\nService=True\n") << "TavRegistry" << "Service" << "True";
        QTest::newRow("windows-1252 value") << QByteArray("[TavRegistry]\nService=caf\xE9 \x80\n") << "TavRegistry"
                                            << "Service" << QString::fromUtf8("café €");
    }
    void readSemantics() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        put(m_path, file);
        QCOMPARE(IniFile::read(m_path, section, key), expected);
        QCOMPARE(contents(m_path), file); // reading changes nothing
    }

    void longValueIsCutTo255Characters() {
        const QByteArray value = QByteArray(254, 'a') + "bc" + QByteArray(44, 'z'); // 300 characters
        put(m_path, "[TavRegistry]\nService=" + value + "\n");
        const QString read = IniFile::read(m_path, "TavRegistry", "Service");
        QCOMPARE(read.size(), 255);
        QCOMPARE(read, QString(254, QLatin1Char('a')) + QLatin1Char('b'));

        put(m_path, "[TavRegistry]\nService=" + QByteArray(255, 'q') + "\n");
        QCOMPARE(IniFile::read(m_path, "TavRegistry", "Service"), QString(255, QLatin1Char('q')));
    }

    void writeCreatesFileSectionAndKey() {
        QVERIFY(IniFile::write(m_path, "TavRegistry", "Service", "True"));
        QCOMPARE(contents(m_path), QByteArray("[TavRegistry]\nService=True\n"));
        QVERIFY(IniFile::write(m_path, "TavRegistry", "AutoAllow", "False"));
        QCOMPARE(contents(m_path), QByteArray("[TavRegistry]\nService=True\nAutoAllow=False\n"));
        QCOMPARE(IniFile::read(m_path, "TavRegistry", "AutoAllow"), QStringLiteral("False"));
    }

    void writeKeepsEveryOtherLine_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("replace in place, other sections and comments kept")
            << QByteArray("; settings\n[Other]\nService=keep\n\n[tavregistry]\n  SERVICE = False ; old\n"
                          "AutoAllow=1\n[Last]\nx=y\n")
            << "Service" << "True"
            << QByteArray("; settings\n[Other]\nService=keep\n\n[tavregistry]\nService=True\nAutoAllow=1\n"
                          "[Last]\nx=y\n");
        QTest::newRow("new key goes after the section's last line, before blank lines")
            << QByteArray("[TavRegistry]\nService=True\n\n[Other]\na=b\n") << "AutoAllow" << "True"
            << QByteArray("[TavRegistry]\nService=True\nAutoAllow=True\n\n[Other]\na=b\n");
        QTest::newRow("only the first matching key changes")
            << QByteArray("[TavRegistry]\nService=1\nService=2\n") << "Service" << "False"
            << QByteArray("[TavRegistry]\nService=False\nService=2\n");
        QTest::newRow("only the first matching section changes")
            << QByteArray("[TavRegistry]\na=1\n[TavRegistry]\nService=old\n") << "Service" << "True"
            << QByteArray("[TavRegistry]\na=1\nService=True\n[TavRegistry]\nService=old\n");
        QTest::newRow("missing section appended")
            << QByteArray("[Other]\na=b") << "Service" << "True"
            << QByteArray("[Other]\na=b\n[TavRegistry]\nService=True\n");
        QTest::newRow("section last without final line break")
            << QByteArray("[TavRegistry]\nService=True") << "AutoAllow" << "1"
            << QByteArray("[TavRegistry]\nService=True\nAutoAllow=1\n");
        QTest::newRow("crlf file stays crlf")
            << QByteArray("[TavRegistry]\r\nService=False\r\n; note\r\n") << "AutoAllow" << "True"
            << QByteArray("[TavRegistry]\r\nService=False\r\n; note\r\nAutoAllow=True\r\n");
        QTest::newRow("replaced line keeps its crlf")
            << QByteArray("[TavRegistry]\r\nService=False\r\nx=1\r\n") << "Service" << "True"
            << QByteArray("[TavRegistry]\r\nService=True\r\nx=1\r\n");
        QTest::newRow("byte order mark kept")
            << QByteArray("\xEF\xBB\xBF[TavRegistry]\nService=0\n") << "Service" << "True"
            << QByteArray("\xEF\xBB\xBF[TavRegistry]\nService=True\n");
        QTest::newRow("bytes outside ascii kept")
            << QByteArray("[Caf\xE9]\nn=\xFF\xFE\n[TavRegistry]\n") << "Service" << "True"
            << QByteArray("[Caf\xE9]\nn=\xFF\xFE\n[TavRegistry]\nService=True\n");
    }
    void writeKeepsEveryOtherLine() {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        put(m_path, before);
        QVERIFY(IniFile::write(m_path, "TavRegistry", key, value));
        QCOMPARE(contents(m_path), after);
        QCOMPARE(IniFile::read(m_path, "TavRegistry", key), value);
    }

    void unsafeNamesAndValuesAreRefusedAndFileUntouched_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("line break in value") << "TavRegistry" << "Service" << "True\n[Evil]\nx=1";
        QTest::newRow("carriage return in value") << "TavRegistry" << "Service" << "True\rAutoAllow=1";
        QTest::newRow("equals in key") << "TavRegistry" << "Ser=vice" << "True";
        QTest::newRow("bracket in section") << "Tav]Registry" << "Service" << "True";
        QTest::newRow("empty key") << "TavRegistry" << "" << "True";
        QTest::newRow("comment key") << "TavRegistry" << ";Service" << "True";
        QTest::newRow("line break in section") << "Tav\nRegistry" << "Service" << "True";
    }
    void unsafeNamesAndValuesAreRefusedAndFileUntouched() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray before("[TavRegistry]\nService=False\n");
        put(m_path, before);
        QString error;
        QVERIFY(!IniFile::write(m_path, section, key, value, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(contents(m_path), before);
    }

    void writeIsAtomicAndLeavesNoTemporaryFiles() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("server.ini"));
        put(path, "[TavRegistry]\nService=False\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(IniFile::write(path, "TavRegistry", "Service", "True"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("server.ini")});
        QCOMPARE(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther),
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    // An administrator may keep server.ini elsewhere and link to it.
    void writeThroughASymlinkUpdatesTheTarget() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("real.ini"));
        const QString link = dir.filePath(QStringLiteral("server.ini"));
        put(target, "[TavRegistry]\nService=False\n");
        QVERIFY(QFile::link(target, link));
        QVERIFY(IniFile::write(link, "TavRegistry", "Service", "True"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contents(target), QByteArray("[TavRegistry]\nService=True\n"));
    }

    void writeIntoMissingFolderFails() {
        const QString path = m_dir.filePath(QStringLiteral("no-such-folder/server.ini"));
        QString error;
        QVERIFY(!IniFile::write(path, "TavRegistry", "Service", "True", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(path));
    }

    void failedWriteReportsAndKeepsTheOldFile() {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("server.ini"));
        put(path, "[TavRegistry]\nService=False\n");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        QString error;
        const bool ok = IniFile::write(path, "TavRegistry", "Service", "True", &error);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QCOMPARE(contents(path), QByteArray("[TavRegistry]\nService=False\n"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_ini_file.moc"
