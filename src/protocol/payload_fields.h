#pragma once

#include <QByteArrayView>

// Fields of a payload are separated by the byte 0; the last runs to the end.
namespace PayloadFields {

// Position of the first byte 0, counted from 1; 0 when there is none.
inline qsizetype separatorPosition(QByteArrayView payload) {
    const qsizetype i = payload.indexOf('\0');
    return i < 0 ? 0 : i + 1;
}

// True when the first byte 0 splits the payload into two non-empty parts.
inline bool splitsInTwo(QByteArrayView payload, qsizetype position) {
    return position > 1 && position < payload.size();
}

inline QByteArrayView before(QByteArrayView payload, qsizetype position) { return payload.first(position - 1); }
inline QByteArrayView after(QByteArrayView payload, qsizetype position) { return payload.sliced(position); }

// A stored text placed into a frame as one field: anything from its first
// byte 0 on would be read by the peer as further fields, so it is cut there.
inline QByteArray oneField(QByteArray text) {
    const qsizetype i = text.indexOf('\0');
    if (i >= 0)
        text.truncate(i);
    return text;
}

} // namespace PayloadFields
