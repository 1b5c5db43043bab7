#include "tavctl/terminal_text.h"

namespace TerminalText {

namespace {

bool steersTerminal(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:       // C0, DEL, C1 (escape sequences, line breaks)
    case QChar::Other_Format:        // bidirectional overrides and other invisibles
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:     // a lone half of a pair
        return true;
    default:
        return false;
    }
}

// Calls f(code point, its UTF-16 units) for each character of `text`; a lone
// half of a surrogate pair is a character of its own.
template <typename F>
void eachCharacter(const QString& text, F f) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            f(QChar::surrogateToUcs4(c, text.at(i + 1)), QStringView(text).mid(i, 2));
            ++i;
        } else {
            f(char32_t(c.unicode()), QStringView(text).mid(i, 1));
        }
    }
}

} // namespace

QString visible(const QString& text) {
    QString out;
    out.reserve(text.size());
    eachCharacter(text, [&out](char32_t c, QStringView units) {
        if (steersTerminal(c))
            out.append(QLatin1Char('?'));
        else
            out.append(units);
    });
    return out;
}

QString json(const QJsonDocument& document, QJsonDocument::JsonFormat format) {
    // Such characters can only stand inside JSON strings, where an escape
    // means the same character.
    const QString raw = QString::fromUtf8(document.toJson(format));
    QString out;
    out.reserve(raw.size());
    eachCharacter(raw, [&out](char32_t c, QStringView units) {
        if (!steersTerminal(c) || c < 0x20) { // the JSON writer escapes C0 itself
            out.append(units);
            return;
        }
        for (QChar unit : units)
            out.append(QStringLiteral("\\u%1").arg(unit.unicode(), 4, 16, QLatin1Char('0')));
    });
    return out;
}

} // namespace TerminalText
