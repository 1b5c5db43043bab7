#pragma once

#include <QString>

#include <memory>

class Registry;
class SocketLayer;
class TickClock;

namespace FuzzHarness {
// A registry on the given doubles with its data in `dataDir`, started; a
// start that fails is a finding like any other.
std::unique_ptr<Registry> startRegistry(SocketLayer& sockets, TickClock& clock, const QString& dataDir);
} // namespace FuzzHarness
