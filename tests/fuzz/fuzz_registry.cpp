#include "fuzz_registry.h"

#include "fuzz_harness.h"

#include "host/registry.h"

namespace FuzzHarness {

std::unique_ptr<Registry> startRegistry(SocketLayer& sockets, TickClock& clock, const QString& dataDir) {
    ensureApplication();
    RegistryOptions options;
    options.dataDir = dataDir;
    auto registry = std::make_unique<Registry>(sockets, clock, options);
    QString error;
    if (!registry->start(&error))
        fail("the registry did not start");
    return registry;
}

} // namespace FuzzHarness
