#include "platform/escaped_text.h"

namespace {
// True for the characters written as a stand-in rather than as themselves.
bool needsStandIn(char16_t u) { return u == u'\\' || u < 0x20 || (u >= 0x7f && u <= 0x9f); }

// The stand-in of one such character: \\, \n, \r, \t, or \xHH for the other
// C0 controls, DEL and the C1 controls.
QLatin1StringView standIn(char16_t u, char (&buffer)[5]) {
    switch (u) {
    case u'\\':
        return QLatin1StringView("\\\\");
    case u'\n':
        return QLatin1StringView("\\n");
    case u'\r':
        return QLatin1StringView("\\r");
    case u'\t':
        return QLatin1StringView("\\t");
    default: {
        static constexpr char hex[] = "0123456789abcdef";
        buffer[0] = '\\';
        buffer[1] = 'x';
        buffer[2] = hex[(u >> 4) & 0xf];
        buffer[3] = hex[u & 0xf];
        buffer[4] = '\0';
        return QLatin1StringView(buffer, 4);
    }
    }
}
} // namespace

QString escapedControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    char buffer[5];
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (needsStandIn(u))
            out += standIn(u, buffer);
        else
            out += c;
    }
    return out;
}

void appendEscapedUtf8(QByteArray& out, QStringView text) {
    // Plain ASCII, the usual event line, is copied byte for byte; anything
    // else goes through the general path, a stretch of kept text at a time.
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* d = out.data() + at;
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 0x7f || needsStandIn(u))
            break;
        d[i] = char(u);
    }
    out.resize(at + i);
    if (i == text.size())
        return;
    char buffer[5];
    qsizetype kept = i;
    for (; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (!needsStandIn(u))
            continue;
        out += text.sliced(kept, i - kept).toUtf8();
        out += standIn(u, buffer);
        kept = i + 1;
    }
    out += text.sliced(kept).toUtf8();
}
