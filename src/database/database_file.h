#pragma once

#include <QString>

// The file steps of start-up: check, compact, recover or create qbrx.dat
// without ever putting its data at risk.
//
// The original is never renamed away or deleted. Compaction writes a copy
// into the work file qbrx.tmp beside it (same folder, so the final rename is
// atomic and never crosses a volume), checks the copy, flushes it, renames it
// over qbrx.dat and flushes the folder. A crash at any point leaves either the
// old or the new qbrx.dat, plus perhaps a work file that the next start
// deletes once it has found qbrx.dat sound.
//
// Every row's CHECK constraints are verified once, on the copy that is kept
// (it holds the very rows of the original); the structure of both files is
// verified. Whenever the copy is not taken, the original gets the whole
// check before anything else is decided, so a start refuses exactly the
// files it refused when it checked everything twice.
namespace DatabaseFile {

QString databasePath(const QString& dataDir);
QString workFilePath(const QString& dataDir);

// How much of PRAGMA integrity_check a look runs. The CHECK constraints of
// every row are most of its cost; the structure (pages, b-trees, every index
// against its table, NOT NULL) is the rest.
enum class Depth {
    Full,      // everything
    Structure, // everything but the CHECK constraints
};

// What a look into one file found.
struct Inspection {
    bool sound = false;    // opens and passes PRAGMA integrity_check (to the depth asked for)
    bool busy = false;     // locked by another connection (another registry)
    bool hasTables = false; // both Servers and Bans exist
    qint64 servers = -1;   // row counts when hasTables
    qint64 bans = -1;
    int version = 0;       // the schema version stamped in the file
    QString failure;       // why not sound
};
Inspection inspect(const QString& path, Depth depth = Depth::Full);

// Runs the file steps; afterwards qbrx.dat exists (possibly empty, to be given
// its tables when opened). False + a message naming the file or folder and the
// failure: a data folder that is not a folder or cannot be read or written, a
// qbrx.dat that is not a file or not ours to read and write, and a file from a
// program that knows versions above `knownVersion` are each said as such, and
// the file is left as it is. `notice` receives a line for standard error when
// something noteworthy was done (a recovery, a compaction that had to be
// skipped).
bool prepare(const QString& dataDir, int knownVersion, QString* error, QString* notice);

// Creates an empty file readable and writable by its owner only; fails when
// the file exists.
bool createPrivateFile(const QString& path, QString* error);
// Flushes a file's data, or a folder's entries, to the disk.
bool syncPath(const QString& path);

} // namespace DatabaseFile
