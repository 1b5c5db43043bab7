#include "database/postgres_schema.h"

namespace {

// Version 1: both tables, in the layout qbrx.dat has reached. Text compares
// without regard to ASCII case through FoldCase, the same folding as
// SQLite's NOCASE (not the server's locale, which may fold more letters):
// the account name's unique index and the look-ups by name and address use
// it. An account's bookmark is an identity that is never handed out twice.
Schema::Step tables() {
    return {1,
            "create the tables",
            {QStringLiteral("CREATE FUNCTION \"FoldCase\"(value text) RETURNS text LANGUAGE sql IMMUTABLE STRICT "
                            "PARALLEL SAFE AS $$SELECT translate(value, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', "
                            "'abcdefghijklmnopqrstuvwxyz')$$"),
             QStringLiteral("CREATE TABLE \"Servers\" ("
                            "\"User\" text NOT NULL CHECK (char_length(\"User\") <= 15), "
                            "\"Password\" text CHECK (char_length(\"Password\") <= 15), "
                            "\"Name\" text CHECK (char_length(\"Name\") <= 50), "
                            "\"Description\" text CHECK (char_length(\"Description\") <= 255), "
                            "\"UpdateURL\" text CHECK (char_length(\"UpdateURL\") <= 255), "
                            "\"Official\" smallint CHECK (\"Official\" BETWEEN 0 AND 255), "
                            "\"Date\" smallint CHECK (\"Date\" BETWEEN 0 AND 255), "
                            "\"Time\" smallint CHECK (\"Time\" BETWEEN 0 AND 255), "
                            "\"Bookmark\" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY)"),
             QStringLiteral("CREATE UNIQUE INDEX \"ServersUser\" ON \"Servers\" (\"FoldCase\"(\"User\"))"),
             QStringLiteral("CREATE TABLE \"Bans\" ("
                            "\"Number\" smallint NOT NULL PRIMARY KEY CHECK (\"Number\" BETWEEN 0 AND 255), "
                            "\"Name\" text CHECK (char_length(\"Name\") <= 15), "
                            "\"IP\" text CHECK (char_length(\"IP\") <= 15), "
                            "\"Reason\" text CHECK (char_length(\"Reason\") <= 255), "
                            "\"UnbanDate\" date)"),
             QStringLiteral("CREATE INDEX \"BansIP\" ON \"Bans\" (\"FoldCase\"(\"IP\"))"),
             QStringLiteral("CREATE INDEX \"BansName\" ON \"Bans\" (\"FoldCase\"(\"Name\"))")}};
}

// Version 2: what registries sharing the database tell each other. Each
// registry holds a lease it renews; the accounts it has online are kept under
// it, one row per account whatever the case of the name, so that a second
// registry cannot log the same account in while the lease runs. A registry
// that dies stops renewing and its rows can be taken once the lease has
// lapsed. Every change of the bans, by whatever program, is announced on the
// channel tav_bans, so that each registry's copy in memory follows at once.
// Who is online is worth no disk flush: the two tables are unlogged (a
// crashed server empties them, and the registries claim their sessions
// again when they reconnect).
Schema::Step sharing() {
    return {2,
            "add presence and ban announcements",
            {QStringLiteral("CREATE UNLOGGED TABLE \"Registries\" (\"Registry\" text PRIMARY KEY, "
                            "\"LeaseUntil\" timestamptz NOT NULL)"),
             QStringLiteral("CREATE UNLOGGED TABLE \"Presence\" (\"User\" text NOT NULL, "
                            "\"Registry\" text NOT NULL REFERENCES \"Registries\" ON DELETE CASCADE, "
                            "\"Since\" timestamptz NOT NULL DEFAULT now())"),
             QStringLiteral("CREATE UNIQUE INDEX \"PresenceUser\" ON \"Presence\" (\"FoldCase\"(\"User\"))"),
             QStringLiteral("CREATE INDEX \"PresenceRegistry\" ON \"Presence\" (\"Registry\")"),
             QStringLiteral("CREATE FUNCTION \"AnnounceBans\"() RETURNS trigger LANGUAGE plpgsql AS "
                            "$$BEGIN PERFORM pg_notify('tav_bans', ''); RETURN NULL; END$$"),
             QStringLiteral("CREATE TRIGGER \"BansChanged\" AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE "
                            "ON \"Bans\" FOR EACH STATEMENT EXECUTE FUNCTION \"AnnounceBans\"()")}};
}

} // namespace

namespace PostgresSchema {

const Schema::EngineSteps& steps() {
    static const Schema::EngineSteps engine{
        {tables(), sharing()},
        QStringLiteral("SELECT \"Version\" FROM \"SchemaVersion\""),
        QStringLiteral("UPDATE \"SchemaVersion\" SET \"Version\" = %1"),
        QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema() "
                       "AND tablename IN ('Servers', 'Bans')"),
        {QStringLiteral("SELECT pg_advisory_lock(%1)").arg(kStepsLock),
         QStringLiteral("CREATE TABLE IF NOT EXISTS \"SchemaVersion\" (\"Version\" integer NOT NULL)"),
         QStringLiteral("INSERT INTO \"SchemaVersion\" (\"Version\") SELECT 0 "
                        "WHERE NOT EXISTS (SELECT 1 FROM \"SchemaVersion\")")},
        {QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(kStepsLock)}};
    return engine;
}

} // namespace PostgresSchema
