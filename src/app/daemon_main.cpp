// tavregistryd: the registry without windows, for service managers. It links
// only the core (Qt Core, Network, Sql and D-Bus).
#include "app/run_registry.h"

int main(int argc, char** argv) { return runRegistry(argc, argv, QStringLiteral("tavregistryd"), nullptr); }
