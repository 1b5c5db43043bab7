#include "database/account_rules.h"

namespace {
bool isAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
} // namespace

bool IsValidAccountText(const QString& text) {
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (!(isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u' ' || c == u'_'))
            return false;
    }
    return true;
}

bool isAcceptableAccountName(const QString& text) {
    return text.size() >= 3 && text.size() <= 15 && isAsciiLetter(text.front().unicode()) &&
           IsValidAccountText(text) && !text.contains(QLatin1Char(' '));
}
