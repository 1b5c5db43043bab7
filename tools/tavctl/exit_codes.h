#pragma once

#include "client/blocking_client.h"

// What tavctl's exit status means; the help text lists the same.
namespace ExitCode {
constexpr int Ok = 0;
constexpr int Refused = 1;    // the registry said no (access codes, version, server not online)
constexpr int Usage = 2;      // bad arguments or no access codes
constexpr int Connection = 3; // cannot connect, or the registry closed the connection
constexpr int Timeout = 4;    // no answer in time
constexpr int Protocol = 5;   // an answer that makes no sense
constexpr int Cancelled = 6;  // the confirmation was not given

inline int forClientError(TavClient::BlockingClient::Error error) {
    using E = TavClient::BlockingClient::Error;
    switch (error) {
    case E::ConnectFailed:
    case E::Closed:
        return Connection;
    case E::Timeout:
        return Timeout;
    case E::TooLong:
    case E::Truncated:
    case E::None:
        break;
    }
    return Protocol;
}
} // namespace ExitCode
