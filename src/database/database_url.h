#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Where a shared PostgreSQL database is: a libpq connection URI
// (postgresql://tav@db.example/tav) or key=value string
// (host=/run/postgresql dbname=tav), checked by libpq itself. It is said in
// messages without its password, which is never printed.
class DatabaseUrl {
public:
    // Nothing + why when libpq does not take it. The reason never repeats
    // the text, which may hold a password.
    static std::optional<DatabaseUrl> parse(const QString& text, QString* error);

    bool hasPassword() const { return !m_password.isEmpty(); }
    QString password() const { return m_password; }
    // Every option but the password as key='value' pairs for QtSql's
    // connect options, with the registry's time-outs where none is given.
    QStringList connectOptions() const;
    // "PostgreSQL database tav on db.example port 5432", without the
    // password and with anything unprintable shown as '?'.
    QString describe() const;

private:
    struct Option {
        QString key, value;
    };
    QList<Option> m_options;
    QString m_password;
};
