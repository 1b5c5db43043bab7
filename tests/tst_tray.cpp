// The tray icon and the window status: the count in the tip, adding a missing
// icon, hiding a minimised window, restoring it, and the File menu.
#include "support/recording_prompter.h"
#include "support/registry_fixture.h"
#include "ui/main_window.h"
#include "ui/tray_icon.h"

#include <QApplication>
#include <QMenu>
#include <QTest>

namespace {

// A started registry with its main window; the tray's presence is up to the test.
struct WindowFixture {
    RegistryFixture f{false};
    RecordingPrompter prompter;
    MainWindow window{f.reg(), prompter};
    bool trayAvailable = true;

    WindowFixture() {
        window.trayIcon().setAvailabilityProbe([this] { return trayAvailable; });
    }
    ~WindowFixture() {
        f.reg().shutdown();
    }
    TrayIcon& tray() { return window.trayIcon(); }
};

} // namespace

class TestTray : public QObject {
    Q_OBJECT

private slots:
    void tipCarriesTheConnectionCount() {
        WindowFixture w;
        QVERIFY(w.f.start());
        QVERIFY(w.tray().isShown());
        QCOMPARE(w.tray().platformIcon()->toolTip(), QStringLiteral("TavRegistry [0]"));
        const int first = w.f.connect();
        w.f.connect();
        w.f.connect();
        QCOMPARE(w.tray().tip(), QStringLiteral("TavRegistry [3]"));
        QCOMPARE(w.tray().platformIcon()->toolTip(), QStringLiteral("TavRegistry [3]"));
        QCOMPARE(w.window.windowTitle(), QStringLiteral("The Tarvane Classic Server Registry [3]"));
        w.f.net.peerCloses(first);
        w.f.net.raiseError(first);
        QCOMPARE(w.tray().platformIcon()->toolTip(), QStringLiteral("TavRegistry [2]"));
    }

    void withoutATrayThereIsNoIconAndNoError() {
        WindowFixture w;
        w.trayAvailable = false;
        QVERIFY(w.f.start());
        w.f.connect();
        w.f.reg().generalTimerTick();
        QVERIFY(!w.tray().isShown());
        QVERIFY(w.tray().platformIcon() == nullptr);
        QCOMPARE(w.tray().tip(), QStringLiteral("TavRegistry [1]"));
        QCOMPARE(w.f.reg().state(), Registry::State::Running);
    }

    // A tray that appears after start-up gets the icon on the next tick, with
    // the count as it is then (not a stale "[0]").
    void timerAddsAMissingIconWithTheCurrentCount() {
        WindowFixture w;
        w.trayAvailable = false;
        QVERIFY(w.f.start());
        w.f.connect();
        w.f.connect();
        w.trayAvailable = true;
        w.f.reg().generalTimerTick();
        QVERIFY(w.tray().isShown());
        QCOMPARE(w.tray().platformIcon()->toolTip(), QStringLiteral("TavRegistry [2]"));

        // A shown icon is not added a second time.
        QSystemTrayIcon* icon = w.tray().platformIcon();
        w.f.reg().generalTimerTick();
        QCOMPARE(w.tray().platformIcon(), icon);
    }

    void minimisedWindowHidesOnTheNextTickAndDoubleClickRestoresIt() {
        WindowFixture w;
        QVERIFY(w.f.start());
        QVERIFY(w.window.isVisible());

        w.f.reg().generalTimerTick();
        QVERIFY(w.window.isVisible()); // a normal window stays

        w.window.showMinimized();
        QVERIFY(w.window.isMinimized());
        w.f.reg().generalTimerTick();
        QVERIFY(!w.window.isVisible());

        emit w.tray().platformIcon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.window.isVisible());
        QVERIFY(!w.window.isMinimized());
        w.f.reg().generalTimerTick();
        QVERIFY(w.window.isVisible()); // restored, so not hidden again
    }

    void doubleClickBringsBackAWindowHiddenByTheClosingQuestion() {
        WindowFixture w;
        QVERIFY(w.f.start());
        w.prompter.answers << QMessageBox::No;
        w.window.close();
        QVERIFY(!w.window.isVisible());
        QVERIFY(w.tray().isShown()); // the icon remains
        w.tray().handleActivation(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.window.isVisible());
    }

    void rightClickPopsUpTheFileMenuAndNothingElseDoes() {
        WindowFixture w;
        QVERIFY(w.f.start());
        QMenu fileMenu;
        fileMenu.addAction(QStringLiteral("E&xit"));
        w.tray().setFileMenu(&fileMenu);

        w.window.hide();
        w.tray().handleActivation(QSystemTrayIcon::MiddleClick);
        QVERIFY(!fileMenu.isVisible());
        QVERIFY(!w.window.isVisible());

        emit w.tray().platformIcon()->activated(QSystemTrayIcon::Context);
        QVERIFY(fileMenu.isVisible());
        QVERIFY(!w.window.isVisible()); // the menu, not the window
        fileMenu.hide();
    }

    void rightClickWithoutAMenuDoesNothing() {
        TrayIcon tray(QIcon{});
        tray.handleActivation(QSystemTrayIcon::Context); // must not crash
        QMenu* menu = new QMenu;
        tray.setFileMenu(menu);
        delete menu; // a menu that is gone is not used
        tray.handleActivation(QSystemTrayIcon::Context);
        QVERIFY(tray.fileMenu() == nullptr);
    }

    void shutdownRemovesTheIcon() {
        WindowFixture w;
        QVERIFY(w.f.start());
        QVERIFY(w.tray().isShown());
        w.f.reg().shutdown();
        QVERIFY(!w.tray().isShown());
        QVERIFY(w.tray().platformIcon() == nullptr);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
