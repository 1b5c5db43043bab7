#include "host/registry_config.h"

const ConfigSchema& registryConfigSchema() {
    // A key is one line here: ConfigKey::integer(name, min, max, default, reloadable),
    // ConfigKey::boolean(...), ConfigKey::text(...).
    static const ConfigSchema schema{
        {QStringLiteral("limits"), {}},
        {QStringLiteral("http"), {}},
        {QStringLiteral("database"), {}},
    };
    return schema;
}
