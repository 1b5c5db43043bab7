// The main window's event view, caption and closing question.
#include "support/registry_fixture.h"
#include "support/scripted_prompter.h"

#include "ui/main_window.h"

#include <QApplication>
#include <QListWidget>
#include <QtTest>

class MainWindowBasicsTest : public QObject {
    Q_OBJECT
private slots:
    void eventViewAndCaption() {
        RegistryFixture f(false);
        ScriptedPrompter prompter;
        MainWindow w(f.reg(), prompter);
        QVERIFY(f.start());
        QCOMPARE(w.objectName(), QString("frmMain"));
        auto* lst = w.findChild<QListWidget*>("lstOutput");
        QVERIFY(lst);
        QVERIFY(w.findChild<QWidget*>("txtInput"));
        QCOMPARE(lst->count(), 1);
        QCOMPARE(lst->item(0)->text(),
                 QString("TavRegistry v1.0.0 has loaded and is listening on port 5679 for connections."));
        QCOMPARE(w.windowTitle(), QString("The Tarvane Classic Server Registry [0]"));

        for (int i = 1; i <= 50; ++i)
            f.reg().logEvent(QString("event %1").arg(i));
        QCOMPARE(lst->count(), 50);
        QCOMPARE(lst->item(0)->text(), QString("event 1"));
        QCOMPARE(lst->currentRow(), 49);
        QCOMPARE(lst->currentItem()->text(), QString("event 50"));

        f.connect();
        f.connect();
        QCOMPARE(w.windowTitle(), QString("The Tarvane Classic Server Registry [2]"));
    }

    // The registry's own drawing, not an empty icon or one of the style's.
    void windowAndTrayShowTheRegistryIcon() {
        RegistryFixture f(false);
        ScriptedPrompter prompter;
        MainWindow w(f.reg(), prompter);
        const QIcon icon = w.windowIcon();
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(64, 64)});
        const QImage image = icon.pixmap(QSize(64, 64)).toImage();
        QCOMPARE(image.size(), QSize(64, 64));
        // The blue ground at the left edge, a light server plate, a green lamp
        // and an orange one, and a transparent corner.
        QCOMPARE(image.pixelColor(6, 32).name(), QString("#1d4e89"));
        QCOMPARE(image.pixelColor(14, 14).name(), QString("#e8eef6"));
        QCOMPARE(image.pixelColor(45, 32).name(), QString("#2fbf71"));
        QCOMPARE(image.pixelColor(45, 47).name(), QString("#f2a541"));
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }

    void closingQuestion() {
        RegistryFixture f(false);
        ScriptedPrompter prompter;
        MainWindow w(f.reg(), prompter);
        QVERIFY(f.start());
        QVERIFY(w.isVisible());
        const int p = f.connect();

        prompter.answers = {QMessageBox::No};
        w.close();
        QCOMPARE(prompter.shown.size(), 1);
        QCOMPARE(prompter.shown[0].text, QString("Are you sure you want to close the server registry?"));
        QCOMPARE(prompter.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!w.isVisible()); // hidden, still serving
        QCOMPARE(f.reg().state(), Registry::State::Running);
        QVERIFY(f.isOpen(p));

        prompter.answers = {QMessageBox::Yes};
        w.close();
        QCOMPARE(f.reg().state(), Registry::State::Ended);
        QVERIFY(!f.isOpen(p));
    }

    // The window is the front end while it lives and takes itself off when it goes.
    void theWindowAttachesAndDetachesItself() {
        RegistryFixture f(false);
        ScriptedPrompter prompter;
        {
            MainWindow w(f.reg(), prompter);
            QVERIFY(f.start());
            QVERIFY(w.isVisible());
            f.connect();
            QCOMPARE(w.windowTitle(), QString("The Tarvane Classic Server Registry [1]"));
        }
        const int p = f.connect();
        f.reg().logEvent("after the window");
        f.reg().closeClient(f.slotOf(p));
        QVERIFY(!f.isOpen(p));
        f.reg().shutdown();
        QCOMPARE(f.reg().state(), Registry::State::Ended);
    }
};

QTEST_MAIN(MainWindowBasicsTest)
#include "tst_main_window_basics.moc"
