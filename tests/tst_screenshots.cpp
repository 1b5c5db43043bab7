// The screenshot tool keeps drawing every window as the windows change, and
// the README shows exactly the pictures that are kept in docs/screenshots/.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList kExpected = {
    QStringLiteral("account-dialog-add.png"),  QStringLiteral("account-dialog-edit.png"),
    QStringLiteral("account-list.png"),        QStringLiteral("ban-dialog-add.png"),
    QStringLiteral("ban-dialog-edit.png"),     QStringLiteral("ban-list.png"),
    QStringLiteral("information-window.png"),  QStringLiteral("main-window-event-view.png"),
    QStringLiteral("main-window-server-view.png"), QStringLiteral("message-dialog.png"),
    QStringLiteral("options-dialog.png"),
};

QString toolPath() { return qEnvironmentVariable("TAV_SCREENSHOTS_BIN"); }

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run runTool(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(toolPath(), args);
    Run r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QStringList pngsIn(const QString& folder) {
    QStringList names = QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    return names;
}

// A blank or single-colour picture means the window was not painted.
int distinctColours(const QImage& image, int cap) {
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            seen.insert(image.pixel(x, y));
            if (seen.size() >= cap)
                return cap;
        }
    return int(seen.size());
}

} // namespace

class TestScreenshots : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(!toolPath().isEmpty() && QFile::exists(toolPath()), "TAV_SCREENSHOTS_BIN names no program");
        QVERIFY(m_out.isValid());
        m_run = runTool({m_out.path()});
    }

    void writesExactlyTheExpectedPictures() {
        QVERIFY2(m_run.exitCode == 0, m_run.err.constData());
        QCOMPARE(pngsIn(m_out.path()), kExpected);
        // It names every file it wrote, one a line.
        QStringList printed = QString::fromLocal8Bit(m_run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (QString& line : printed)
            line = QFileInfo(line).fileName();
        printed.sort();
        QCOMPARE(printed, kExpected);
    }

    void everyPictureIsAPaintedWindow() {
        for (const QString& name : kExpected) {
            const QString path = QDir(m_out.path()).filePath(name);
            QVERIFY2(QFileInfo(path).size() > 0, qPrintable(name));
            const QImage image(path);
            QVERIFY2(!image.isNull(), qPrintable(name + QStringLiteral(" is not a PNG")));
            QVERIFY2(image.width() >= 200 && image.height() >= 90,
                     qPrintable(QStringLiteral("%1 is only %2x%3").arg(name).arg(image.width()).arg(image.height())));
            QVERIFY2(distinctColours(image, 16) >= 16, qPrintable(name + QStringLiteral(" is blank")));
        }
    }

    // Pictures that would be equal if the view did not switch or the dialog
    // did not take its edit state.
    void statesDiffer() {
        const QDir out(m_out.path());
        const auto differ = [&](const char* a, const char* b) {
            return QImage(out.filePath(QLatin1String(a))) != QImage(out.filePath(QLatin1String(b)));
        };
        QVERIFY(differ("main-window-event-view.png", "main-window-server-view.png"));
        QVERIFY(differ("account-dialog-add.png", "account-dialog-edit.png"));
        QVERIFY(differ("ban-dialog-add.png", "ban-dialog-edit.png"));
    }

    void refusesBadArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no folder") << QStringList{};
        QTest::newRow("two folders") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("an option") << QStringList{QStringLiteral("--help")};
    }

    void refusesBadArguments() {
        QFETCH(QStringList, args);
        QTemporaryDir cwd;
        QProcess p;
        p.setWorkingDirectory(cwd.path());
        p.start(toolPath(), args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("usage: tav-screenshots OUTPUT-FOLDER"));
        QVERIFY(QDir(cwd.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    void folderThatCannotBeMadeIsAnError() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const Run r = runTool({dir.filePath(QStringLiteral("file/sub"))});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("cannot create"));
    }

    // The kept pictures are the ones the tool draws, and the README shows
    // each of them once.
    void keptPicturesAndReadmeAgree() {
        const QString source = qEnvironmentVariable("TAV_SOURCE_DIR");
        QVERIFY(!source.isEmpty());
        QCOMPARE(pngsIn(source + QStringLiteral("/docs/screenshots")), kExpected);
        QFile readme(source + QStringLiteral("/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(readme.readAll());
        // Pictures in sub-folders (browser/: the status page as Chromium draws it
        // in the HTTP process test) are not this tool's.
        static const QRegularExpression link(QStringLiteral(R"(!\[[^\]]+\]\(docs/screenshots/([^)/]+)\))"));
        QStringList linked;
        for (const auto& m : link.globalMatch(text))
            linked << m.captured(1);
        linked.sort();
        QCOMPARE(linked, kExpected);
    }

private:
    QTemporaryDir m_out;
    Run m_run;
};

QTEST_GUILESS_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
