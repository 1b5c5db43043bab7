#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text on the wire is Windows-1252, one byte per character. Payloads stay raw
// bytes inside the registry; these functions convert where text is shown or stored.
namespace CodePage {

QString toUnicode(QByteArrayView bytes);
// The same, appended to `out`: an event line made of a server's name and
// other text costs one allocation.
void appendUnicode(QString& out, QByteArrayView bytes);

// Characters outside Windows-1252 become '?'.
QByteArray fromUnicode(QStringView text);

// Upper-cases Windows-1252 bytes character by character (the length never
// changes: a character without a one-byte upper-case form stays as it is).
QByteArray upper(QByteArrayView bytes);
// upper(bytes) == upperCased, without making the upper-cased copy.
bool equalsUpper(QByteArrayView bytes, QByteArrayView upperCased);

// Removes leading and trailing spaces (byte 32 only, as the wire rules trim).
QByteArrayView trimSpaces(QByteArrayView bytes);

} // namespace CodePage
