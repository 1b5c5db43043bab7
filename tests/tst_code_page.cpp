// Windows-1252 upper-casing: the comparison without a copy agrees with the copy.
#include "platform/code_page.h"

#include <QtTest>

class CodePageTest : public QObject {
    Q_OBJECT
private slots:
    void equalsUpperAgreesWithUpper() {
        for (int a = 0; a < 256; ++a) {
            const QByteArray one(1, char(a));
            const QByteArray up = CodePage::upper(one);
            QVERIFY(CodePage::equalsUpper(one, up));
            for (int b = 0; b < 256; ++b) {
                const QByteArray other(1, char(b));
                QCOMPARE(CodePage::equalsUpper(one, other), up == other);
            }
        }
    }

    void everyByteComesBackAndOthersBecomeQuestionMarks() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = CodePage::toUnicode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(text.at(0x80), QChar(0x20AC)); // the euro sign
        QCOMPARE(text.at(0x81), QChar(0x0081)); // an undefined byte stays a C1 control
        QCOMPARE(CodePage::fromUnicode(text), all);
        QCOMPARE(CodePage::fromUnicode(QStringView(u"a\u0100b\u4e2d\U0001F600c")), QByteArray("a?b???c"));
        QCOMPARE(CodePage::fromUnicode(QString()), QByteArray());
        QCOMPARE(CodePage::fromUnicode(QString()).size(), 0);
    }

    void appendedAfterWhatIsThere() {
        QString line = QStringLiteral("ab");
        CodePage::appendUnicode(line, QByteArrayView("\x80\xe9z\x9f"));
        QCOMPARE(line, QString::fromUtf8("ab\xe2\x82\xac\xc3\xa9z\xc5\xb8"));
        CodePage::appendUnicode(line, QByteArrayView());
        QCOMPARE(line.size(), 6);
        QString empty;
        CodePage::appendUnicode(empty, QByteArrayView("x"));
        QCOMPARE(empty, QStringLiteral("x"));
    }

    void namesOfEveryCase() {
        QVERIFY(CodePage::equalsUpper("Alpha", "ALPHA"));
        QVERIFY(CodePage::equalsUpper("\xe9t\xe9", "\xc9T\xc9")); // é upper-cases to É
        QVERIFY(!CodePage::equalsUpper("Alpha", "alpha")); // the second must be upper-cased already
        QVERIFY(!CodePage::equalsUpper("Alph", "ALPHA"));
        QVERIFY(!CodePage::equalsUpper("Alphas", "ALPHA"));
        QVERIFY(CodePage::equalsUpper("", ""));
    }
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_code_page.moc"
