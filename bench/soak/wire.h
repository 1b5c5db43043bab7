#pragma once

#include <cstdint>
#include <string>

// The registry's framing, peer side: two length bytes (high first), the type
// byte, the payload.
namespace Wire {

inline std::string frame(uint8_t type, const std::string& payload = {}) {
    const size_t n = payload.size() + 1;
    std::string out;
    out.push_back(char(n >> 8));
    out.push_back(char(n & 0xFF));
    out.push_back(char(type));
    out += payload;
    return out;
}

inline std::string fields(const std::string& a, const std::string& b) { return a + std::string(1, '\0') + b; }

// Cuts the next whole message (type byte + payload) off the front of `in`.
inline bool nextMessage(std::string& in, std::string& message) {
    if (in.size() < 2)
        return false;
    const size_t n = size_t(uint8_t(in[0])) * 256 + uint8_t(in[1]);
    if (in.size() < 2 + n)
        return false;
    message = in.substr(2, n);
    in.erase(0, 2 + n);
    return true;
}

inline const std::string kFullNotice("\x00\x02\x00\x04", 4);

} // namespace Wire
