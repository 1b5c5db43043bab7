#pragma once

#include <QDate>
#include <QString>
#include <optional>

// Why an engine did not run a change, in terms the registry can put into its
// own words (StoreFailure); each engine maps its own codes to these.
enum class StoreRefusal {
    None,          // it ran
    Duplicate,     // a unique key or index
    MissingValue,  // a required field left empty
    DoesNotFit,    // a value outside its field's type, size or range
    DiskFull,
    FileNotWritable,
    NotPermitted,  // the server refuses this user the change
    Busy,          // locked by another program, or given up after the time-out
    Unreadable,
    Unreachable,   // the connection to the database server is lost
    FileLost,      // the open file is no longer the file at its path
    Other,
};

// One statement, prepared once on an open connection, then bound, run and
// read as often as needed. The record sets run every look-up and change
// through it, whatever the engine.
//
// Use: bind parameters (1-based), then either next() for each row and done(),
// or execute() for a change (which resets by itself).
class StoreStatement {
public:
    // What a change did: whether it ran, how many rows it touched and the key
    // of a row it inserted.
    struct Outcome {
        StoreRefusal refusal = StoreRefusal::Other;
        int changes = 0;
        qint64 insertedKey = 0;
        bool ran() const { return refusal == StoreRefusal::None; }
    };

    StoreStatement() = default;
    virtual ~StoreStatement() = default;
    StoreStatement(const StoreStatement&) = delete;
    StoreStatement& operator=(const StoreStatement&) = delete;

    virtual bool isPrepared() const = 0;
    virtual void finalize() = 0;

    // A null QString is bound as the empty text: the empty text must stay a text.
    virtual void bindText(int index, const QString& value) = 0;
    virtual void bindInteger(int index, qint64 value) = 0;
    virtual void bindNull(int index) = 0;
    void bindOptionalText(int index, const std::optional<QString>& value);
    void bindOptionalInteger(int index, const std::optional<int>& value);
    void bindOptionalDate(int index, const std::optional<QDate>& value); // ISO day

    virtual bool next() = 0;        // true when a row came back
    // Whether the last run could not be made at all (the server did not
    // answer), as against one that found nothing. A file never says so.
    virtual bool failed() const { return false; }
    virtual void done() = 0;        // resets and clears the bindings
    virtual Outcome execute() = 0;  // runs to the end, then done()

    virtual QString text(int column) const = 0;   // NULL gives a null QString, the empty text an empty one
    virtual bool isNull(int column) const = 0;
    virtual qint64 integer(int column) const = 0;
    std::optional<QString> optionalText(int column) const;
    std::optional<int> optionalInteger(int column) const;
    std::optional<QDate> optionalDate(int column) const; // NULL or not an ISO day gives nothing
};
