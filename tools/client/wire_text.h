#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text on the wire is Windows-1252, one byte per character.
namespace TavClient::WireText {

QString toUnicode(QByteArrayView bytes);
// Characters Windows-1252 cannot carry become '?'.
QByteArray fromUnicode(QStringView text);

} // namespace TavClient::WireText
