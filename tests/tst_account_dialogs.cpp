// The "Accounts List" and "Add Server Account" dialogs.
#include "client/messages.h"
#include "support/box_prompter.h"
#include "support/registry_fixture.h"
#include "ui/account_dialog.h"
#include "ui/accounts_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

const QString kRule = QStringLiteral("User name and password must be between 3 and 15 characters long, must start "
                                     "with a letter, and may only contain letters, numbers, and the underscore "
                                     "character.");

template <typename T> T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

// The named controls that Tab visits, in order, starting at `start`.
QStringList tabOrder(QWidget* start, int count) {
    QStringList order;
    for (QWidget* w = start; order.size() < count; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")))
            order << w->objectName();
        if (w->nextInFocusChain() == start)
            break;
    }
    return order;
}

void fill(AccountDialog& d, const QString& user, const QString& p1, const QString& p2) {
    child<QLineEdit>(d, "txtUser")->setText(user);
    child<QLineEdit>(d, "txtPassword1")->setText(p1);
    child<QLineEdit>(d, "txtPassword2")->setText(p2);
}

AccountRecord account(const QString& user, const QString& password = QStringLiteral("secret")) {
    AccountRecord r;
    r.User = user;
    r.Password = password;
    r.Name = QStringLiteral("Name of ") + user;
    r.Description = QStringLiteral("desc");
    r.UpdateURL = QStringLiteral("http://x");
    r.Official = 1;
    return r;
}

void clickLine(QListWidget* list, const QString& text) {
    const auto items = list->findItems(text, Qt::MatchExactly);
    QVERIFY(items.size() == 1);
    list->setCurrentItem(items.first());
    emit list->itemClicked(items.first());
}

} // namespace

class AccountDialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<RegistryFixture> f;
    BoxPrompter prompter;

    AccountSet& accounts() { return f->reg().database().accounts(); }

