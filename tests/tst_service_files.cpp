// Files and lines as Linux tools expect them: rewrites that keep owner, group
// and mode, event lines that cannot be forged, journal priorities, and the
// default data folder.
#include "app/data_folder.h"
#include "app/diagnostics.h"
#include "host/event_echo.h"
#include "platform/file_rewrite.h"
#include "platform/ini_file.h"
#include "support/test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUser = 65534; // nobody
constexpr gid_t kOtherGroup = 65534;

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Runs `work` in a child process as another user; true when it returned true.
template <typename Work>
bool asOtherUser(Work work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setresgid(kOtherGroup, kOtherGroup, kOtherGroup) != 0 || ::setresuid(kOtherUser, kOtherUser, kOtherUser) != 0)
            ::_exit(3);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class TestServiceFiles : public QObject {
    Q_OBJECT

private slots:
    void rewriteKeepsModeOwnerAndGroup() {
        QTemporaryDir dir;
        const QString ini = dir.filePath("server.ini");
        put(ini, "[TavRegistry]\nService=False\n");
        QVERIFY(::chmod(QFile::encodeName(ini).constData(), 0640) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::chown(QFile::encodeName(ini).constData(), kOtherUser, kOtherGroup) == 0);

        QString error;
        QVERIFY2(IniFile::write(ini, "TavRegistry", "Service", "True", &error), qPrintable(error));
        QCOMPARE(contents(ini), QByteArray("[TavRegistry]\nService=True\n"));
        const struct stat st = statOf(ini);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        if (root) {
            QCOMPARE(st.st_uid, kOtherUser);
            QCOMPARE(st.st_gid, kOtherGroup);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"server.ini"});
    }

    // The service user may write its server.ini in a folder it may not write.
    void rewriteWorksInAFolderThatIsNotWritable() {
        QTemporaryDir dir;
        const QString folder = dir.filePath("ro");
        QVERIFY(QDir().mkdir(folder));
        const QString file = folder + "/server.ini";
        put(file, "old content that is longer\n");
        const QByteArray fileName = QFile::encodeName(file);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
        bool ok = false;
        if (::geteuid() == 0) {
            // root may write anywhere: the other user meets the read-only folder.
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
            QVERIFY(::chown(fileName.constData(), kOtherUser, kOtherGroup) == 0);
            ok = asOtherUser([&] { return rewriteFile(file, "new\n", nullptr); });
            QCOMPARE(statOf(file).st_uid, kOtherUser);
        } else {
            QString error;
            ok = rewriteFile(file, "new\n", &error);
        }
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QVERIFY(ok);
        QCOMPARE(contents(file), QByteArray("new\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"server.ini"});
    }

    void rewriteRefusesWhatIsNotARegularFile() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("server.ini"));
        QString error;
        QVERIFY(!rewriteFile(dir.filePath("server.ini"), "x", &error));
        QCOMPARE(error, QStringLiteral("cannot write %1: not a regular file").arg(dir.filePath("server.ini")));
    }

    void eventLinesEscapeEveryControlCharacter_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << QStringLiteral("Alpha has disconnected from 10.0.0.1")
                               << QByteArray("Alpha has disconnected from 10.0.0.1\n");
        QTest::newRow("line break") << QStringLiteral("Operator: a\nTavRegistry forged")
                                    << QByteArray("Operator: a\\nTavRegistry forged\n");
        QTest::newRow("escape sequence") << QStringLiteral("\x1b[31mred") << QByteArray("\\x1b[31mred\n");
        QTest::newRow("backslash stays readable") << QStringLiteral("a\\nb") << QByteArray("a\\\\nb\n");
        QTest::newRow("tab, return, NUL") << QString::fromLatin1("a\tb\rc\0d", 7) << QByteArray("a\\tb\\rc\\x00d\n");
        QTest::newRow("DEL and C1") << QString::fromUtf8("x\x7f\xc2\x9bz") << QByteArray("x\\x7f\\x9bz\n");
        QTest::newRow("Windows-1252 letters kept") << QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac")
                                                   << QByteArray("caf\xc3\xa9 \xe2\x82\xac\n");
    }
    void eventLinesEscapeEveryControlCharacter() {
        QFETCH(QString, event);
        QFETCH(QByteArray, line);
        QCOMPARE(EventEcho::escapedLine(event), line);
    }

    // One character of every class at every position of a long line: lines
    // are copied several characters at a time, and each must still be
    // judged on its own (the bounds 0x1f/0x20, 0x7e/0x7f, 0x9f/0xa0, and
    // characters whose low byte alone would pass).
    void eventLinesEscapeAtEveryPosition() {
        const QList<char16_t> odd = {0x00, 0x09, 0x0a, 0x0d, 0x1f, 0x20, 0x5c, 0x7e, 0x7f,
                                     0x80, 0x9f, 0xa0, 0xe9, 0x120, 0x15c, 0x20ac, 0xff41};
        auto expected = [](const QString& text) {
            QByteArray out;
            for (const QChar c : text) {
                const char16_t u = c.unicode();
                if (u == u'\\')
                    out += "\\\\";
                else if (u == u'\n')
                    out += "\\n";
                else if (u == u'\r')
                    out += "\\r";
                else if (u == u'\t')
                    out += "\\t";
                else if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
                    out += "\\x" + QByteArray::number(int(u), 16).rightJustified(2, '0');
                else
                    out += QString(c).toUtf8();
            }
            return out + '\n';
        };
        const QString plain = QStringLiteral("Server information sent to 127.100.200.3!~ ");
        for (const char16_t u : odd) {
            for (qsizetype at = 0; at < plain.size(); ++at) {
                QString line = plain;
                line[at] = QChar(u);
                QCOMPARE(EventEcho::escapedLine(line), expected(line));
            }
        }
        QCOMPARE(EventEcho::escapedLine(plain), plain.toLatin1() + '\n');
    }

    void echoWritesEachBatchOnce() {
        int fds[2];
        QVERIFY(::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0);
        {
            EventEcho echo(fds[1]);
            echo.append(QStringLiteral("one\ntwo"));
            echo.append(QStringLiteral("three"));
            echo.flush();
        }
        char buffer[256];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        QCOMPARE(QByteArray(buffer, int(n)), QByteArray("one\\ntwo\nthree\n"));
        ::close(fds[0]);
        ::close(fds[1]);
    }

    void journalPrefixes() {
        QCOMPARE(diagnosticPrefix(Severity::Error, true), QByteArray("<3>"));
        QCOMPARE(diagnosticPrefix(Severity::Warning, true), QByteArray("<4>"));
        QCOMPARE(diagnosticPrefix(Severity::Info, true), QByteArray("<6>"));
        for (Severity s : {Severity::Error, Severity::Warning, Severity::Info})
            QCOMPARE(diagnosticPrefix(s, false), QByteArray());
    }

    void journalStreamMustNameStandardError_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("journal");
        struct stat st {};
        ::fstat(STDERR_FILENO, &st);
        const QByteArray dev = QByteArray::number(qulonglong(st.st_dev)), ino = QByteArray::number(qulonglong(st.st_ino));
        QTest::newRow("matching") << dev + ":" + ino << true;
        QTest::newRow("other inode") << dev + ":" + QByteArray::number(qulonglong(st.st_ino) + 1) << false;
        QTest::newRow("no colon") << dev + ino << false;
        QTest::newRow("garbage") << QByteArray("a:b") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void journalStreamMustNameStandardError() {
        QFETCH(QByteArray, value);
        QFETCH(bool, journal);
        qputenv("JOURNAL_STREAM", value);
        QCOMPARE(standardErrorIsJournal(), journal);
        qunsetenv("JOURNAL_STREAM");
    }

    void defaultDataFolder_data() {
        QTest::addColumn<QString>("programFolder");
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("expected");
        const QString home = QDir::homePath();
        QTest::newRow("a folder of its own") << "/opt/tav" << QByteArray("/x") << "/opt/tav";
        QTest::newRow("installed, XDG set") << "/usr/local/bin" << QByteArray("/srv/xdg") << "/srv/xdg/tavregistry";
        QTest::newRow("installed, XDG unset") << "/usr/bin" << QByteArray() << home + "/.local/share/tavregistry";
        QTest::newRow("installed, XDG relative") << "/usr/bin" << QByteArray("rel") << home + "/.local/share/tavregistry";
        QTest::newRow("a folder named like bin") << "/opt/binaries" << QByteArray("/x") << "/opt/binaries";
    }
    void defaultDataFolder() {
        QFETCH(QString, programFolder);
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        if (xdg.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", xdg);
        QCOMPARE(::defaultDataFolder(programFolder), expected);
        qunsetenv("XDG_DATA_HOME");
    }
};

QTEST_GUILESS_MAIN(TestServiceFiles)
#include "tst_service_files.moc"
