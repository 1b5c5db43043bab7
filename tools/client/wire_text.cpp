#include "client/wire_text.h"

#include <array>

namespace TavClient::WireText {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; its five unassigned
// bytes keep the C1 control characters.
constexpr std::array<char16_t, 32> kHighBlock = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

QString toUnicode(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const quint8 b = quint8(c);
        out.append(QChar(b >= 0x80 && b < 0xA0 ? kHighBlock[b - 0x80] : char16_t(b)));
    }
    return out;
}

QByteArray fromUnicode(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.append(char(c));
            continue;
        }
        char encoded = '?';
        for (int i = 0; i < 32; ++i)
            if (kHighBlock[i] == c)
                encoded = char(0x80 + i);
        out.append(encoded);
    }
    return out;
}

} // namespace TavClient::WireText
