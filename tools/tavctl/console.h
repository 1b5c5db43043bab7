#pragma once

#include <QString>

// Results go to standard output, complaints to standard error, both UTF-8.
namespace Console {
void out(const QString& text);   // no newline added
// A complaint: "tavctl: " and the text on one line, or with JSON errors on,
// one line {"error": text}.
void err(const QString& text);
// The same, returning `exitCode` for the caller to return.
int fail(int exitCode, const QString& text);
// Set once the subcommand knows whether --json was asked for.
void setJsonErrors(bool on);
QString readLine();              // from standard input; empty at its end
} // namespace Console
