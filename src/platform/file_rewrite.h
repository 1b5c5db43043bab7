#pragma once

#include <QByteArray>
#include <QString>

// Replaces the whole content of a file the way an administrator expects:
// an existing file keeps its owner, group and mode (a root-run program must
// not take a service user's file away from it). The new content goes to a
// temporary file beside it that is renamed over it, so a crash leaves the old
// or the new file; when that cannot be done (the folder is not writable, or
// the owner cannot be given to the new file) the file is rewritten in place.
// A missing file is created with the usual mode (0666 less the umask).
// False with a reason when the file could not be written.
bool rewriteFile(const QString& path, const QByteArray& content, QString* errorText);
