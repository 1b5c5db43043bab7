// The main window: menus, the two views, the server list and its commands,
// the information window and the message dialog.
#include "client/messages.h"
#include "support/scripted_prompter.h"
#include "support/session_helpers.h"

#include "ui/ban_dialog.h"
#include "ui/detail_label.h"

#include "ui/bans_dialog.h"
#include "ui/info_window.h"
#include "ui/options_dialog.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
namespace Msg = TavClient::Messages;

// Logs a game server in over the wire, registering its account, and has it
// report its name and description.
int logInServer(RegistryFixture& f, const QByteArray& user, const QByteArray& name = "Name",
                const QByteArray& description = "Desc", const QByteArray& address = "10.0.0.1") {
    f.reg().setNewAccountsAllowed(true);
    const int p = f.connect(address);
    f.send(p, Msg::registerServer(user, "secret"));
    f.reg().setNewAccountsAllowed(false);
    f.send(p, Msg::nameDescription(name, description));
    f.received(p);
    return p;
}

struct Window {
    RegistryFixture f{false};
    ScriptedPrompter prompter;
    MainWindow w{f.reg(), prompter};
    Window() {
        f.start();
    }
    QListWidget* servers() { return w.findChild<QListWidget*>("lstServers"); }
    QString label(const char* name) { return w.findChild<QLabel*>(name)->text(); }
    QAction* action(const char* name) { return w.findChild<QAction*>(name); }
    void select(int row) {
        servers()->setCurrentRow(row);
        w.lstServers_Click();
    }
    QStringList selectedLines() {
        QStringList out;
        for (QListWidgetItem* item : servers()->selectedItems())
            out << item->text();
        return out;
    }
    QPoint lineAt(int row) { return servers()->visualItemRect(servers()->item(row)).center(); }
    // A point of the list below its last line.
    QPoint belowTheLines() { return QPoint(10, servers()->viewport()->height() - 4); }
    void clickList(Qt::MouseButton button, const QPoint& at) {
        QTest::mouseClick(servers()->viewport(), button, Qt::NoModifier, at);
    }
    QMenu* popup() { return w.findChild<QMenu*>("mnuServer"); }
    // Picks an item of the open pop-up menu with the mouse.
    void choose(const char* item) {
        QVERIFY(popup()->isVisible());
        QTest::mouseClick(popup(), Qt::LeftButton, Qt::NoModifier, popup()->actionGeometry(action(item)).center());
    }
    // What Qt does when the list takes the focus: a current line, nothing selected.
    void focusList() {
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(servers(), &in);
    }
};
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void menuTree() {
        Window win;
        QStringList bar;
        for (QAction* a : win.w.menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, QStringList({"&File", "&Accounts", "&Bans", "&Views"}));
        auto texts = [](QMenu* m) {
            QStringList out;
            for (QAction* a : m->actions())
                out << a->objectName() + "=" + a->text();
            return out;
        };
        QCOMPARE(texts(win.w.findChild<QMenu*>("mnuFile")),
                 QStringList({"mnuOptions=&Options", "mnuServerMessage=&Server Message", "mnuFileExit=E&xit"}));
        QCOMPARE(texts(win.w.findChild<QMenu*>("mnuAccounts")),
                 QStringList({"mnuAccountsNew=&Allow New Accounts", "mnuAccountsEdit=&Edit"}));
        QCOMPARE(texts(win.w.findChild<QMenu*>("mnuServer")),
                 QStringList({"mnuServerAddGod=&Add God", "mnuSendMessage=&Send Message",
                              "mnuViewInformation=&View Information", "mnuServerDisconnect=&Disconnect"}));
        QCOMPARE(texts(win.w.findChild<QMenu*>("mnuBans")), QStringList({"mnuEditBanList=&Edit Ban List"}));
        QCOMPARE(texts(win.w.findChild<QMenu*>("mnuViews")),
                 QStringList({"mnuServerView=&Server View", "mnuEventView=&Event View"}));
        for (QAction* a : win.w.findChildren<QAction*>())
            QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->objectName()));
    }

    void viewsSwitchAndKeepContents() {
        Window win;
        QVERIFY(win.w.isVisible());
        auto* output = win.w.findChild<QListWidget*>("lstOutput");
        QVERIFY(output->isVisible());
        QVERIFY(!win.servers()->isVisible());
        placeServer(win.f, "alpha");
        win.action("mnuServerView")->trigger();
        QVERIFY(win.servers()->isVisible());
        QVERIFY(win.w.findChild<QGroupBox*>("fraInfo")->isVisible());
        QVERIFY(win.w.findChild<QLabel*>("lblStatus")->isVisible());
        // One admission in the same millisecond as start-up: the span counts as 1 ms.
        QCOMPARE(win.label("lblStatus"), QString("Accesses/Hour = 3600000"));
        QVERIFY(!output->isVisible());
        QVERIFY(!win.w.findChild<QLineEdit*>("txtInput")->isVisible());
        win.action("mnuEventView")->trigger();
        QVERIFY(output->isVisible());
        QCOMPARE(win.servers()->count(), 1);
        QCOMPARE(output->count(), 1);
    }

    void dialogsFromTheMenu() {
        Window win;
        win.action("mnuEditBanList")->trigger();
        QVERIFY(win.w.bansDialog() && win.w.bansDialog()->isVisible());
        QVERIFY(!win.w.bansDialog()->isModal());
        QCOMPARE(win.w.bansDialog()->windowTitle(), QString("TavRegistry [Ban List]"));
        win.action("mnuEditBanList")->trigger(); // brought forward, not a second one
        QCOMPARE(win.w.findChildren<BansDialog*>().size(), 1);

        win.action("mnuOptions")->trigger();
        QPointer<OptionsDialog> options = win.w.findChild<OptionsDialog*>();
        QVERIFY(options && options->isVisible());
        QCOMPARE(options->windowTitle(), QString("Registry Options"));

        // Shutdown unloads the dialogs with the window.
        win.f.reg().shutdown();
        QTRY_VERIFY(!win.w.bansDialog());
        QTRY_VERIFY(!options || !options->isVisible());
    }

    void accessRateFollowsAdmissions() {
        Window win;
        auto* status = win.w.findChild<QLabel*>("lblStatus");
        QCOMPARE(status->text(), QString("Accesses/Hour = 0"));
        win.f.clock.advance(7000);
        win.f.connect();
        QCOMPARE(status->text(), QString("Accesses/Hour = 514"));
    }

    void allowNewAccountsMirrorsTheSwitch() {
        Window win;
        QAction* item = win.action("mnuAccountsNew");
        QVERIFY(!item->isChecked());
        const int lines = win.f.reg().eventLog().lines().size();
        item->trigger();
        QVERIFY(item->isChecked());
        QVERIFY(win.f.reg().newAccountsAllowed());
        item->trigger();
        QVERIFY(!item->isChecked());
        QVERIFY(!win.f.reg().newAccountsAllowed());
        QCOMPARE(win.f.reg().eventLog().lines().size(), lines);
        QVERIFY(!QFile::exists(win.f.dataDir.filePath("server.ini")));

        const int op = connectOperator(win.f);
        win.f.send(op, frame(13));
        QVERIFY(item->isChecked());
        win.f.send(op, frame(12));
        QVERIFY(!item->isChecked());
    }

    void detailsAndLiveRefresh() {
        Window win;
        const int p = placeServer(win.f, "alpha", 2, 7, "Alpha Name", "Fun", "10.0.0.5");
        win.select(0);
        QCOMPARE(win.label("lblID"), QString("alpha"));
        QCOMPARE(win.label("lblName"), QString("Alpha Name"));
        QCOMPARE(win.label("lblIP"), QString("10.0.0.5"));
        QCOMPARE(win.label("lblCount"), QString("7"));
        QCOMPARE(win.label("lblOfficial"), QString("Yes")); // 2 counts as official
        QCOMPARE(win.label("lblDesc"), QString("Click here for description"));

        win.f.send(p, frame(7, QByteArray(1, char(42))));
        QCOMPARE(win.label("lblCount"), QString("42"));
        win.f.reg().slot(win.f.slotOf(p)).Official = 0;
        win.f.send(p, frame(255));
        QCOMPARE(win.label("lblOfficial"), QString("No"));
    }

    void rightClickOpensPopupOnlyWithSelection() {
        Window win;
        win.action("mnuServerView")->trigger();
        QMenu* popup = win.w.findChild<QMenu*>("mnuServer");
        win.w.lstServers_MouseDown(Qt::RightButton, QPoint(5, 5));
        QVERIFY(!popup->isVisible());

        placeServer(win.f, "alpha", 0, 3);
        placeServer(win.f, "beta", 0, 4);
        const QRect second = win.servers()->visualItemRect(win.servers()->item(1));
        win.w.lstServers_MouseDown(Qt::RightButton, second.center());
        QCOMPARE(win.servers()->currentRow(), 1); // the line under the pointer
        QCOMPARE(win.label("lblID"), QString("beta"));
        QVERIFY(popup->isVisible());
        popup->hide();
        win.w.lstServers_MouseDown(Qt::LeftButton, win.servers()->visualItemRect(win.servers()->item(0)).center());
        QCOMPARE(win.label("lblID"), QString("alpha"));
        QVERIFY(!popup->isVisible());
    }

    void addGod() {
        Window win;
        const int p = placeServer(win.f, "alpha");
        win.w.mnuServerAddGod_Click(); // nothing selected: asks, sends nothing
        QCOMPARE(win.f.received(p), QByteArray());
        win.select(0);
        win.prompter.inputs = {QString()};
        win.w.mnuServerAddGod_Click();
        QCOMPARE(win.f.received(p), QByteArray());
        win.prompter.inputs = {QString("bob")};
        win.w.mnuServerAddGod_Click();
        QCOMPARE(win.f.received(p), QByteArray("\x00\x04\x05" "bob", 6));
        QCOMPARE(win.prompter.shown.last().title, QString("Add God"));
        QCOMPARE(win.prompter.shown.last().text, QString("Enter User Name:"));
    }

    void detailsFile() {
        Window win;
        QTemporaryDir folder;
        win.w.setDetailsFileFolder(folder.path());
        placeServer(win.f, "alpha", 1, 12, "Alpha", "Fun times", "10.0.0.5");
        placeServer(win.f, "beta", 0, 0, "Beta", "", "10.0.0.6");
        const QString path = folder.filePath("temp.txt");
        win.w.lstServers_DblClick(); // nothing selected
        QVERIFY(!QFile::exists(path));
        win.select(0);
        win.w.lstServers_DblClick();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Server ID: alpha\nServer Name: Alpha\nServer Description: Fun times\n"
                                         "IP Address: 10.0.0.5\nCurrent Player Count: 12\n"
                                         "*This is an official server*\n"));
        f.close();
        win.select(1);
        win.w.lstServers_DblClick();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Server ID: beta\nServer Name: Beta\nServer Description: \n"
                                         "IP Address: 10.0.0.6\nCurrent Player Count: 0\n"));
    }

    void descriptionBoxes() {
        Window win;
        win.w.lblDesc_Click(); // no server shown: nothing
        QCOMPARE(win.prompter.shown.size(), 0);
        const int p = placeServer(win.f, "alpha", 0, 0, "A", "A fine server");
        win.select(0);
        win.w.lblDesc_Click();
        QCOMPARE(win.prompter.shown.last().title, QString("TavRegistry: Server Description"));
        QCOMPARE(win.prompter.shown.last().text, QString("A fine server"));
        QCOMPARE(win.prompter.shown.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        win.f.reg().closeClient(win.f.slotOf(p));
        win.w.lblDesc_Click();
        QCOMPARE(win.prompter.lastText(), QString("The selected server is not currently online."));
    }

    void informationWindowAndDisconnect() {
        Window win;
        const int p = placeServer(win.f, "alpha", 2, 9, "Alpha", "Fun", "10.0.0.5");
        win.select(0);
        win.w.mnuViewInformation_Click();
        InfoWindow* info = win.w.infoWindow();
        QVERIFY(info && info->isVisible());
        QCOMPARE(info->windowTitle(), QString("TavRegistry [Server Information]"));
        QCOMPARE(info->infoText(), QString("Server ID: alpha\r\nServer Name: Alpha\r\nIP: 10.0.0.5\r\n"
                                           "Player Count: 9\r\nOfficial: True\r\nDescription: Fun"));
        QCOMPARE(info->findChild<QPushButton*>("cmdDone")->text(), QString("Done"));
        info->findChild<QPushButton*>("cmdDone")->click();
        QTRY_VERIFY(!win.w.infoWindow());

        win.w.mnuServerDisconnect_Click();
        QVERIFY(!win.f.isOpen(p));
        QCOMPARE(win.servers()->count(), 0);
        QCOMPARE(win.f.reg().eventLog().last(), QString("alpha has disconnected from 10.0.0.5"));
    }

    void messageDialogToAll() {
        Window win;
        win.action("mnuServerMessage")->trigger();
        MessageDialog* dlg = win.w.messageDialog();
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(dlg->windowTitle(), QString("Server Message "));
        auto* combo = dlg->findChild<QComboBox*>("cmbServers");
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->currentText(), QString("<All Online Servers>"));
        QCOMPARE(dlg->findChild<QLabel*>("Label1")->text(), QString("Send to:"));
        dlg->findChild<QPushButton*>("cmdSend")->click();
        QCOMPARE(win.prompter.lastText(), QString("Message sent to all online servers."));
        QTRY_VERIFY(!win.w.messageDialog());

        const int a = placeServer(win.f, "alpha");
        const int plain = win.f.connect();
        const int b = placeServer(win.f, "beta");
        win.action("mnuServerMessage")->trigger();
        dlg = win.w.messageDialog();
        dlg->findChild<QPlainTextEdit*>("txtMessage")->setPlainText("Hi all");
        dlg->findChild<QPushButton*>("cmdSend")->click();
        QCOMPARE(win.f.received(a), QByteArray("\x00\x07\x04Hi all", 9));
        QCOMPARE(win.f.received(b), QByteArray("\x00\x07\x04Hi all", 9));
        QCOMPARE(win.f.received(plain), QByteArray());
        QCOMPARE(win.f.reg().eventLog().lines().size(), 1); // the dialog logs nothing
    }

    void messageDialogToOne() {
        Window win;
        const int a = placeServer(win.f, "alpha");
        placeServer(win.f, "beta");
        win.select(0);
        win.action("mnuSendMessage")->trigger();
        MessageDialog* dlg = win.w.messageDialog();
        QCOMPARE(dlg->recipient(), QString("alpha"));
        // An empty text goes out as an empty text message.
        dlg->findChild<QPushButton*>("cmdSend")->click();
        QCOMPARE(win.f.received(a), QByteArray("\x00\x01\x04", 3));
        QCOMPARE(win.prompter.lastText(), QString("Message sent successfully."));
        QTRY_VERIFY(!win.w.messageDialog());
    }

    void messageDialogRefusesTextsOneFrameCannotCarry() {
        Window win;
        const int a = placeServer(win.f, "alpha");
        win.select(0);
        win.action("mnuSendMessage")->trigger();
        MessageDialog* dlg = win.w.messageDialog();
        auto* text = dlg->findChild<QPlainTextEdit*>("txtMessage");
        auto* send = dlg->findChild<QPushButton*>("cmdSend");
        const QString refusal("The message is too long. A message to a server holds at most 65534 characters.");

        // Refused for one server and for all of them: nothing sent, the dialog and its text stay.
        text->setPlainText(QString(65535, 'x'));
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(win.prompter.texts(), QStringList{refusal});
        QCOMPARE(win.prompter.shown.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        dlg->findChild<QComboBox*>("cmbServers")->setCurrentIndex(0);
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(win.prompter.texts(), QStringList({refusal, refusal}));
        QCOMPARE(win.f.received(a), QByteArray());
        QVERIFY(win.w.messageDialog());
        QCOMPARE(text->toPlainText(), QString(65535, 'x'));

        // Counted in the wire's one byte per character: 65534 of them fill one frame.
        text->setPlainText(QString(65534, QChar(0xE9)));
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(win.prompter.lastText(), QString("Message sent to all online servers."));
        QCOMPARE(win.f.received(a), QByteArray("\xff\xff\x04") + QByteArray(65534, '\xe9'));
        QTRY_VERIFY(!win.w.messageDialog());
    }

    void messageDialogRefillRules() {
        Window win;
        const int a = placeServer(win.f, "alpha");
        placeServer(win.f, "beta");
        win.select(1);
        win.action("mnuSendMessage")->trigger();
        MessageDialog* dlg = win.w.messageDialog();
        auto* text = dlg->findChild<QPlainTextEdit*>("txtMessage");
        text->setPlainText("typed");
        QCOMPARE(dlg->recipient(), QString("beta"));

        // Refill keeps the recipient wherever it moved.
        win.f.reg().closeClient(win.f.slotOf(a));
        dlg->RefreshServerList();
        QCOMPARE(dlg->recipient(), QString("beta"));

        // A server that came online after the list was filled can be chosen.
        const int g = placeServer(win.f, "gamma");
        win.select(1);
        win.action("mnuSendMessage")->trigger();
        QCOMPARE(dlg->recipient(), QString("gamma"));
        QCOMPARE(text->toPlainText(), QString("typed"));

        // Gone offline: message, refill, text kept, nothing sent.
        win.f.reg().closeClient(win.f.slotOf(g));
        dlg->findChild<QPushButton*>("cmdSend")->click();
        QCOMPARE(win.prompter.lastText(), QString("The selected server has gone offline."));
        QCOMPARE(dlg->recipient(), QString("<All Online Servers>"));
        QCOMPARE(text->toPlainText(), QString("typed"));
        QVERIFY(win.w.messageDialog());
        dlg->findChild<QPushButton*>("cmdCancel")->click();
        QTRY_VERIFY(!win.w.messageDialog());
    }

    void sendLooksUpWithoutRegardToCase() {
        Window win;
        placeServer(win.f, "Alpha");
        win.action("mnuServerMessage")->trigger();
        MessageDialog* dlg = win.w.messageDialog();
        dlg->selectRecipient("Alpha");
        // The server logs in again under another spelling of its name.
        win.f.reg().closeClient(1);
        const int again = placeServer(win.f, "ALPHA");
        dlg->findChild<QPushButton*>("cmdSend")->click();
        QCOMPARE(win.prompter.lastText(), QString("Message sent successfully."));
        QCOMPARE(win.f.received(again), QByteArray("\x00\x01\x04", 3));
    }

    // The commands act on the selected line only, never on Qt's current item.
    void commandsActOnTheSelectedLineOnly() {
        Window win;
        win.action("mnuServerView")->trigger();
        const int alpha = logInServer(win.f, "alpha", "Alpha");
        const int beta = logInServer(win.f, "beta", "Beta");
        win.focusList();
        QCOMPARE(win.servers()->currentRow(), 0);
        QVERIFY(win.selectedLines().isEmpty());

        // Below the lines: nothing selected, no menu, no details.
        win.clickList(Qt::RightButton, win.belowTheLines());
        QVERIFY(!win.popup()->isVisible());
        QVERIFY(win.selectedLines().isEmpty());
        QCOMPARE(win.label("lblID"), QString());
        // Neither do the commands nor the live refresh pick the current line.
        win.action("mnuServerDisconnect")->trigger();
        win.action("mnuSendMessage")->trigger();
        QVERIFY(win.f.isOpen(alpha));
        QVERIFY(!win.w.messageDialog());
        win.f.send(alpha, Msg::playerCount(9));
        QCOMPARE(win.label("lblCount"), QString());

        win.clickList(Qt::RightButton, win.lineAt(1));
        QCOMPARE(win.selectedLines(), QStringList{"beta"});
        QCOMPARE(win.label("lblName"), QString("Beta"));
        // Another server coming and going leaves the selection alone.
        const int gamma = logInServer(win.f, "gamma", "Gamma");
        win.f.reg().closeClient(win.f.slotOf(gamma));
        QCOMPARE(win.selectedLines(), QStringList{"beta"});
        win.clickList(Qt::RightButton, win.lineAt(1));
        win.choose("mnuServerDisconnect");
        QVERIFY(!win.f.isOpen(beta));
        QCOMPARE(win.servers()->count(), 1);
        // Nothing moves into the place of the server that left; its texts stay.
        QVERIFY(win.selectedLines().isEmpty());
        QCOMPARE(win.servers()->currentRow(), -1);
        QCOMPARE(win.label("lblID"), QString("beta"));

        win.clickList(Qt::RightButton, win.belowTheLines());
        QVERIFY(!win.popup()->isVisible());
        win.action("mnuServerDisconnect")->trigger();
        QVERIFY(win.f.isOpen(alpha));
        win.f.send(alpha, Msg::playerCount(11));
        QCOMPARE(win.label("lblID"), QString("beta"));
        QTest::mouseClick(win.w.findChild<QLabel*>("lblDesc"), Qt::LeftButton);
        QCOMPARE(win.prompter.lastText(), QString("The selected server is not currently online."));
        QCOMPARE(win.f.received(alpha), QByteArray());
    }

    void keyboardSelectionShowsTheDetails() {
        Window win;
        win.action("mnuServerView")->trigger();
        logInServer(win.f, "alpha", "Alpha", "A", "10.0.0.1");
        logInServer(win.f, "beta", "Beta", "B", "10.0.0.2");
        logInServer(win.f, "gamma", "Gamma", "G", "10.0.0.3");
        win.clickList(Qt::LeftButton, win.lineAt(0));
        QCOMPARE(win.label("lblName"), QString("Alpha"));
        const QList<std::pair<Qt::Key, QString>> steps = {
            {Qt::Key_Down, "beta"}, {Qt::Key_End, "gamma"}, {Qt::Key_Up, "beta"}, {Qt::Key_Home, "alpha"}};
        for (const auto& [key, id] : steps) {
            QTest::keyClick(win.servers(), key);
            QCOMPARE(win.selectedLines(), QStringList{id});
            QCOMPARE(win.label("lblID"), id);
        }
        QCOMPARE(win.label("lblIP"), QString("10.0.0.1"));
    }

    void descriptionAnswersTheLeftButtonOnly() {
        Window win;
        win.action("mnuServerView")->trigger();
        logInServer(win.f, "alpha", "Alpha", "A fine server");
        win.clickList(Qt::LeftButton, win.lineAt(0));
        auto* desc = win.w.findChild<QLabel*>("lblDesc");
        QTest::mouseClick(desc, Qt::RightButton);
        QTest::mouseClick(desc, Qt::MiddleButton);
        QCOMPARE(win.prompter.shown.size(), 0);
        QTest::mouseClick(desc, Qt::LeftButton);
        QCOMPARE(win.prompter.texts(), QStringList{"A fine server"});
    }

    // A server's own words are text: no markup is drawn, no control character acts.
    void peerTextIsShownAsText() {
        Window win;
        win.action("mnuServerView")->trigger();
        const QByteArray name = "<h1><font color=red>Yes</font></h1>\t\x1b[2J";
        const QByteArray description = "<table><tr><td>Official:</td><td>Yes</td></tr></table>\r\nline\x07two";
        logInServer(win.f, "alpha", name, description, "10.0.0.9");
        win.clickList(Qt::LeftButton, win.lineAt(0));
        for (const char* detail : {"lblID", "lblName", "lblIP", "lblCount", "lblOfficial", "lblDesc"})
            QCOMPARE(win.w.findChild<QLabel*>(detail)->textFormat(), Qt::PlainText);
        win.action("mnuServerMessage")->trigger();
        for (QLabel* any : win.w.findChildren<QLabel*>())
            QVERIFY2(any->textFormat() == Qt::PlainText, qPrintable(any->objectName() + any->text()));
        QCOMPARE(win.label("lblName"), QString::fromUtf8("<h1><font color=red>Yes</font></h1>\u2409\u241b[2J"));

        QTest::mouseClick(win.w.findChild<QLabel*>("lblDesc"), Qt::LeftButton);
        const QString shownDescription =
            QString::fromUtf8("<table><tr><td>Official:</td><td>Yes</td></tr></table>\nline\u2407two");
        QCOMPARE(win.prompter.lastText(), shownDescription);
        // The box that shows such a text does not guess either.
        const auto box = WidgetPrompter::messageBox(nullptr, "TavRegistry: Server Description", shownDescription,
                                                    QMessageBox::Ok);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->text(), shownDescription);

        win.clickList(Qt::RightButton, win.lineAt(0));
        win.choose("mnuViewInformation");
        const QStringList info = win.w.infoWindow()->infoText().split("\r\n");
        QCOMPARE(info.at(1), QString::fromUtf8("Server Name: <h1><font color=red>Yes</font></h1>\u2409\u241b[2J"));
        QCOMPARE(info.at(5), "Description: " + shownDescription);
    }

    void longTextsDoNotPushTheLayout() {
        Window win;
        win.action("mnuServerView")->trigger();
        win.w.resize(720, 460);
        logInServer(win.f, "alpha", "A", "D");
        win.clickList(Qt::LeftButton, win.lineAt(0));
        QCoreApplication::sendPostedEvents();
        const QSize size = win.w.size();
        const QSize minimum = win.w.minimumSizeHint();
        const int listWidth = win.servers()->width();

        const QByteArray name(50, 'W');
        logInServer(win.f, "beta", name, QByteArray(255, 'M'));
        win.clickList(Qt::LeftButton, win.lineAt(1));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(win.label("lblName"), QString::fromLatin1(name));
        QCOMPARE(win.w.size(), size);
        QVERIFY2(win.w.minimumSizeHint().width() <= minimum.width(),
                 qPrintable(QString("%1 > %2").arg(win.w.minimumSizeHint().width()).arg(minimum.width())));
        QCOMPARE(win.servers()->width(), listWidth);
        auto* shown = win.w.findChild<DetailLabel*>("lblName");
        QVERIFY(shown->elidedText().endsWith(QChar(0x2026)));

        // The window still shrinks, and the list keeps its half.
        win.w.resize(420, 460);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(win.w.width(), 420);
        const int frame = win.w.findChild<QGroupBox*>("fraInfo")->width();
        QVERIFY2(qAbs(win.servers()->width() - frame) <= 2, qPrintable(QString::number(win.servers()->width())));
    }

    void messageBoxesAreWideEnoughForTheirTitles() {
        const QString title = QStringLiteral("TavRegistry: Server Description");
        const auto box = WidgetPrompter::messageBox(nullptr, title, "x", QMessageBox::Ok);
        box->show();
        // Room for the title and, beside it, the window manager's buttons.
        const int titleWidth = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(title);
        QVERIFY2(box->width() >= titleWidth + 100, qPrintable(QString::number(box->width())));
        box->hide();
    }

    // Closing the list leaves an open ban dialog and what was typed in it.
    void closingTheBanListKeepsTheBanDialog() {
        Window win;
        win.action("mnuEditBanList")->trigger();
        BansDialog* list = win.w.bansDialog();
        QTest::mouseClick(list->findChild<QPushButton*>("cmdAddBan"), Qt::LeftButton);
        QPointer<BanDialog> ban = list->banDialog();
        QVERIFY(ban && ban->isVisible());
        QTest::keyClicks(ban->findChild<QLineEdit*>("txtName"), "spammer");
        QTest::keyClicks(ban->findChild<QLineEdit*>("txtIP"), "10.9.9.9");
        QTest::mouseClick(list->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        QVERIFY(!list->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(ban && ban->isVisible());
        QCOMPARE(ban->findChild<QLineEdit*>("txtName")->text(), QString("spammer"));

        // Opening the list again is not an open from the list: the dialog stays.
        win.action("mnuEditBanList")->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(ban);
        QTest::mouseClick(win.w.bansDialog()->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);

        // Its OK stores the ban and brings the list back with it.
        ban->findChild<QLineEdit*>("txtUnbanDate")->clear();
        QTest::mouseClick(ban->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!ban);
        QVERIFY(win.f.reg().database().bans().findByName("spammer"));
        QVERIFY(win.w.bansDialog()->isVisible());
        QCOMPARE(win.w.bansDialog()->findChild<QListWidget*>("lstIPs")->item(0)->text(), QString("10.9.9.9 - "));

        // The next open from the list replaces it; shutdown unloads it.
        QTest::mouseClick(win.w.bansDialog()->findChild<QPushButton*>("cmdAddBan"), Qt::LeftButton);
        ban = win.w.bansDialog()->banDialog();
        QTest::mouseClick(win.w.bansDialog()->findChild<QPushButton*>("cmdAddBan"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!ban);
        ban = win.w.bansDialog()->banDialog();
        QTest::mouseClick(win.w.bansDialog()->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        win.f.reg().shutdown();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!ban);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
