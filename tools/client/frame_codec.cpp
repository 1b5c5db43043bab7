#include "client/frame_codec.h"

namespace TavClient {

QByteArray encodeLength(int n) {
    Q_ASSERT(n >= 0 && n <= kMaxReplyLength);
    return Framing::encodeLength(n);
}

int decodeLength(QByteArrayView prefix) { return Framing::decodeLength(prefix); }

void appendFrame(QByteArray& out, quint8 type, QByteArrayView payload) {
    Q_ASSERT(payload.size() + 1 <= kMaxReplyLength);
    Framing::FrameWriter(out, type).append(payload).finish();
}

QByteArray buildFrame(quint8 type, QByteArrayView payload) {
    QByteArray out;
    out.reserve(payload.size() + 3);
    appendFrame(out, type, payload);
    return out;
}

FrameReader::Status FrameReader::next(Frame* frame) {
    if (m_failed)
        return Status::TooLong;
    for (;;) {
        const qsizetype available = m_buffer.size() - m_start;
        if (available < 2)
            break;
        const int length = decodeLength(QByteArrayView(m_buffer).sliced(m_start, 2));
        if (length > m_maxLength) {
            m_failed = true;
            return Status::TooLong;
        }
        if (available - 2 < length)
            break;
        const qsizetype body = m_start + 2;
        m_start = body + length;
        if (length == 0)
            continue;
        frame->type = quint8(m_buffer[body]);
        frame->payload = m_buffer.mid(body + 1, length - 1);
        return Status::Ready;
    }
    // Drop the consumed front only when it is worth a copy.
    if (m_start > 0 && (m_start == m_buffer.size() || m_start >= 4096)) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    return Status::NeedMore;
}

void FrameReader::reset() {
    m_buffer.clear();
    m_start = 0;
    m_failed = false;
}

} // namespace TavClient
