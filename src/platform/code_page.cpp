#include "platform/code_page.h"

#include <array>

namespace {

// The 0x80..0x9F block of Windows-1252; 0 marks the five undefined bytes,
// which map to the C1 control characters as the Windows "best fit" does.
constexpr std::array<char16_t, 32> kHighBlock = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t decodeByte(unsigned char b) {
    if (b >= 0x80 && b < 0xA0)
        return kHighBlock[b - 0x80];
    return char16_t(b);
}

int encodeChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i)
        if (kHighBlock[i] == c)
            return 0x80 + i;
    return -1;
}

struct UpperTable {
    std::array<unsigned char, 256> map{};
    UpperTable() {
        for (int b = 0; b < 256; ++b) {
            const QChar up = QChar(decodeByte(static_cast<unsigned char>(b))).toUpper();
            const int enc = encodeChar(up.unicode());
            map[b] = static_cast<unsigned char>(enc >= 0 ? enc : b);
        }
    }
};

const UpperTable& upperTable() {
    static const UpperTable table;
    return table;
}

} // namespace

namespace CodePage {

QString toUnicode(QByteArrayView bytes) {
    QString out;
    appendUnicode(out, bytes);
    return out;
}

void appendUnicode(QString& out, QByteArrayView bytes) {
    const qsizetype at = out.size();
    out.resize(at + bytes.size());
    QChar* dst = out.data() + at;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        dst[i] = QChar(decodeByte(static_cast<unsigned char>(bytes[i])));
}

QByteArray fromUnicode(QStringView text) {
    // One byte per character, written in place: every login converts the
    // account's fields, and an append per character was a sixth of its cost.
    QByteArray out(text.size(), Qt::Uninitialized);
    char* dst = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int enc = encodeChar(text[i].unicode());
        dst[i] = enc >= 0 ? char(enc) : '?';
    }
    return out;
}

QByteArray upper(QByteArrayView bytes) {
    const auto& t = upperTable().map;
    QByteArray out(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = char(t[static_cast<unsigned char>(bytes[i])]);
    return out;
}

bool equalsUpper(QByteArrayView bytes, QByteArrayView upperCased) {
    if (bytes.size() != upperCased.size())
        return false;
    const auto& t = upperTable().map;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (char(t[static_cast<unsigned char>(bytes[i])]) != upperCased[i])
            return false;
    return true;
}

QByteArrayView trimSpaces(QByteArrayView bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && bytes[begin] == ' ')
        ++begin;
    while (end > begin && bytes[end - 1] == ' ')
        --end;
    return bytes.sliced(begin, end - begin);
}

} // namespace CodePage
