// frmOptions: the order of its steps on OK, what is written to server.ini,
// the service install/uninstall outcomes and their messages, and Cancel.
#include "support/test_files.h"
#include "host/settings.h"
#include "platform/service_manager.h"
#include "support/recording_prompter.h"
#include "support/registry_fixture.h"
#include "ui/options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const QString kInstallError = QStringLiteral("There was an error installing the registry as a service.");
const QString kUninstallError = QStringLiteral("There was an error uninstalling the registry as a service.");


// Records each call together with the settings file as it was at that moment.
class FakeService final : public ServiceManager {
public:
    explicit FakeService(QString iniPath) : m_iniPath(std::move(iniPath)) {}
    bool installSucceeds = true;
    bool uninstallSucceeds = true;
    QStringList calls;
    QList<QByteArray> fileAtCall;

    bool install(QString* error) override { return record(QStringLiteral("install"), installSucceeds, error); }
    bool uninstall(QString* error) override { return record(QStringLiteral("uninstall"), uninstallSucceeds, error); }
    void notifyReady() override { calls << QStringLiteral("ready"); }
    void notifyStopping() override { calls << QStringLiteral("stopping"); }

private:
    bool record(const QString& what, bool ok, QString* error) {
        calls << what;
        fileAtCall << contents(m_iniPath);
        if (!ok && error)
            *error = QStringLiteral("simulated failure");
        return ok;
    }
    QString m_iniPath;
};

struct DialogFixture {
    QTemporaryDir dir;
    Settings settings{dir.path()};
    FakeService service{settings.filePath()};
    RecordingPrompter prompter;
    QPointer<OptionsDialog> dialog;

    // Starts from a file (empty: no file) and opens the dialog on what it says.
    explicit DialogFixture(const QByteArray& file = {}) {
        if (!file.isEmpty())
            put(settings.filePath(), file);
        settings.loadSettings();
        dialog = new OptionsDialog(settings, service, prompter);
        dialog->show();
    }
    ~DialogFixture() { delete dialog; }
    QByteArray file() const { return contents(settings.filePath()); }
    void ok() { QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton); }
    void cancel() {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdCancel")), Qt::LeftButton);
    }
    bool unloaded() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }
};

} // namespace

class TestOptionsDialog : public QObject {
    Q_OBJECT

private slots:
    void windowAndControlsCarryTheirNamesAndCaptions() {
        DialogFixture d;
        QCOMPARE(d.dialog->objectName(), QStringLiteral("frmOptions"));
        QCOMPARE(d.dialog->windowTitle(), QStringLiteral("Registry Options"));
        QVERIFY(!d.dialog->isModal());
        QCOMPARE(d.dialog->findChild<QCheckBox*>(QStringLiteral("chkService"))->text(),
                 QStringLiteral("Start Registry automatically as a service"));
        QCOMPARE(d.dialog->findChild<QCheckBox*>(QStringLiteral("chkAutoAllow"))->text(),
                 QStringLiteral("Automatically enable creation of new accounts"));
        QCOMPARE(d.dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->text(), QStringLiteral("OK"));
        QCOMPARE(d.dialog->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->text(), QStringLiteral("Cancel"));
    }

