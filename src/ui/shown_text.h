#pragma once

#include <QString>

class QWidget;

// Text that came from a peer, an operator, a local program or the database,
// made safe to put on the screen. Widgets that show it also use plain-text
// format, so markup stays markup; this takes care of the characters that
// would otherwise break a line, move the cursor or turn the reading order:
// each becomes a visible stand-in (U+2400 pictures for C0 and DEL, U+FFFD
// for the rest).
namespace ShownText {

QString oneLine(const QString& text);
// The same, but line breaks (LF, CR LF, CR) stay line breaks: for boxes that
// show several lines.
QString lines(const QString& text);

// Every label of `window` shows its text as plain text: none guesses at markup.
void makeLabelsPlain(QWidget* window);

} // namespace ShownText
