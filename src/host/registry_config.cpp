#include "host/registry_config.h"

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

} // namespace

const ConfigSchema& registryConfigSchema() {
    // A key is one line here: ConfigKey::integer(name, min, max, default, reloadable),
    // ConfigKey::boolean(...), ConfigKey::text(...).
    static const ConfigSchema schema{
        {QStringLiteral("limits"), {}},
        {QStringLiteral("http"), {httpListenKey()}},
        {QStringLiteral("database"), {}},
    };
    return schema;
}
