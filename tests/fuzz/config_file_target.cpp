// The configuration file reader on arbitrary text with the registry's own
// schema: it never crashes, gives either values or an error that names the
// file, gives the same answer twice, and every value it gives is set.
#include "fuzz_harness.h"

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
    return 0;
}
