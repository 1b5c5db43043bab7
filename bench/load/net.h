#pragma once

#include <cstdint>
#include <string>

// Small socket helpers for the load tool (loopback IPv4 only).
namespace Net {

int connectNonBlocking(uint16_t port); // -1 when the socket cannot be made
int connectBlocking(uint16_t port);    // -1 on failure
bool sendAll(int fd, const std::string& bytes);
// Reads exactly n bytes within timeoutMs; false on close, error or time-out.
bool readExactly(int fd, std::size_t n, std::string* out, int timeoutMs);
uint64_t nowNs();

} // namespace Net
