#pragma once

#include <QByteArray>
#include <initializer_list>

// Bytes written as numbers, as the protocol examples give them.
inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}
