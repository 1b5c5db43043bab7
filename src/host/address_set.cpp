#include "host/address_set.h"

#include <QStringList>

#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// Clears every bit after the first `prefix` bits.
AddressKey masked(AddressKey key, int prefix) {
    for (int i = 0; i < 16; ++i) {
        const int keep = prefix - i * 8;
        if (keep >= 8)
            continue;
        key.bytes[std::size_t(i)] &= keep <= 0 ? 0 : std::uint8_t(0xff << (8 - keep));
    }
    return key;
}

} // namespace

std::optional<AddressKey> AddressKey::parse(QByteArrayView text) {
    // inet_pton wants a terminated string; an address is never longer than this.
    char buffer[INET6_ADDRSTRLEN + 1];
    if (text.isEmpty() || text.size() > INET6_ADDRSTRLEN)
        return std::nullopt;
    std::memcpy(buffer, text.data(), std::size_t(text.size()));
    buffer[text.size()] = '\0';
    AddressKey key;
    if (inet_pton(AF_INET, buffer, key.bytes.data() + 12) == 1) {
        std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), key.bytes.begin());
        return key;
    }
    if (inet_pton(AF_INET6, buffer, key.bytes.data()) == 1)
        return key;
    return std::nullopt;
}

bool AddressKey::isV4() const { return std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin()); }

QByteArray AddressKey::text() const {
    char out[INET6_ADDRSTRLEN] = {};
    if (isV4())
        inet_ntop(AF_INET, bytes.data() + 12, out, sizeof out);
    else
        inet_ntop(AF_INET6, bytes.data(), out, sizeof out);
    return QByteArray(out);
}

std::size_t AddressKeyHash::operator()(const AddressKey& key) const noexcept {
    // FNV-1a over the 16 bytes: cheap, and the keys are not secret.
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : key.bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return std::size_t(h);
}

std::optional<AddressSet> AddressSet::parse(const QString& text, QString* why) {
    AddressSet set;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& raw : words) {
        const QString word = raw.trimmed();
        if (word.isEmpty())
            continue;
        const qsizetype slash = word.indexOf(QLatin1Char('/'));
        const QString address = slash < 0 ? word : word.first(slash);
        const std::optional<AddressKey> key = AddressKey::parse(address.toLatin1());
        if (!key || address.toLatin1() != address.toUtf8()) {
            if (why)
                *why = QStringLiteral("'%1' is not an IP address or a CIDR block").arg(word);
            return std::nullopt;
        }
        const int width = key->isV4() ? 32 : 128;
        int prefix = width;
        if (slash >= 0) {
            const QString digits = word.sliced(slash + 1);
            bool ok = !digits.isEmpty() && digits.size() <= 3;
            for (QChar c : digits)
                ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            prefix = ok ? digits.toInt() : -1;
            if (prefix < 0 || prefix > width) {
                if (why)
                    *why = QStringLiteral("'%1' is not an IP address or a CIDR block (the prefix runs from 0 to %2)")
                               .arg(word)
                               .arg(width);
                return std::nullopt;
            }
        }
        const int over16 = key->isV4() ? 96 + prefix : prefix;
        set.m_blocks.append(Block{masked(*key, over16), over16});
    }
    return set;
}

bool AddressSet::contains(const AddressKey& key) const {
    for (const Block& block : m_blocks)
        if (masked(key, block.prefix) == block.base)
            return true;
    return false;
}
