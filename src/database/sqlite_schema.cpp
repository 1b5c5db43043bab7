#include "database/sqlite_schema.h"

namespace {

// Version 1: both tables. Servers is keyed by the account name, which
// compares without regard to ASCII case; Bans by its byte-sized number, with
// indexes for the look-ups by address (every accept) and by name (dialogs).
Schema::Step tables() {
    return {1,
            "create the tables",
            {QStringLiteral(
                 "CREATE TABLE Servers ("
                 "User TEXT NOT NULL COLLATE NOCASE PRIMARY KEY CHECK (typeof(User) = 'text' AND length(User) <= 15), "
                 "Password TEXT CHECK (Password IS NULL OR (typeof(Password) = 'text' AND length(Password) <= 15)), "
                 "Name TEXT CHECK (Name IS NULL OR (typeof(Name) = 'text' AND length(Name) <= 50)), "
                 "Description TEXT CHECK (Description IS NULL OR (typeof(Description) = 'text' AND "
                 "length(Description) <= 255)), "
                 "UpdateURL TEXT CHECK (UpdateURL IS NULL OR (typeof(UpdateURL) = 'text' AND "
                 "length(UpdateURL) <= 255)), "
                 "Official INTEGER CHECK (Official IS NULL OR (typeof(Official) = 'integer' AND "
                 "Official BETWEEN 0 AND 255)), "
                 "Date INTEGER CHECK (Date IS NULL OR (typeof(Date) = 'integer' AND Date BETWEEN 0 AND 255)), "
                 "Time INTEGER CHECK (Time IS NULL OR (typeof(Time) = 'integer' AND Time BETWEEN 0 AND 255)))"),
             QStringLiteral(
                 "CREATE TABLE Bans ("
                 "Number INTEGER NOT NULL PRIMARY KEY "
                 "CHECK (typeof(Number) = 'integer' AND Number BETWEEN 0 AND 255), "
                 "Name TEXT COLLATE NOCASE CHECK (Name IS NULL OR (typeof(Name) = 'text' AND length(Name) <= 15)), "
                 "IP TEXT COLLATE NOCASE CHECK (IP IS NULL OR (typeof(IP) = 'text' AND length(IP) <= 15)), "
                 "Reason TEXT CHECK (Reason IS NULL OR (typeof(Reason) = 'text' AND length(Reason) <= 255)), "
                 "UnbanDate TEXT CHECK (UnbanDate IS NULL OR (typeof(UnbanDate) = 'text' AND "
                 "UnbanDate GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND "
                 "date(UnbanDate, '+0 days') = UnbanDate)))"),
             QStringLiteral("CREATE INDEX BansIP ON Bans (IP)"),
             QStringLiteral("CREATE INDEX BansName ON Bans (Name)")}};
}

// Version 2: an account's bookmark is a key of its own that the file never
// hands out twice (AUTOINCREMENT), so a bookmark kept by a session or a
// dialog can never come to mean an account created after its own was
// deleted. Every row keeps its values and its rowid, which becomes its key;
// the name stays unique without regard to case.
Schema::Step bookmarkKeys() {
    return {2,
            "give accounts bookmarks that are never reused",
            {QStringLiteral(
                 "CREATE TABLE ServersKeyed ("
                 "User TEXT NOT NULL COLLATE NOCASE UNIQUE CHECK (typeof(User) = 'text' AND length(User) <= 15), "
                 "Password TEXT CHECK (Password IS NULL OR (typeof(Password) = 'text' AND length(Password) <= 15)), "
                 "Name TEXT CHECK (Name IS NULL OR (typeof(Name) = 'text' AND length(Name) <= 50)), "
                 "Description TEXT CHECK (Description IS NULL OR (typeof(Description) = 'text' AND "
                 "length(Description) <= 255)), "
                 "UpdateURL TEXT CHECK (UpdateURL IS NULL OR (typeof(UpdateURL) = 'text' AND "
                 "length(UpdateURL) <= 255)), "
                 "Official INTEGER CHECK (Official IS NULL OR (typeof(Official) = 'integer' AND "
                 "Official BETWEEN 0 AND 255)), "
                 "Date INTEGER CHECK (Date IS NULL OR (typeof(Date) = 'integer' AND Date BETWEEN 0 AND 255)), "
                 "Time INTEGER CHECK (Time IS NULL OR (typeof(Time) = 'integer' AND Time BETWEEN 0 AND 255)), "
                 "Bookmark INTEGER PRIMARY KEY AUTOINCREMENT)"),
             QStringLiteral("INSERT INTO ServersKeyed "
                            "(Bookmark, User, Password, Name, Description, UpdateURL, Official, Date, Time) "
                            "SELECT rowid, User, Password, Name, Description, UpdateURL, Official, Date, Time "
                            "FROM Servers ORDER BY rowid"),
             QStringLiteral("DROP TABLE Servers"),
             QStringLiteral("ALTER TABLE ServersKeyed RENAME TO Servers")}};
}

} // namespace

namespace SqliteSchema {

const Schema::EngineSteps& steps() {
    static const Schema::EngineSteps engine{
        {tables(), bookmarkKeys()},
        QStringLiteral("PRAGMA user_version"),
        QStringLiteral("PRAGMA user_version = %1"),
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('Servers', 'Bans')"),
        {},
        {}};
    return engine;
}

} // namespace SqliteSchema
