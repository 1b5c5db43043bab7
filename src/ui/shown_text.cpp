#include "ui/shown_text.h"

#include <QLabel>
#include <QStringList>

namespace {

bool turnsReadingOrder(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F;
}

} // namespace

namespace ShownText {

QString oneLine(const QString& text) {
    QString out = text;
    for (QChar& ch : out) {
        const char16_t c = ch.unicode();
        if (c < 0x20)
            ch = QChar(char16_t(0x2400 + c));
        else if (c == 0x7F)
            ch = QChar(char16_t(0x2421));
        else if ((c >= 0x80 && c < 0xA0) || turnsReadingOrder(c))
            ch = QChar(char16_t(0xFFFD));
    }
    return out;
}

QString lines(const QString& text) {
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    unified.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList parts = unified.split(QLatin1Char('\n'));
    for (QString& part : parts)
        part = oneLine(part);
    return parts.join(QLatin1Char('\n'));
}

void makeLabelsPlain(QWidget* window) {
    for (QLabel* label : window->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

} // namespace ShownText
