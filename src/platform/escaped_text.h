#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Text from peers and from files goes into line-based logs (standard output,
// standard error, the journal, systemd's status line). Control characters
// in it are written escaped ("\n", "\x1b", and "\\" for the backslash
// itself), so that one text stays one line and nobody can forge a line or
// send escape sequences to a terminal. Printable text, including non-ASCII
// letters, is kept as it is.
QString escapedControls(const QString& text);
// The same, encoded as UTF-8 and appended to `out` (no copy of the text
// in between: for the event lines echoed under load).
void appendEscapedUtf8(QByteArray& out, QStringView text);
