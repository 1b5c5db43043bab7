#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A message on the wire: two length bytes (high first) counting what follows,
// one type byte, then the payload. Fields inside a payload are separated by 0.
// Everything the registry sends is framed here.
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

// Writes one frame at the end of `out`: the message (type byte and payload) is
// appended piece by piece and the length prefix is filled in by finish(). A
// message longer than 65535 bytes is cut to fit the prefix, so a frame never
// announces a wrong length.
class FrameWriter {
public:
    explicit FrameWriter(QByteArray& out) : m_out(out), m_start(out.size()) { m_out.append(2, '\0'); }
    FrameWriter(QByteArray& out, quint8 type) : FrameWriter(out) { m_out.append(char(type)); }

    FrameWriter& append(QByteArrayView bytes) {
        m_out.append(bytes);
        return *this;
    }
    FrameWriter& append(char byte) {
        m_out.append(byte);
        return *this;
    }
    FrameWriter& separator() { return append('\0'); }

    void finish() {
        qsizetype n = m_out.size() - m_start - 2;
        if (n > kMaxSendLength) {
            m_out.truncate(m_start + 2 + kMaxSendLength);
            n = kMaxSendLength;
        }
        m_out[m_start] = char((n >> 8) & 0xFF);
        m_out[m_start + 1] = char(n & 0xFF);
    }

private:
    QByteArray& m_out;
    qsizetype m_start;
};

// Appends one frame (prefix, then the message: type byte and payload) to `out`.
inline void appendFrame(QByteArray& out, QByteArrayView message) {
    FrameWriter(out).append(message.first(qMin(message.size(), qsizetype(kMaxSendLength)))).finish();
}

inline QByteArray frame(QByteArrayView message) {
    QByteArray out;
    out.reserve(qMin(message.size(), qsizetype(kMaxSendLength)) + 2);
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

// A message whose payload is two fields joined by the byte 0.
inline QByteArray message(quint8 type, QByteArrayView first, QByteArrayView second) {
    QByteArray out;
    out.reserve(first.size() + second.size() + 2);
    out.append(char(type));
    out.append(first);
    out.append('\0');
    out.append(second);
    return out;
}

} // namespace Framing
