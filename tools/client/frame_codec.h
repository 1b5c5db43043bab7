#pragma once

#include "protocol/framing.h"

#include <QByteArray>
#include <QByteArrayView>

// The peer side of the framing: two length bytes (high first) counting the
// type byte and the payload, then the type byte, then the payload. Frames are
// encoded by the registry's own encoder (protocol/framing.h).
namespace TavClient {

// The largest length a peer may send; the registry drops a peer announcing more.
constexpr int kMaxPeerMessageLength = Framing::kMaxMessageLength;
// What two length bytes can announce; the registry's replies may use all of it.
constexpr int kMaxReplyLength = Framing::kMaxSendLength;

QByteArray encodeLength(int n);
int decodeLength(QByteArrayView prefix);

// One frame. The message (type byte and payload) must fit the length prefix.
QByteArray buildFrame(quint8 type, QByteArrayView payload = {});
void appendFrame(QByteArray& out, quint8 type, QByteArrayView payload = {});

struct Frame {
    quint8 type = 0;
    QByteArray payload;
    bool operator==(const Frame&) const = default;
};

// Cuts frames out of a byte stream that arrives in pieces of any size.
// Frames of length 0 carry no type byte and are skipped.
class FrameReader {
public:
    enum class Status { NeedMore, Ready, TooLong };

    explicit FrameReader(int maxLength = kMaxPeerMessageLength) : m_maxLength(maxLength) {}

    void feed(QByteArrayView bytes) { m_buffer.append(bytes); }

    // Takes the next complete frame into *frame. Once a prefix announces more
    // than the limit the reader stays in TooLong: the stream cannot be trusted.
    Status next(Frame* frame);

    qsizetype buffered() const { return m_buffer.size() - m_start; }
    bool failed() const { return m_failed; }
    void reset();

private:
    QByteArray m_buffer;
    qsizetype m_start = 0; // consumed bytes are dropped lazily, not per frame
    int m_maxLength;
    bool m_failed = false;
};

} // namespace TavClient