    void boxesStartFromTheSettingsInMemory_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("service");
        QTest::addColumn<bool>("autoAllow");
        QTest::newRow("none") << QByteArray() << false << false;
        QTest::newRow("service") << QByteArray("[TavRegistry]\nService=True\n") << true << false;
        QTest::newRow("auto allow") << QByteArray("[TavRegistry]\nAutoAllow=1\n") << false << true;
        QTest::newRow("both") << QByteArray("[TavRegistry]\nService=true\nAutoAllow=TRUE\n") << true << true;
    }
    void boxesStartFromTheSettingsInMemory() {
        QFETCH(QByteArray, file);
        QFETCH(bool, service);
        QFETCH(bool, autoAllow);
        DialogFixture d(file);
        QCOMPARE(d.dialog->chkService()->isChecked(), service);
        QCOMPARE(d.dialog->chkAutoAllow()->isChecked(), autoAllow);
    }

    void tickingServiceWritesTrueThenInstalls() {
        DialogFixture d;
        d.dialog->chkService()->setChecked(true);
        d.dialog->chkAutoAllow()->setChecked(true);
        d.ok();
        QCOMPARE(d.service.calls, QStringList{QStringLiteral("install")});
        // Both keys were written before the install ran.
        QCOMPARE(d.service.fileAtCall.value(0), QByteArray("[TavRegistry]\nService=True\nAutoAllow=True\n"));
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=True\nAutoAllow=True\n"));
        QVERIFY(d.settings.serviceSetting());
        QVERIFY(d.settings.autoAllowSetting());
        QVERIFY(d.prompter.messages.isEmpty());
        QVERIFY(d.unloaded());
    }

    void failingInstallEndsOffInFileAndMemoryWithTheMessage() {
        DialogFixture d;
        d.service.installSucceeds = false;
        d.dialog->chkService()->setChecked(true);
        d.ok();
        QCOMPARE(d.service.calls, QStringList{QStringLiteral("install")});
        QCOMPARE(d.service.fileAtCall.value(0), QByteArray("[TavRegistry]\nService=True\n"));
        QCOMPARE(d.prompter.messages, QStringList{kInstallError});
        QCOMPARE(d.prompter.buttons.value(0), QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=False\n"));
        QVERIFY(!d.settings.serviceSetting());
        QVERIFY(d.unloaded());
    }

    void okWhileOnInstallsAgainWithoutWriting() {
        const QByteArray file("[TavRegistry]\nService=True\n; mine\n");
        DialogFixture d(file);
        d.ok();
        QCOMPARE(d.service.calls, QStringList{QStringLiteral("install")});
        QCOMPARE(d.file(), file);
        QVERIFY(d.prompter.messages.isEmpty());
        QVERIFY(d.settings.serviceSetting());
    }

    void okWhileOnWithFailingInstallTurnsTheOptionOff() {
        DialogFixture d("[TavRegistry]\nService=True\n");
        d.service.installSucceeds = false;
        d.ok();
        QCOMPARE(d.prompter.messages, QStringList{kInstallError});
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=False\n"));
        QVERIFY(!d.settings.serviceSetting());
    }

    void clearingServiceUninstallsWritesFalseAndDoesNotInstall() {
        DialogFixture d("[TavRegistry]\nService=True\n");
        d.dialog->chkService()->setChecked(false);
        d.ok();
        QCOMPARE(d.service.calls, QStringList{QStringLiteral("uninstall")});
        QCOMPARE(d.service.fileAtCall.value(0), QByteArray("[TavRegistry]\nService=True\n"));
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=False\n"));
        QVERIFY(!d.settings.serviceSetting());
        QVERIFY(d.prompter.messages.isEmpty());
    }

    void failingUninstallThenFailingInstallShowsBothAndEndsOff() {
        DialogFixture d("[TavRegistry]\nService=True\n");
        d.service.uninstallSucceeds = false;
        d.service.installSucceeds = false;
        d.dialog->chkService()->setChecked(false);
        d.ok();
        QCOMPARE(d.service.calls, (QStringList{QStringLiteral("uninstall"), QStringLiteral("install")}));
        QCOMPARE(d.prompter.messages, (QStringList{kUninstallError, kInstallError}));
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=False\n"));
        QVERIFY(!d.settings.serviceSetting());
        QVERIFY(d.unloaded());
    }

    void failingUninstallThenWorkingInstallStaysOn() {
        DialogFixture d("[TavRegistry]\nService=True\n");
        d.service.uninstallSucceeds = false;
        d.dialog->chkService()->setChecked(false);
        d.ok();
        QCOMPARE(d.service.calls, (QStringList{QStringLiteral("uninstall"), QStringLiteral("install")}));
        QCOMPARE(d.prompter.messages, QStringList{kUninstallError});
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=True\n"));
        QVERIFY(d.settings.serviceSetting());
    }

    void cancelAfterChangingBothWritesNothing() {
        DialogFixture d;
        d.dialog->chkService()->setChecked(true);
        d.dialog->chkAutoAllow()->setChecked(true);
        d.cancel();
        QVERIFY(!QFile::exists(d.settings.filePath()));
        QVERIFY(d.service.calls.isEmpty());
        QVERIFY(!d.settings.serviceSetting());
        QVERIFY(!d.settings.autoAllowSetting());
        QVERIFY(d.unloaded());
    }

    void escapeIsCancel() {
        DialogFixture d("[TavRegistry]\nService=True\n");
        d.dialog->chkService()->setChecked(false);
        QTest::keyClick(d.dialog, Qt::Key_Escape);
        QVERIFY(d.service.calls.isEmpty());
        QCOMPARE(d.file(), QByteArray("[TavRegistry]\nService=True\n"));
        QVERIFY(d.unloaded());
    }

    // Only the file and the setting change; the live switch stays as it was.
    void autoAllowAloneWritesOnlyThatKeyAndLeavesTheSwitch_data() {
        QTest::addColumn<bool>("from");
        QTest::addColumn<bool>("liveSwitch");
        QTest::newRow("off to on, switch off") << false << false;
        QTest::newRow("on to off, switch on") << true << true;
        QTest::newRow("off to on, switch on") << false << true;
    }
    void autoAllowAloneWritesOnlyThatKeyAndLeavesTheSwitch() {
        QFETCH(bool, from);
        QFETCH(bool, liveSwitch);
        RegistryFixture f(false);
        const QByteArray before = QByteArray("; kept\n[TavRegistry]\nAutoAllow=") + (from ? "1" : "0") + "\n";
        put(f.dataDir.filePath(QStringLiteral("server.ini")), before);
        QVERIFY(f.start());
        FakeService service(f.reg().settings().filePath());
        f.reg().setNewAccountsAllowed(liveSwitch);
        RecordingPrompter prompter;
        auto* dialog = new OptionsDialog(f.reg().settings(), service, prompter);
        QCOMPARE(dialog->chkAutoAllow()->isChecked(), from);
        dialog->chkAutoAllow()->setChecked(!from);
        dialog->cmdOK_Click();
        QCOMPARE(contents(f.reg().settings().filePath()),
                 QByteArray("; kept\n[TavRegistry]\nAutoAllow=") + (from ? "False" : "True") + "\n");
        QCOMPARE(f.reg().settings().autoAllowSetting(), !from);
        QCOMPARE(f.reg().newAccountsAllowed(), liveSwitch);
        QVERIFY(service.calls.isEmpty());
        delete dialog;
    }

    void openingAgainBringsTheSameDialogForward() {
        QTemporaryDir dir;
        Settings settings(dir.path());
        FakeService service(settings.filePath());
        RecordingPrompter prompter;
        QPointer<OptionsDialog> open;
        OptionsDialog* first = OptionsDialog::showOrRaise(open, settings, service, prompter);
        first->chkService()->setChecked(true); // not reset by the second opening
        OptionsDialog* second = OptionsDialog::showOrRaise(open, settings, service, prompter);
        QCOMPARE(second, first);
        QVERIFY(second->chkService()->isChecked());
        first->cmdCancel_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(open.isNull());
        OptionsDialog* third = OptionsDialog::showOrRaise(open, settings, service, prompter);
        QVERIFY(!third->chkService()->isChecked()); // loaded afresh from the settings
        delete third;
    }

    // With the real systemd manager: where systemd does not run, or where the
    // service's user cannot be created, the install fails and the dialog says
    // so; no unit is left behind.
    void failedInstallIsReported_data() {
        QTest::addColumn<bool>("userExists");
        QTest::newRow("systemd not running") << true;
        QTest::newRow("user cannot be created") << false;
    }
    void failedInstallIsReported() {
        QFETCH(bool, userExists);
        QTemporaryDir dir;
        const QString systemctl = dir.filePath(QStringLiteral("systemctl"));
        put(systemctl, "#!/bin/sh\necho 'System has not been booted with systemd as init system (PID 1).' >&2\n"
                       "exit 1\n");
        const QString sysusers = dir.filePath(QStringLiteral("systemd-sysusers"));
        put(sysusers, "#!/bin/sh\necho \"$*\" > \"$(dirname \"$0\")/sysusers.called\"\n"
                      "echo 'Failed to write files: Permission denied' >&2\nexit 1\n");
        for (const QString& tool : {systemctl, sysusers})
            QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        SystemdServiceConfig config;
        config.unitFolder = dir.path();
        config.systemctl = systemctl;
        config.sysusers = sysusers;
        config.dataDir = dir.path();
        config.lookUpAccount = [userExists](const QString&) -> std::optional<ServiceAccount> {
            if (!userExists)
                return std::nullopt;
            return ServiceAccount{::getuid(), ::getgid()};
        };
        SystemdServiceManager manager(config);
        Settings settings(dir.path());
        RecordingPrompter prompter;
        auto* dialog = new OptionsDialog(settings, manager, prompter);
        dialog->chkService()->setChecked(true);
        dialog->cmdOK_Click();
        QCOMPARE(prompter.messages, QStringList{kInstallError});
        QCOMPARE(contents(settings.filePath()), QByteArray("[TavRegistry]\nService=False\n"));
        QVERIFY(!QFile::exists(manager.unitPath()));
        QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("sysusers.called"))), !userExists);
        delete dialog;
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_options_dialog.moc"
