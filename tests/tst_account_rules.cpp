// The character test and the account dialog's name rule.
#include "database/account_rules.h"

#include <QtTest>

class AccountRulesTest : public QObject {
    Q_OBJECT
private slots:
    void characterTest_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("letters digits space underscore") << "Az09 _zA" << true;
        QTest::newRow("leading digit and space are its callers' business") << " 1a" << true;
        QTest::newRow("hyphen") << "a-b" << false;
        QTest::newRow("char before 0") << "/" << false;
        QTest::newRow("char after 9") << ":" << false;
        QTest::newRow("char before A") << "@" << false;
        QTest::newRow("char after Z") << "[" << false;
        QTest::newRow("backquote") << "`" << false;
        QTest::newRow("char after z") << "{" << false;
        QTest::newRow("accented") << QString::fromUtf8("caf\xC3\xA9") << false;
        QTest::newRow("nul") << QString(QChar(0)) << false;
        QTest::newRow("tab") << "a\tb" << false;
    }
    void characterTest() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(IsValidAccountText(text), valid);
    }

    void nameRule_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("abc") << "abc" << true;
        QTest::newRow("Joe_1") << "Joe_1" << true;
        QTest::newRow("15 characters") << "abcdefghijklmno" << true;
        QTest::newRow("16 characters") << "abcdefghijklmnop" << false;
        QTest::newRow("ab") << "ab" << false;
        QTest::newRow("a b") << "a b" << false;
        QTest::newRow("abc with trailing space") << "abc " << false;
        QTest::newRow("1abc") << "1abc" << false;
        QTest::newRow("_abc") << "_abc" << false;
        QTest::newRow("joe-1") << "joe-1" << false;
        QTest::newRow("accented") << QString::fromUtf8("J\xC3\xB6rg") << false;
        QTest::newRow("empty") << "" << false;
    }
    void nameRule() {
        QFETCH(QString, text);
        QFETCH(bool, acceptable);
        QCOMPARE(isAcceptableAccountName(text), acceptable);
    }
};

QTEST_GUILESS_MAIN(AccountRulesTest)
#include "tst_account_rules.moc"
