// "TavRegistry [Ban List]" and "TavRegistry [Add Ban]" / "[Edit Ban]", and the numbering of new bans.
#include "database/ban_dates.h"
#include "support/box_prompter.h"
#include "support/registry_fixture.h"
#include "ui/ban_dialog.h"
#include "ui/bans_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QDate kToday(2026, 3, 9);

template <typename T> T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

QStringList lines(QListWidget* list) {
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result << list->item(i)->text();
    return result;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace

class BanDialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<RegistryFixture> f;
    BoxPrompter prompter;
    std::unique_ptr<BansDialog> list;

    BanSet& bans() { return f->reg().database().bans(); }

    // Opens a fresh add dialog from the list and fills it.
    BanDialog* addDialog(const QString& name, const QString& ip, const QString& reason = QString(),
                         const QString& date = QString()) {
        child<QPushButton>(list.get(), "cmdAddBan")->click();
        BanDialog* d = list->banDialog();
        child<QLineEdit>(d, "txtName")->setText(name);
        child<QLineEdit>(d, "txtIP")->setText(ip);
        child<QPlainTextEdit>(d, "txtReason")->setPlainText(reason);
        child<QLineEdit>(d, "txtUnbanDate")->setText(date);
        return d;
    }

    void select(const QString& line) {
        auto* lst = child<QListWidget>(list.get(), "lstIPs");
        const auto found = lst->findItems(line, Qt::MatchExactly);
        QVERIFY2(found.size() == 1, qPrintable(line));
        lst->setCurrentItem(found.first());
    }

private slots:
    // Dates are shown and read as the desktop's locale says; these tests use
    // month-first dates unless they choose a locale of their own.
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        f = std::make_unique<RegistryFixture>(false);
        f->reg().setTodayProvider([] { return kToday; });
        QVERIFY(f->start());
        prompter.clear();
        prompter.answers.clear();
        list = std::make_unique<BansDialog>(bans(), [this] { return f->reg().today(); }, prompter);
    }
    void cleanup() {
        list.reset();
        flushDeletes();
        f.reset();
    }

    void captionsControlsAndInitialState() {
        QCOMPARE(list->objectName(), QStringLiteral("frmBans"));
        QCOMPARE(list->windowTitle(), QStringLiteral("TavRegistry [Ban List]"));
        QVERIFY(!list->isModal());
        QVERIFY(!child<QPushButton>(list.get(), "cmdEditBan")->isEnabled());
        QVERIFY(!child<QPushButton>(list.get(), "cmdDelBan")->isEnabled());
        QCOMPARE(child<QPushButton>(list.get(), "cmdRefreshList")->text(), QStringLiteral("Refresh List"));
        QCOMPARE(child<QPushButton>(list.get(), "cmdDelBan")->text(), QStringLiteral("Delete Ban"));

        child<QPushButton>(list.get(), "cmdAddBan")->click();
        BanDialog* d = list->banDialog();
        QVERIFY(d && d->isVisible());
        QCOMPARE(d->objectName(), QStringLiteral("frmBan"));
        QCOMPARE(d->windowTitle(), QStringLiteral("TavRegistry [Add Ban]"));
        QVERIFY(d->isAddMode());
        QCOMPARE(child<QLineEdit>(d, "txtUnbanDate")->text(), BanDates::display(kToday));
        QCOMPARE(child<QLabel>(d, "lblDateHint")->text(), QStringLiteral("mm/dd/yy"));
        QCOMPARE(child<QLineEdit>(d, "txtName")->maxLength(), 32767);
        // A second Add discards the first dialog.
        QPointer<BanDialog> first = d;
        child<QPushButton>(list.get(), "cmdAddBan")->click();
        QVERIFY(!first);
        QVERIFY(list->banDialog());
    }

    void numbersAndListLines() {
        addDialog("one", "10.0.0.5", "spam", "12/31/26")->cmdOK_Click();
        QVERIFY(prompter.boxes.isEmpty());
        addDialog("two", "10.0.0.6")->cmdOK_Click();
        addDialog("three", "10.0.0.7")->cmdOK_Click();
        addDialog("four", "10.0.0.8")->cmdOK_Click();
        QCOMPARE(bans().findByName("one")->Number, 1);
        QCOMPARE(bans().findByName("four")->Number, 4);
        QCOMPARE(bans().findByName("one")->UnbanDate, std::optional<QDate>(QDate(2026, 12, 31)));
        QCOMPARE(lines(child<QListWidget>(list.get(), "lstIPs")),
                 QStringList({"10.0.0.5 - 12/31/26",
                              "10.0.0.6 - ", "10.0.0.7 - ", "10.0.0.8 - "}));
        QVERIFY(child<QPushButton>(list.get(), "cmdEditBan")->isEnabled());
        QCOMPARE(bans().findByName("two")->Reason, std::nullopt);
        QCOMPARE(bans().findByName("one")->Reason, std::optional<QString>("spam"));
        flushDeletes();
        QVERIFY(!list->banDialog());
    }

    void deletedNumberIsReusedNotLost() {
        for (int i = 1; i <= 3; ++i)
            QVERIFY(bans().add(BanRecord{i, QString("b%1").arg(i), QString("1.1.1.%1").arg(i), {}, {}}));
        QVERIFY(bans().remove(2));
        // count + 1 = 3 is taken: the lowest free number is used.
        BanDialog* d = addDialog("new", "2.2.2.2");
        QVERIFY(d->cmdOK_Click());
        QCOMPARE(bans().findByName("new")->Number, 2);
        QCOMPARE(bans().count(), 3);
        // count + 1 is preferred when free.
        QVERIFY(bans().remove(1));
        QCOMPARE(bans().nextFreeNumber(), std::optional<int>(1));
        QVERIFY(addDialog("next", "3.3.3.3")->cmdOK_Click());
        QCOMPARE(bans().findByName("next")->Number, 1); // count 2 + 1 = 3 taken, 1 is free
    }

    void fullListStoresNothing() {
        for (int i = 1; i <= 255; ++i)
            QVERIFY(bans().add(BanRecord{i, QString("b%1").arg(i), QString("1.1.%1.1").arg(i), {}, {}}));
        BanDialog* d = addDialog("extra", "9.9.9.9");
        QVERIFY(!d->cmdOK_Click());
        QCOMPARE(prompter.texts(), QStringList{"The ban list is full."});
        QCOMPARE(bans().count(), 255);
        QVERIFY(d->isVisible());
        QVERIFY(bans().remove(200));
        QCOMPARE(bans().nextFreeNumber(), std::optional<int>(200));
    }

    void refusalsKeepTheDialogOpen_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name") << "" << "1.2.3.4" << "" << "You must enter a name.";
        QTest::newRow("no ip") << "n" << "" << "" << "You must enter an IP.";
        QTest::newRow("name in use, other case") << "TAKEN" << "1.2.3.4" << "" << "The name specified is already in use.";
        QTest::newRow("ip banned") << "n" << "5.5.5.5" << "" << "The IP specified is already banned.";
        QTest::newRow("name 16") << QString(16, 'n') << "1.2.3.4" << ""
                                 << "The name is too long: it may have at most 15 characters.";
        QTest::newRow("ip 16") << "n" << "1234.123.123.123" << ""
                               << "The IP is too long: it may have at most 15 characters.";
        QTest::newRow("reason 256") << "n" << "1.2.3.4" << QString(256, 'r')
                                    << "The reason is too long: it may have at most 255 characters.";
    }
    void refusalsKeepTheDialogOpen() {
        QFETCH(QString, name);
        QFETCH(QString, ip);
        QFETCH(QString, reason);
        QFETCH(QString, message);
        QVERIFY(bans().add(BanRecord{1, "taken", "5.5.5.5", {}, {}}));
        BanDialog* d = addDialog(name, ip, reason);
        QVERIFY(!d->cmdOK_Click());
        QCOMPARE(prompter.texts(), QStringList{message});
        QCOMPARE(prompter.boxes[0].title, QStringLiteral("The Tarvane Classic Server Registry"));
        QCOMPARE(prompter.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(bans().count(), 1);
        flushDeletes();
        QVERIFY(list->banDialog() && list->banDialog()->isVisible());
        QCOMPARE(child<QLineEdit>(list->banDialog(), "txtIP")->text(), ip);
    }

    void datesThatDoNotConvertStillStoreTheBan() {
        BanDialog* d = addDialog("baddate", "7.7.7.7", "", "31/31/31");
        QVERIFY(d->cmdOK_Click());
        QCOMPARE(prompter.texts(), QStringList{"Enter a valid date using the mm/dd/yy format."});
        QCOMPARE(bans().findByName("baddate")->UnbanDate, std::nullopt);
        // Editing with a bad date keeps the date the ban had.
        QVERIFY(bans().add(BanRecord{9, "dated", "8.8.8.8", {}, QDate(2027, 1, 2)}));
        list->RefreshBanList();
        select("8.8.8.8 - " + BanDates::display(QDate(2027, 1, 2)));
        list->cmdEditBan_Click();
        d = list->banDialog();
        child<QLineEdit>(d, "txtUnbanDate")->setText("soon");
        prompter.clear();
        QVERIFY(d->cmdOK_Click());
        QCOMPARE(prompter.texts(), QStringList{"Enter a valid date using the mm/dd/yy format."});
        QCOMPARE(bans().findByName("dated")->UnbanDate, std::optional<QDate>(QDate(2027, 1, 2)));
    }

    void dateTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("m/d/yy") << "1/2/27" << QDate(2027, 1, 2);
        QTest::newRow("mm/dd/yy") << "12/31/26" << QDate(2026, 12, 31);
        QTest::newRow("m/d/yyyy") << "2/29/2028" << QDate(2028, 2, 29);
        QTest::newRow("two-digit year 99") << "1/1/99" << QDate(2099, 1, 1);
        QTest::newRow("not a day") << "2/30/27" << QDate();
        QTest::newRow("words") << "tomorrow" << QDate();
        QTest::newRow("locale's own") << QLocale().toString(QDate(2028, 7, 4), QLocale::ShortFormat)
                                      << QDate(2028, 7, 4);
    }
    void dateTexts() {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        const auto parsed = BanDates::parse(text);
        QCOMPARE(parsed.value_or(QDate()), date);
    }

    void editCannotChangeTheNameAndDoesNotCheckTheAddress() {
        QVERIFY(bans().add(BanRecord{1, "first", "1.1.1.1", {"why"}, {}}));
        QVERIFY(bans().add(BanRecord{2, "second", "2.2.2.2", {}, {}}));
        list->RefreshBanList();
        select("2.2.2.2 - ");
        list->cmdEditBan_Click();
        BanDialog* d = list->banDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("TavRegistry [Edit Ban]"));
        QVERIFY(!d->isAddMode());
        QVERIFY(!child<QLineEdit>(d, "txtName")->isEnabled());
        QCOMPARE(child<QLineEdit>(d, "txtName")->text(), QStringLiteral("second"));
        QCOMPARE(child<QPlainTextEdit>(d, "txtReason")->toPlainText(), QString());
        QCOMPARE(child<QLineEdit>(d, "txtUnbanDate")->text(), QString());
        child<QLineEdit>(d, "txtIP")->setText("1.1.1.1");
        child<QPlainTextEdit>(d, "txtReason")->setPlainText("changed");
        QVERIFY(d->cmdOK_Click());
        QVERIFY(prompter.boxes.isEmpty());
        const auto edited = bans().findByNumber(2);
        QCOMPARE(edited->Name, QStringLiteral("second"));
        QCOMPARE(edited->IP, QStringLiteral("1.1.1.1"));
        QCOMPARE(edited->Reason, std::optional<QString>("changed"));
        QCOMPARE(bans().findByNumber(1)->Reason, std::optional<QString>("why"));
        QCOMPARE(lines(child<QListWidget>(list.get(), "lstIPs")), QStringList({"1.1.1.1 - ", "1.1.1.1 - "}));
    }

    void vanishedBanWhileEditing() {
        QVERIFY(bans().add(BanRecord{1, "keep", "1.1.1.1", {}, {}}));
        QVERIFY(bans().add(BanRecord{2, "gone", "2.2.2.2", {}, {}}));
        list->RefreshBanList();
        const QString question = QStringLiteral("The account being edited no longer exists, would you like to create it?");

        // No: nothing stored, the dialog closes.
        select("2.2.2.2 - ");
        list->cmdEditBan_Click();
        QPointer<BanDialog> d = list->banDialog();
        QVERIFY(bans().remove(2));
        prompter.answers = {QMessageBox::No};
        QVERIFY(!d->cmdOK_Click());
        QCOMPARE(prompter.texts(), QStringList{question});
        QCOMPARE(prompter.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
        flushDeletes();
        QVERIFY(!d);
        QCOMPARE(bans().count(), 1);

        // Yes: stored anew under a fresh number.
        QVERIFY(bans().add(BanRecord{2, "gone", "2.2.2.2", {}, {}}));
        list->RefreshBanList();
        select("2.2.2.2 - ");
        list->cmdEditBan_Click();
        d = list->banDialog();
        QVERIFY(bans().remove(2));
        prompter.clear();
        prompter.answers = {QMessageBox::Yes};
        QVERIFY(d->cmdOK_Click());
        QCOMPARE(d->windowTitle(), QStringLiteral("TavRegistry [Add Ban]"));
        QCOMPARE(bans().findByName("gone")->Number, 2);

        // With the table empty and No, the dialog stays open.
        list->RefreshBanList();
        select("1.1.1.1 - ");
        list->cmdEditBan_Click();
        d = list->banDialog();
        QVERIFY(bans().removeAll());
        prompter.clear();
        prompter.answers = {QMessageBox::No};
        QVERIFY(!d->cmdOK_Click());
        flushDeletes();
        QVERIFY(d && d->isVisible());
        QCOMPARE(bans().count(), 0);
    }

    void listCommandsWithoutASelectionOrWithAStaleList() {
        child<QPushButton>(list.get(), "cmdRefreshList")->click();
        list->cmdDelBan_Click();
        list->cmdEditBan_Click();
        QCOMPARE(prompter.texts(), QStringList({"Select a ban, then click edit.", "Select a ban, then click edit."}));
        QVERIFY(!list->banDialog());

        QVERIFY(bans().add(BanRecord{1, "a", "1.1.1.1", {}, {}}));
        QVERIFY(bans().add(BanRecord{2, "b", "2.2.2.2", {}, {}}));
        list->RefreshBanList();
        auto* lst = child<QListWidget>(list.get(), "lstIPs");
        lst->item(0)->setText("garbled");
        select("garbled");
        prompter.clear();
        list->cmdEditBan_Click();
        QCOMPARE(prompter.texts(), QStringList{"There was an error involving the list."});

        select("2.2.2.2 - ");
        QVERIFY(bans().remove(2));
        prompter.clear();
        list->cmdEditBan_Click();
        QCOMPARE(prompter.texts(), QStringList{"The IP was not found in the datebase, refresh the list."});
        prompter.clear();
        list->cmdDelBan_Click(); // not found: nothing happens
        QVERIFY(prompter.boxes.isEmpty());
        QCOMPARE(bans().count(), 1);

        QVERIFY(bans().removeAll());
        prompter.clear();
        list->cmdDelBan_Click();
        QCOMPARE(prompter.texts(), QStringList{"There are no bans in the database, refresh the list."});
    }

    void deleteRemovesTheLineAndLiftsTheBan() {
        QVERIFY(bans().add(BanRecord{1, "local", "127.0.0.0", {}, {}}));
        QVERIFY(bans().add(BanRecord{2, "other", "10.9.9.9", {}, {}}));
        list->RefreshBanList();
        const int refused = f->connect("127.0.0.1");
        QVERIFY(!f->isOpen(refused));
        select("127.0.0.0 - ");
        child<QPushButton>(list.get(), "cmdDelBan")->click();
        QVERIFY(prompter.boxes.isEmpty());
        QCOMPARE(lines(child<QListWidget>(list.get(), "lstIPs")), QStringList{"10.9.9.9 - "});
        const int admitted = f->connect("127.0.0.1");
        QVERIFY(f->isOpen(admitted));
    }
    // One reading of a numeric date per locale: the order of its short date
    // format, whatever the number of digits; month first where that format
    // names the month (C).
    void datesFollowTheLocalesFieldOrder_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("en_GB two-digit year") << "en_GB" << "01/02/26" << QDate(2026, 2, 1);
        QTest::newRow("en_GB four-digit year") << "en_GB" << "01/02/2027" << QDate(2027, 2, 1);
        QTest::newRow("en_GB day 13") << "en_GB" << "13/01/26" << QDate(2026, 1, 13);
        QTest::newRow("en_GB month 13") << "en_GB" << "1/13/26" << QDate();
        QTest::newRow("en_US two-digit year") << "en_US" << "01/02/26" << QDate(2026, 1, 2);
        QTest::newRow("en_US four-digit year") << "en_US" << "01/02/2027" << QDate(2027, 1, 2);
        QTest::newRow("en_US month 13") << "en_US" << "13/01/26" << QDate();
        QTest::newRow("en_US year 99") << "en_US" << "1/1/99" << QDate(2099, 1, 1);
        QTest::newRow("en_US one-digit year") << "en_US" << "1/2/7" << QDate();
        QTest::newRow("en_US three-digit year") << "en_US" << "1/2/027" << QDate();
        QTest::newRow("en_US three-digit day") << "en_US" << "1/002/27" << QDate();
        QTest::newRow("de_DE dots") << "de_DE" << "1.2.26" << QDate(2026, 2, 1);
        QTest::newRow("de_DE four-digit year") << "de_DE" << "01.02.2027" << QDate(2027, 2, 1);
        QTest::newRow("de_DE slashes") << "de_DE" << "31/12/26" << QDate(2026, 12, 31);
        QTest::newRow("de_DE month first") << "de_DE" << "12/31/26" << QDate();
        QTest::newRow("C month first") << "C" << "01/02/26" << QDate(2026, 1, 2);
        QTest::newRow("C four-digit year") << "C" << "12/31/2026" << QDate(2026, 12, 31);
        QTest::newRow("C day first") << "C" << "31/12/26" << QDate();
        QTest::newRow("C month name") << "C" << "8 Dec 2026" << QDate();
        QTest::newRow("C no year") << "C" << "12/31" << QDate();
    }
    void datesFollowTheLocalesFieldOrder() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(QDate, date);
        QCOMPARE(BanDates::parse(text, QLocale(locale)).value_or(QDate()), date);
    }

    void everyShownDateReadsBack() {
        const QList<QDate> dates = {QDate(2026, 12, 8), QDate(2000, 1, 1), QDate(2099, 12, 31), QDate(1999, 12, 31),
                                    QDate(2126, 2, 1), QDate(2028, 2, 29)};
        for (const char* name : {"en_US", "en_GB", "de_DE", "C", "fr_FR", "ja_JP", "hu_HU", "nl_NL"}) {
            const QLocale locale(QString::fromLatin1(name));
            for (const QDate& d : dates) {
                const QString shown = BanDates::display(d, locale);
                QCOMPARE(BanDates::parse(shown, locale).value_or(QDate()), d);
            }
        }
        QCOMPARE(BanDates::display(QDate(2026, 12, 8), QLocale::c()), QStringLiteral("12/08/2026"));
        QCOMPARE(BanDates::display(QDate(2126, 2, 1), QLocale("en_US")), QStringLiteral("2/1/2126"));
        QCOMPARE(BanDates::display(std::nullopt, QLocale::c()), QString());
    }

    // Where the short date names the month, the list and the box beside the
    // "mm/dd/yy" hint show month/day/year numbers.
    void theDialogReadsBackWhatItShows() {
        QLocale::setDefault(QLocale::c());
        QVERIFY(bans().add(BanRecord{1, "one", "10.0.0.5", {}, QDate(2026, 12, 31)}));
        list->RefreshBanList();
        QCOMPARE(lines(child<QListWidget>(list.get(), "lstIPs")), QStringList{"10.0.0.5 - 12/31/2026"});
        child<QPushButton>(list.get(), "cmdAddBan")->click();
        BanDialog* d = list->banDialog();
        QCOMPARE(child<QLineEdit>(d, "txtUnbanDate")->text(), QStringLiteral("03/09/2026"));

        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        child<QPushButton>(list.get(), "cmdAddBan")->click();
        d = list->banDialog();
        child<QLineEdit>(d, "txtName")->setText("two");
        child<QLineEdit>(d, "txtIP")->setText("10.0.0.6");
        QCOMPARE(child<QLineEdit>(d, "txtUnbanDate")->text(), QStringLiteral("09/03/2026"));
        QVERIFY(d->cmdOK_Click());
        QVERIFY(prompter.boxes.isEmpty());
        QCOMPARE(bans().findByName("two")->UnbanDate, std::optional<QDate>(kToday));

        select("10.0.0.5 - 31/12/2026");
        child<QPushButton>(list.get(), "cmdEditBan")->click();
        d = list->banDialog();
        QCOMPARE(child<QLineEdit>(d, "txtUnbanDate")->text(), QStringLiteral("31/12/2026"));
        QVERIFY(d->cmdOK_Click());
        QCOMPARE(bans().findByName("one")->UnbanDate, std::optional<QDate>(QDate(2026, 12, 31)));
    }

    // Return is OK and Escape is Cancel in the ban dialog.
    void banDialogKeys() {
        BanDialog* d = addDialog("one", "10.0.0.5");
        QVERIFY(child<QPushButton>(d, "cmdOK")->isDefault());
        QTest::keyClick(child<QLineEdit>(d, "txtIP"), Qt::Key_Return);
        QVERIFY(bans().findByName("one"));
        flushDeletes();
        QVERIFY(!list->banDialog());

        d = addDialog("two", "10.0.0.6");
        QPointer<BanDialog> open = d;
        QTest::keyClick(child<QLineEdit>(d, "txtName"), Qt::Key_Escape);
        flushDeletes();
        QVERIFY(!open);
        QVERIFY(!bans().findByName("two"));
        QVERIFY(prompter.boxes.isEmpty());
    }
};

QTEST_MAIN(BanDialogsTest)
#include "tst_ban_dialogs.moc"
