#include "host/registry_config.h"

#include "host/address_set.h"
#include "platform/listen_address.h"

namespace {

// [http] listen: empty (no HTTP listener) or ADDRESS:PORT. Rebinding while
// running is not offered: a new value waits for the next start.
ConfigKey httpListenKey() {
    return {QStringLiteral("listen"),
            [](const QString& text, QVariant* value, QString* why) {
                if (!text.isEmpty() && !ListenAddress::parse(text, why))
                    return false;
                *value = text;
                return true;
            },
            QString(), false};
}

// Space-separated addresses and CIDR blocks; an empty value is an empty set.
ConfigKey addressList(const QString& name, const QString& defaultValue) {
    return {name,
            [](const QString& text, QVariant* value, QString* why) {
                if (!AddressSet::parse(text, why))
                    return false;
                *value = text.simplified();
                return true;
            },
            defaultValue, true};
}

} // namespace

const ConfigSchema& registryConfigSchema() {
    // A key is one line here: ConfigKey::integer(name, min, max, default, reloadable),
    // ConfigKey::boolean(...), ConfigKey::text(...).
    static const ConfigSchema schema{
        {QStringLiteral("limits"),
         {
             ConfigKey::integer(QStringLiteral("connections_per_address"), 0, 255, 0, true),
             ConfigKey::integer(QStringLiteral("login_failures"), 0, 100, 10, true),
             ConfigKey::integer(QStringLiteral("login_window"), 1, 86400, 60, true),
             ConfigKey::integer(QStringLiteral("lockout"), 1, 86400, 300, true),
             ConfigKey::integer(QStringLiteral("registrations_per_hour"), 0, 1000, 0, true),
             ConfigKey::integer(QStringLiteral("list_queries_per_second"), 0, 10000, 0, true),
             addressList(QStringLiteral("exempt"), QStringLiteral("127.0.0.0/8 ::1")),
             addressList(QStringLiteral("operator_from"), QString()),
         }},
        {QStringLiteral("http"), {httpListenKey()}},
        // A shared PostgreSQL database instead of qbrx.dat (empty: the file),
        // a file holding its password, and the seconds for which a registry
        // that dies keeps its accounts from logging in elsewhere; all wait
        // for the next start.
        {QStringLiteral("database"),
         {ConfigKey::text(QStringLiteral("url"), QString(), false),
          ConfigKey::text(QStringLiteral("password_file"), QString(), false),
          ConfigKey::integer(QStringLiteral("lease"), 3, 3600, 30, false)}},
    };
    return schema;
}
