#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// An IP address as 16 bytes: IPv6 as it is, IPv4 as its IPv4-mapped IPv6 form
// (::ffff:a.b.c.d), so that both kinds share one key and one prefix rule.
struct AddressKey {
    std::array<std::uint8_t, 16> bytes{};

    // The dotted IPv4 or the IPv6 text; nothing for anything else (no names,
    // no ports, no leading zeros that inet_pton refuses).
    static std::optional<AddressKey> parse(QByteArrayView text);
    bool isV4() const;
    // The address as the socket layer writes it: dotted for IPv4 (also for a
    // mapped one), the compressed form for IPv6.
    QByteArray text() const;

    bool operator==(const AddressKey&) const = default;
};

struct AddressKeyHash {
    std::size_t operator()(const AddressKey& key) const noexcept;
};

// A set of addresses and CIDR blocks ("127.0.0.0/8 ::1 2001:db8::/32"),
// written space-separated. An IPv4 block covers IPv4 addresses only.
class AddressSet {
public:
    // Nothing, with a reason naming the first bad word, when a word is not an
    // address or a block.
    static std::optional<AddressSet> parse(const QString& text, QString* why);

    bool contains(const AddressKey& key) const;
    bool isEmpty() const { return m_blocks.isEmpty(); }
    bool operator==(const AddressSet&) const = default;

private:
    struct Block {
        AddressKey base; // host bits cleared
        int prefix = 128; // over the 16-byte form
        bool operator==(const Block&) const = default;
    };
    QList<Block> m_blocks;
};
