#pragma once

#include <QJsonDocument>
#include <QString>

// Text that came from a peer or from the database, on its way to a terminal.
// Control characters (and the invisible ones that reorder or split lines)
// must not steer the terminal or forge lines of output.
namespace TerminalText {

// Each such character becomes '?'.
QString visible(const QString& text);
// The document as JSON text; such characters are written as \u escapes,
// which JSON readers turn back into the original text.
QString json(const QJsonDocument& document, QJsonDocument::JsonFormat format = QJsonDocument::Indented);

} // namespace TerminalText
