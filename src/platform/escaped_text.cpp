#include "platform/escaped_text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Copies the leading printable ASCII of `src` (no backslash) to `dst`, one
// byte per character; returns how many characters that was. Every event
// line passes through here, most of them plain ASCII from end to end.
qsizetype copyPlainAscii(const char16_t* src, qsizetype n, char* dst) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i lastControl = _mm_set1_epi16(0x1f);
    const __m128i lastPlain = _mm_set1_epi16(0x7e);
    const __m128i backslash = _mm_set1_epi16('\\');
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        // Unsigned saturating differences: zero when at or below the bound.
        const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(v, lastControl), zero);
        const __m128i plain = _mm_cmpeq_epi16(_mm_subs_epu16(v, lastPlain), zero);
        const __m128i standIn = _mm_or_si128(control, _mm_cmpeq_epi16(v, backslash));
        if (_mm_movemask_epi8(standIn) != 0 || _mm_movemask_epi8(plain) != 0xffff)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(v, v));
    }
#endif
    for (; i < n; ++i) {
        const char16_t u = src[i];
        if (u >= 0x7f || needsStandIn(u))
            break;
        dst[i] = char(u);
    }
    return i;
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
    qsizetype i = copyPlainAscii(text.utf16(), text.size(), out.data() + at);
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