private slots:
    void init() {
        f = std::make_unique<RegistryFixture>();
        prompter.clear();
        prompter.answers.clear();
    }
    void cleanup() { f.reset(); }

    void controlsCaptionsAndLimits() {
        AccountsDialog list(accounts(), AccountsDialog::sessionCloser(f->reg()), prompter);
        QCOMPARE(list.windowTitle(), QStringLiteral("Accounts List"));
        QCOMPARE(child<QPushButton>(list, "btnDelete")->text(), QStringLiteral("Delete"));
        QCOMPARE(child<QPushButton>(list, "btnOk")->text(), QStringLiteral("Close"));
        QCOMPARE(child<QPushButton>(list, "btnNew")->text(), QStringLiteral("Add New"));
        QCOMPARE(child<QPushButton>(list, "btnEdit")->text(), QStringLiteral("Edit"));
        QVERIFY(child<QPushButton>(list, "btnEdit")->font().bold());
        QVERIFY(!child<QPushButton>(list, "btnEdit")->isEnabled());
        QVERIFY(!child<QPushButton>(list, "btnDelete")->isEnabled());
        QCOMPARE(tabOrder(child<QListWidget>(list, "lstAccounts"), 5),
                 QStringList({"lstAccounts", "btnDelete", "btnOk", "btnNew", "btnEdit"}));

        AccountDialog d(accounts(), prompter, std::nullopt);
        QCOMPARE(d.objectName(), QStringLiteral("frmAccount"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Add Server Account"));
        QCOMPARE(child<QLineEdit>(d, "txtUser")->maxLength(), 15);
        QCOMPARE(child<QLineEdit>(d, "txtPassword1")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QLineEdit>(d, "txtPassword2")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QLineEdit>(d, "txtName")->maxLength(), 50);
        QCOMPARE(child<QLineEdit>(d, "txtUpdateURL")->maxLength(), 255);
        QVERIFY(!child<QCheckBox>(d, "chkOfficial")->isChecked());
        QCOMPARE(child<QPushButton>(d, "btnOk")->text(), QStringLiteral("Ok"));
        QCOMPARE(child<QPushButton>(d, "btnCancel")->text(), QStringLiteral("Cancel"));
        child<QPlainTextEdit>(d, "txtDescription")->setPlainText(QString(60, 'd'));
        QCOMPARE(child<QPlainTextEdit>(d, "txtDescription")->toPlainText(), QString(50, 'd'));
        // Tab order of the focusable controls.
        QCOMPARE(tabOrder(child<QLineEdit>(d, "txtUser"), 9), QStringList({"txtUser", "txtPassword1", "txtPassword2", "txtName", "txtDescription",
                                     "txtUpdateURL", "chkOfficial", "btnCancel", "btnOk"}));
    }

    void ruleRefusalsKeepTheDialogOpen_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("ab") << "ab" << "secret";
        QTest::newRow("a b") << "a b" << "secret";
        QTest::newRow("1abc") << "1abc" << "secret";
        QTest::newRow("joe-1") << "joe-1" << "secret";
        QTest::newRow("accented") << QString::fromUtf8("J\xC3\xB6rg") << "secret";
        QTest::newRow("bad password, good name") << "goodname" << "pw";
        QTest::newRow("password with a hyphen") << "goodname" << "pass-word";
    }
    void ruleRefusalsKeepTheDialogOpen() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        AccountDialog d(accounts(), prompter, std::nullopt);
        fill(d, user, password, password);
        QVERIFY(!d.btnOk_Click());
        QCOMPARE(prompter.texts(), QStringList{kRule});
        QCOMPARE(prompter.boxes[0].title, QStringLiteral("The Tarvane Classic Server Registry"));
        QCOMPARE(prompter.boxes[0].buttons, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
        QCOMPARE(d.result(), 0);
        QCOMPARE(child<QLineEdit>(d, "txtUser")->text(), user);
        QCOMPARE(accounts().count(), 0);
    }

    void checksRunInOrderAndStoreTheFirstPassword() {
        accounts().add(account("bob"));
        AccountDialog d(accounts(), prompter, std::nullopt);
        // Both a mismatch and a taken name: only the mismatch is reported.
        fill(d, "BOB", "Secret1", "other");
        QVERIFY(!d.btnOk_Click());
        QCOMPARE(prompter.texts(), QStringList{"The two passwords entered do not match!"});
        prompter.clear();
        fill(d, "BOB", "Secret1", "SECRET1");
        QVERIFY(!d.btnOk_Click());
        QCOMPARE(prompter.texts(), QStringList{"An account by that name already exists!"});
        prompter.clear();
        fill(d, "Joe_1", "Secret1", "sECRET1");
        child<QLineEdit>(d, "txtName")->setText("Joe's");
        QVERIFY(d.btnOk_Click());
        QVERIFY(prompter.boxes.isEmpty());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        const auto stored = accounts().find("joe_1");
        QVERIFY(stored);
        QCOMPARE(stored->User, QStringLiteral("Joe_1"));
        QCOMPARE(stored->Password, QStringLiteral("Secret1"));
        QCOMPARE(stored->Name, QStringLiteral("Joe's"));
        QCOMPARE(stored->Description, QStringLiteral(""));
        QVERIFY(!stored->Description.isNull());
        QCOMPARE(stored->Official, std::optional<int>(0));
    }

    void editKeepsTheNameAndRewritesTheRest() {
        const qint64 id = accounts().add(account("carl"));
        accounts().add(account("dave", "untouched"));
        AccountDialog d(accounts(), prompter, id);
        QVERIFY(d.loadedRecord());
        QVERIFY(!child<QLineEdit>(d, "txtUser")->isEnabled());
        QCOMPARE(child<QLineEdit>(d, "txtUser")->text(), QStringLiteral("carl"));
        QCOMPARE(child<QLineEdit>(d, "txtPassword2")->text(), QStringLiteral("secret"));
        QCOMPARE(child<QLineEdit>(d, "txtName")->text(), QStringLiteral("Name of carl"));
        QCOMPARE(child<QPlainTextEdit>(d, "txtDescription")->toPlainText(), QStringLiteral("desc"));
        QVERIFY(child<QCheckBox>(d, "chkOfficial")->isChecked());
        child<QLineEdit>(d, "txtPassword1")->setText("newpass");
        child<QLineEdit>(d, "txtPassword2")->setText("NEWPASS");
        child<QLineEdit>(d, "txtUpdateURL")->setText("");
        child<QCheckBox>(d, "chkOfficial")->setChecked(false);
        QVERIFY(d.btnOk_Click());
        const auto r = accounts().findByBookmark(id);
        QCOMPARE(r->User, QStringLiteral("carl"));
        QCOMPARE(r->Password, QStringLiteral("newpass"));
        QCOMPARE(r->UpdateURL, QStringLiteral(""));
        QCOMPARE(r->Official, std::optional<int>(0));
        QCOMPARE(accounts().find("dave")->Password, QStringLiteral("untouched"));
    }

    void editOfAnAccountDeletedMeanwhileStoresNothing() {
        const qint64 id = accounts().add(account("gone"));
        accounts().add(account("other"));
        AccountDialog d(accounts(), prompter, id);
        QVERIFY(accounts().remove("GONE"));
        QVERIFY(!d.btnOk_Click());
        QCOMPARE(prompter.texts(), QStringList{"The selected account no longer exists."});
        QCOMPARE(prompter.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(accounts().names(), QStringList{"other"});
        QCOMPARE(accounts().find("other")->Password, QStringLiteral("secret"));
    }

    void listOrderClickAndDoubleClick() {
        for (const char* n : {"bob", "Alice", "carl"})
            accounts().add(account(n));
        AccountsDialog list(accounts(), AccountsDialog::sessionCloser(f->reg()), prompter);
        auto* lst = child<QListWidget>(list, "lstAccounts");
        QStringList lines;
        for (int i = 0; i < lst->count(); ++i)
            lines << lst->item(i)->text();
        QCOMPARE(lines, QStringList({"Alice", "bob", "carl"}));

        int shown = 0;
        std::optional<bool> editMode;
        QString userShown;
        list.setAccountDialogRunner([&](AccountDialog& d) {
            ++shown;
            editMode = d.isEditMode();
            userShown = child<QLineEdit>(d, "txtUser")->text();
        });
        emit lst->itemDoubleClicked(lst->item(1)); // nothing clicked yet: Edit disabled
        QCOMPARE(shown, 0);
        clickLine(lst, "bob");
        QVERIFY(child<QPushButton>(list, "btnEdit")->isEnabled());
        QVERIFY(child<QPushButton>(list, "btnDelete")->isEnabled());
        emit lst->itemDoubleClicked(lst->currentItem());
        QCOMPARE(shown, 1);
        QCOMPARE(editMode, std::optional<bool>(true));
        QCOMPARE(userShown, QStringLiteral("bob"));
        // The list is refilled after the dialog: a click is needed again.
        QVERIFY(!child<QPushButton>(list, "btnEdit")->isEnabled());

        list.setAccountDialogRunner([&](AccountDialog& d) {
            editMode = d.isEditMode();
            fill(d, "dora", "secret", "secret");
            d.btnOk_Click();
        });
        child<QPushButton>(list, "btnNew")->click();
        QCOMPARE(editMode, std::optional<bool>(false));
        QCOMPARE(lst->count(), 4);
        QCOMPARE(lst->item(3)->text(), QStringLiteral("dora"));
    }

    void editOrDeleteOfAVanishedAccountChangesNothing() {
        accounts().add(account("alpha"));
        accounts().add(account("beta"));
        AccountsDialog list(accounts(), AccountsDialog::sessionCloser(f->reg()), prompter);
        auto* lst = child<QListWidget>(list, "lstAccounts");
        bool shown = false;
        list.setAccountDialogRunner([&](AccountDialog&) { shown = true; });
        clickLine(lst, "alpha");
        accounts().remove("alpha");
        child<QPushButton>(list, "btnEdit")->click();
        QVERIFY(!shown);
        QCOMPARE(prompter.texts(), QStringList{"The selected account no longer exists."});
        QCOMPARE(lst->count(), 1); // refreshed

        prompter.clear();
        clickLine(lst, "beta");
        accounts().remove("beta");
        accounts().add(account("gamma"));
        child<QPushButton>(list, "btnDelete")->click();
        QCOMPARE(prompter.texts(), QStringList{"The selected account no longer exists."});
        QCOMPARE(accounts().names(), QStringList{"gamma"});
        QCOMPARE(lst->count(), 1);
        QCOMPARE(lst->item(0)->text(), QStringLiteral("gamma"));
    }

    // "alpha" is open for editing; an operator deletes every account and a
    // game server registers "intruder", which the file may store where alpha
    // was. Ok must not write alpha's fields into intruder.
    void okAfterTheAccountWasDeletedAndANewOneRegisteredStoresNothing() {
        namespace M = TavClient::Messages;
        accounts().add(account("alpha"));
        AccountsDialog list(accounts(), AccountsDialog::sessionCloser(f->reg()), prompter);
        auto* lst = child<QListWidget>(list, "lstAccounts");
        bool ran = false;
        list.setAccountDialogRunner([&](AccountDialog& d) {
            ran = true;
            d.show();
            QCOMPARE(child<QLineEdit>(d, "txtUser")->text(), QStringLiteral("alpha"));
            const int op = f->connect("10.9.9.9");
            f->send(op, M::operatorLogin("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD"));
            QCOMPARE(f->received(op), QByteArray("\x00\x01\x05", 3));
            f->send(op, M::allowNewAccounts());
            f->send(op, M::deleteAllAccounts());
            QCOMPARE(accounts().count(), 0);
            const int server = f->connect("10.9.9.10");
            f->send(server, M::registerServer("intruder", "theirs"));
            QCOMPARE(f->received(server), QByteArray("\x00\x0c\x00<untitled>\x00", 14));

            child<QLineEdit>(d, "txtName")->setText("Alpha renamed");
            QTest::mouseClick(child<QPushButton>(d, "btnOk"), Qt::LeftButton);
            QCOMPARE(d.result(), int(QDialog::Rejected));
        });
        clickLine(lst, "alpha");
        QTest::mouseClick(child<QPushButton>(list, "btnEdit"), Qt::LeftButton);
        QVERIFY(ran);
        QCOMPARE(prompter.texts(), QStringList{"The selected account no longer exists."});
        QCOMPARE(accounts().names(), QStringList{"intruder"});
        const auto intruder = accounts().find("intruder");
        QCOMPARE(intruder->Password, QStringLiteral("THEIRS"));
        QCOMPARE(intruder->Name, QStringLiteral("<untitled>"));
        QCOMPARE(intruder->Description, QStringLiteral(""));
        QCOMPARE(intruder->UpdateURL, QStringLiteral(""));
        QCOMPARE(intruder->Official, std::optional<int>(0));
        QCOMPARE(lst->count(), 1);
        QCOMPARE(lst->item(0)->text(), QStringLiteral("intruder"));
    }

    void deletingTheAccountOfAnOnlineServerClosesItFirst() {
        accounts().add(account("bob"));
        accounts().add(account("eve"));
        const int server = f->connect("10.1.1.1");
        const int other = f->connect("10.1.1.2");
        const int bystander = f->connect("10.1.1.3");
        ClientSlot& s = f->reg().slot(f->slotOf(server));
        s.Mode = SessionMode::Server;
        s.ServerId = "BOB";
        f->reg().onlineServers().add(QByteArray("BOB"));
        ClientSlot& o = f->reg().slot(f->slotOf(other));
        o.Mode = SessionMode::Server;
        o.ServerId = "eve";

        bool recordPresentAtClose = false;
        QObject watcher; // ends the connection with the test
        QObject::connect(&f->reg(), &Registry::connectionCountChanged, &watcher,
                         [&] { recordPresentAtClose = accounts().find("bob").has_value(); });

        AccountsDialog list(accounts(), AccountsDialog::sessionCloser(f->reg()), prompter);
        auto* lst = child<QListWidget>(list, "lstAccounts");
        clickLine(lst, "bob");
        child<QPushButton>(list, "btnDelete")->click();

        QVERIFY(!f->isOpen(server));
        QVERIFY(recordPresentAtClose);
        QVERIFY(f->isOpen(other));
        QVERIFY(f->isOpen(bystander));
        QCOMPARE(f->received(server), QByteArray());
        QVERIFY(f->reg().eventLog().lines().contains("BOB has disconnected from 10.1.1.1"));
        QCOMPARE(accounts().names(), QStringList{"eve"});
        QCOMPARE(lst->count(), 1);
        QVERIFY(!child<QPushButton>(list, "btnDelete")->isEnabled());
        QVERIFY(prompter.boxes.isEmpty());
    }
    // A line picked with the keyboard is picked; Return on it edits it.
    void keyboardPicksAndReturnEdits() {
        for (const char* n : {"alpha", "beta", "gamma"})
            accounts().add(account(n));
        AccountsDialog list(accounts(), AccountsDialog::sessionCloser(f->reg()), prompter);
        QStringList opened;
        list.setAccountDialogRunner([&](AccountDialog& d) { opened << child<QLineEdit>(d, "txtUser")->text(); });
        auto* lst = child<QListWidget>(list, "lstAccounts");
        auto* edit = child<QPushButton>(list, "btnEdit");
        auto* del = child<QPushButton>(list, "btnDelete");
        // Taking the focus makes a line current without picking it.
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(lst, &in);
        QTest::keyClick(lst, Qt::Key_Return);
        QVERIFY(opened.isEmpty());
        QVERIFY(!edit->isEnabled());

        QTest::keyClick(lst, Qt::Key_End);
        QVERIFY(edit->isEnabled());
        QVERIFY(del->isEnabled());
        QTest::keyClick(lst, Qt::Key_Up);
        QTest::keyClick(lst, Qt::Key_Return);
        QCOMPARE(opened, QStringList{"beta"});
        // Refilled after the dialog: nothing is picked until a line is chosen again.
        QVERIFY(!edit->isEnabled());
        QTest::keyClick(lst, Qt::Key_Enter);
        QCOMPARE(opened, QStringList{"beta"});
        QTest::keyClick(lst, Qt::Key_Home);
        QTest::mouseClick(del, Qt::LeftButton);
        QVERIFY(!accounts().find("alpha"));
        QVERIFY(accounts().find("beta"));
    }

    // Return is Ok, Escape is Cancel; the password boxes show one "*" per character.
    void dialogKeysAndPasswordMask() {
        AccountDialog d(accounts(), prompter, std::nullopt);
        d.show();
        auto* password1 = child<QLineEdit>(d, "txtPassword1");
        auto* password2 = child<QLineEdit>(d, "txtPassword2");
        QTest::keyClicks(child<QLineEdit>(d, "txtUser"), "dora");
        QTest::keyClicks(password1, "secret");
        QTest::keyClicks(password2, "Secret");
        QCOMPARE(password1->displayText(), QStringLiteral("******"));
        QCOMPARE(password2->displayText(), QStringLiteral("******"));
        QVERIFY(child<QPushButton>(d, "btnOk")->isDefault());
        QTest::keyClick(child<QLineEdit>(d, "txtName"), Qt::Key_Return);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(accounts().find("dora")->Password, QStringLiteral("secret"));

        AccountDialog cancelled(accounts(), prompter, std::nullopt);
        cancelled.show();
        fill(cancelled, "erik", "secret", "secret");
        QTest::keyClick(child<QLineEdit>(cancelled, "txtUser"), Qt::Key_Escape);
        QVERIFY(!cancelled.isVisible());
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QVERIFY(!accounts().find("erik"));
        QVERIFY(prompter.boxes.isEmpty());
    }
};

QTEST_MAIN(AccountDialogsTest)
#include "tst_account_dialogs.moc"
