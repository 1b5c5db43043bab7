// The settings file reader and writer on arbitrary file contents: reading
// never fails or returns more than 255 characters, a written value reads back,
// and writing the same value again changes no byte.
#include "fuzz_harness.h"

#include "platform/ini_file.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHarness::ensureApplication();
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("server.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            FuzzHarness::fail("cannot write the work file");
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    for (const char* key : {"Service", "AutoAllow", "service", ""}) {
        const QString value = IniFile::read(path, QStringLiteral("TavRegistry"), QLatin1String(key));
        if (value.size() > IniFile::kMaxValueLength)
            FuzzHarness::fail("value longer than 255 characters", int(value.size()));
    }
    if (!IniFile::write(path, QStringLiteral("TavRegistry"), QStringLiteral("AutoAllow"), QStringLiteral("True")))
        return 0; // refused (for example an unreadable file): nothing to check
    if (IniFile::read(path, QStringLiteral("TavRegistry"), QStringLiteral("AutoAllow")) != QLatin1String("True"))
        FuzzHarness::fail("a written value does not read back");
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray once = f.readAll();
    f.close();
    IniFile::write(path, QStringLiteral("TavRegistry"), QStringLiteral("AutoAllow"), QStringLiteral("True"));
    f.open(QIODevice::ReadOnly);
    if (f.readAll() != once)
        FuzzHarness::fail("writing the same value twice changed the file");
    return 0;
}
