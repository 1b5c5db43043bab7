#pragma once

#include <QString>

// Results go to standard output, complaints to standard error, both UTF-8.
namespace Console {
void out(const QString& text);   // no newline added
void err(const QString& text);   // prefixed with "tavctl: ", newline added
QString readLine();              // from standard input; empty at its end
} // namespace Console
