#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A message on the wire: two length bytes (high first) counting what follows,
// one type byte, then the payload. Fields inside a payload are separated by 0.
namespace Framing {

constexpr int kMaxMessageLength = 511; // the largest length a peer may send
constexpr int kMaxSendLength = 65535;  // what two length bytes can announce

// The longest payload a message of one type byte can carry in one frame.
constexpr int kMaxSendPayloadLength = kMaxSendLength - 1;

// Whether a message of a type byte and `payload` fits one frame; longer texts
// are refused by whoever builds them rather than cut by appendFrame.
inline bool fitsOneFrame(QByteArrayView payload) { return payload.size() <= kMaxSendPayloadLength; }

inline int decodeLength(QByteArrayView prefix) {
    return int(static_cast<unsigned char>(prefix[0])) * 256 + int(static_cast<unsigned char>(prefix[1]));
}

// The two length bytes for n (0..65535).
inline QByteArray encodeLength(int n) {
    QByteArray out(2, Qt::Uninitialized);
    out[0] = char((n >> 8) & 0xFF);
    out[1] = char(n & 0xFF);
    return out;
}

// Appends one frame (prefix, then the message: type byte and payload) to `out`.
// A message longer than 65535 bytes is cut to fit the prefix.
inline void appendFrame(QByteArray& out, QByteArrayView message) {
    if (message.size() > kMaxSendLength)
        message = message.first(kMaxSendLength);
    const int n = int(message.size());
    out.append(char((n >> 8) & 0xFF));
    out.append(char(n & 0xFF));
    out.append(message);
}

inline QByteArray frame(QByteArrayView message) {
    QByteArray out;
    out.reserve(message.size() + 2);
    appendFrame(out, message);
    return out;
}

// A message of one type byte followed by the payload.
inline QByteArray message(quint8 type, QByteArrayView payload = {}) {
    QByteArray out;
    out.reserve(payload.size() + 1);
    out.append(char(type));
    out.append(payload);
    return out;
}

} // namespace Framing
