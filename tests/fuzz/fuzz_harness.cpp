#include "fuzz_harness.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace FuzzHarness {

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "tavfuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

void fail(const char* what, int detail) {
    std::fprintf(stderr, "fuzz invariant broken: %s (%d)\n", what, detail);
    std::fflush(stderr);
    std::abort();
}

QString scratchFolderTemplate() {
    const QDir memory(QStringLiteral("/dev/shm"));
    return memory.exists() ? memory.filePath(QStringLiteral("tavfuzz-XXXXXX"))
                           : QDir::temp().filePath(QStringLiteral("tavfuzz-XXXXXX"));
}

} // namespace FuzzHarness
