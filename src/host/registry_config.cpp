#include "host/registry_config.h"

const ConfigSchema& registryConfigSchema() {
    // A key is one line here: ConfigKey::integer(name, min, max, default, reloadable),
    // ConfigKey::boolean(...), ConfigKey::text(...).
    static const ConfigSchema schema{
        {QStringLiteral("limits"), {}},
        {QStringLiteral("http"), {}},
        // A shared PostgreSQL database instead of qbrx.dat (empty: the file),
        // and a file holding its password; both wait for the next start.
        {QStringLiteral("database"),
         {ConfigKey::text(QStringLiteral("url"), QString(), false),
          ConfigKey::text(QStringLiteral("password_file"), QString(), false)}},
    };
    return schema;
}
