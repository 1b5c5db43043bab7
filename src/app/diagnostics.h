#pragma once

#include <QString>

// Diagnostics on standard error, one line each, prefixed "tavregistry: ".
// When standard error is the journal (JOURNAL_STREAM names it) each line
// starts with its syslog priority, "<3>", "<4>" or "<6>", so that journalctl
// shows errors as errors; elsewhere the lines are plain.
enum class Severity { Error, Warning, Info };

void printDiagnostic(Severity severity, const QString& text);

// The prefix for a severity, given whether standard error is the journal.
QByteArray diagnosticPrefix(Severity severity, bool toJournal);
// Whether JOURNAL_STREAM ("device:inode") names the file standard error is.
bool standardErrorIsJournal();
