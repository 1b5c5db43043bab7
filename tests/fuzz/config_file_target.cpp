// The configuration file reader on arbitrary text with the registry's own
// schema: it never crashes, gives either values or an error that names the
// file, gives the same answer twice, and every value it gives is set. The
// [limits] it accepts become settings within the schema's bounds.
#include "fuzz_harness.h"

#include "host/limit_settings.h"
#include "host/registry_config.h"
#include "platform/config_file.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHarness::ensureApplication();
    static const ConfigSchema schema = registryConfigSchema();
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString source = QStringLiteral("fuzz.conf");
    QString error;
    const std::optional<ConfigValues> values = ConfigFile::parse(schema, text, source, &error);
    QString again;
    const std::optional<ConfigValues> second = ConfigFile::parse(schema, text, source, &again);
    if (values.has_value() != second.has_value() || error != again || (values && !(*values == *second)))
        FuzzHarness::fail("the same text read twice gave different answers");
    if (!values) {
        if (!error.startsWith(source + QLatin1Char(':')))
            FuzzHarness::fail("an error that does not name the file");
        return 0;
    }
    for (const ConfigSection& section : schema)
        for (const ConfigKey& key : section.keys)
            if (!values->value(section.name, key.name).isValid())
                FuzzHarness::fail("a known key without a value");
    const LimitSettings limits = LimitSettings::fromConfig(*values);
    const auto within = [](int value, int low, int high) { return value >= low && value <= high; };
    if (!within(limits.connectionsPerAddress, 0, 255) || !within(limits.loginFailures, 0, 100) ||
        !within(limits.loginWindowS, 1, 86400) || !within(limits.lockoutS, 1, 86400) ||
        !within(limits.registrationsPerHour, 0, 1000) || !within(limits.listQueriesPerSecond, 0, 10000))
        FuzzHarness::fail("an accepted limit outside its bounds");
    return 0;
}
