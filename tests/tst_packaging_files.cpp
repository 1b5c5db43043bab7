// The files shipped for a system service: the D-Bus policy, the sysusers
// entry, the packaged unit, the configuration file, and how far systemd's
// own analysis finds both units (packaged and generated) confined.
#include "platform/service_manager.h"
#include "support/test_files.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

QString shipped(const QString& name) {
    return qEnvironmentVariable("TAV_SOURCE_DIR") + QStringLiteral("/packaging/") + name;
}

// The packaged unit as CMake installs it with the prefix /usr.
QByteArray installedUnit() {
    QByteArray text = contents(shipped(QStringLiteral("tavregistry.service.in")));
    text.replace("@TAV_INSTALLED_PROGRAM@", "/usr/bin/tavregistryd");
    text.replace("@TAV_INSTALLED_CONFIG@", "/etc/tavregistry/tavregistry.conf");
    return text;
}

QList<QByteArray> settingLines(const QByteArray& text) {
    QList<QByteArray> lines;
    for (const QByteArray& line : text.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            lines << line;
    return lines;
}

} // namespace

class TestPackagingFiles : public QObject {
    Q_OBJECT

private slots:
    // Every rule of the policy as "who: allow|deny what=value", in order.
    void busPolicyLetsOnlyRootAndTheAdminGroupCall() {
        QFile file(shipped(QStringLiteral("HostLedger.clsControl.conf")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList rules;
        QString who;
        int policies = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QString element = xml.name().toString();
            if (element == QLatin1String("busconfig"))
                continue;
            if (element == QLatin1String("policy")) {
                ++policies;
                QCOMPARE(xml.attributes().size(), 1);
                const QXmlStreamAttribute a = xml.attributes().first();
                who = a.name().toString() + QLatin1Char('=') + a.value().toString();
                continue;
            }
            QVERIFY2(element == QLatin1String("allow") || element == QLatin1String("deny"), qPrintable(element));
            QStringList parts;
            for (const QXmlStreamAttribute& a : xml.attributes())
                parts << a.name().toString() + QLatin1Char('=') + a.value().toString();
            rules << who + QStringLiteral(": ") + element + QLatin1Char(' ') + parts.join(QLatin1Char(' '));
            xml.skipCurrentElement();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(policies, 4);
        QCOMPARE(rules, (QStringList{
                            "user=tavregistry: allow own=HostLedger.clsControl",
                            "user=root: allow own=HostLedger.clsControl",
                            "user=root: allow send_destination=HostLedger.clsControl",
                            "group=tavregistry-admin: allow send_destination=HostLedger.clsControl",
                            "context=default: deny own=HostLedger.clsControl",
                            "context=default: deny send_destination=HostLedger.clsControl",
                        }));
    }

    void sysusersEntryMakesTheUserAndTheAdminGroup() {
        QCOMPARE(settingLines(contents(shipped(QStringLiteral("tavregistry.sysusers.conf")))),
                 (QList<QByteArray>{"u tavregistry - \"Tarvane Classic Server Registry\" /var/lib/tavregistry",
                                    "g tavregistry-admin -"}));
    }

    void packagedUnitRunsTheDaemonAsItsUser() {
        const QList<QByteArray> lines = settingLines(installedUnit());
        for (const QByteArray& line :
             {QByteArray("Type=notify"), QByteArray("NotifyAccess=main"), QByteArray("WatchdogSec=30"),
              QByteArray("ExecStart=/usr/bin/tavregistryd --config /etc/tavregistry/tavregistry.conf "
                         "--data-dir /var/lib/tavregistry --bus system"),
              QByteArray("User=tavregistry"), QByteArray("Group=tavregistry"),
              QByteArray("StateDirectory=tavregistry"), QByteArray("ReadWritePaths=/var/lib/tavregistry"),
              QByteArray("ProtectSystem=strict"), QByteArray("ProtectHome=yes"), QByteArray("UMask=0077"),
              QByteArray("CapabilityBoundingSet="), QByteArray("RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX"),
              QByteArray("SystemCallFilter=@system-service"), QByteArray("SystemCallArchitectures=native")})
            QVERIFY2(lines.count(line) == 1, line.constData());
        // One ExecStart, and not the program with the window.
        int execStarts = 0;
        for (const QByteArray& line : lines)
            execStarts += line.startsWith("ExecStart=") ? 1 : 0;
        QCOMPARE(execStarts, 1);
    }

    // systemd-analyze rates a unit from 0 (confined) to 10 (exposed).
    void unitsAreConfined_data() {
        QTest::addColumn<QByteArray>("unit");
        QTest::newRow("packaged") << installedUnit();
        auto generated = [](const char* program, const char* data) {
            QString error;
            const QString text =
                SystemdServiceManager::unitFileText(QString::fromLatin1(program), QString::fromLatin1(data), &error);
            return text.isEmpty() ? error.toUtf8() : text.toUtf8();
        };
        QTest::newRow("generated, installed program") << generated("/usr/bin/tavregistry", "/var/lib/tav");
        QTest::newRow("generated, folder of its own") << generated("/opt/tav/tavregistry", "/opt/tav");
        QTest::newRow("generated, in a home folder") << generated("/home/ann/tav/tavregistry", "/home/ann/tav");
    }
    void unitsAreConfined() {
        QFETCH(QByteArray, unit);
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed: the exposure of the units cannot be measured here");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tavregistry.service"));
        put(path, unit);
        QProcess run;
        run.start(analyze, {QStringLiteral("security"), QStringLiteral("--offline=true"), QStringLiteral("--no-pager"),
                            path});
        QVERIFY(run.waitForFinished(60000));
        const QString output = QString::fromUtf8(run.readAllStandardOutput() + run.readAllStandardError());
        static const QRegularExpression score(QStringLiteral("Overall exposure level for tavregistry\\.service: "
                                                             "(\\d+\\.\\d+)"));
        const QRegularExpressionMatch m = score.match(output);
        QVERIFY2(m.hasMatch(), qPrintable(unit + output));
        const double exposure = m.captured(1).toDouble();
        qInfo("exposure %s: %.1f", QTest::currentDataTag(), exposure);
        QVERIFY2(exposure <= 2.5, qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestPackagingFiles)
#include "tst_packaging_files.moc"
