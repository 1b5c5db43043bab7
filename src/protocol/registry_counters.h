#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// What the registry counts for its metrics: callers taken and turned away,
// logins and registrations by outcome, closes by cause, bytes and list
// replies. One value per reason; the metric label of each is beside it, so a
// reason is named once. A new reason goes before Count and into its labels.

enum class Refusal { Full, Banned, PerAddress, Count };
enum class LoginKind { Server, Operator, Count };
enum class LoginResult { Ok, WrongPassword, Unknown, Malformed, Duplicate, LockedOut, NotAllowedFrom, StoreUnavailable, Count };
enum class RegistrationResult { Ok, Exists, NotAllowed, Invalid, RateLimited, StoreFailed, Count };
enum class CloseReason { Peer, Idle, Protocol, Operator, Administrator, OutputLimit, Shutdown, Count };

template <typename Reason>
constexpr std::size_t reasonCount = static_cast<std::size_t>(Reason::Count);

inline constexpr std::array<std::string_view, reasonCount<Refusal>> kRefusalLabels{
    "full", "banned", "per_address"};
inline constexpr std::array<std::string_view, reasonCount<LoginKind>> kLoginKindLabels{
    "server", "operator"};
inline constexpr std::array<std::string_view, reasonCount<LoginResult>> kLoginResultLabels{
    "ok", "wrong_password", "unknown", "malformed", "duplicate", "locked_out", "not_allowed_from",
    "store_unavailable"};
inline constexpr std::array<std::string_view, reasonCount<RegistrationResult>> kRegistrationLabels{
    "ok", "exists", "not_allowed", "invalid", "rate_limited", "store_failed"};
inline constexpr std::array<std::string_view, reasonCount<CloseReason>> kCloseReasonLabels{
    "peer", "idle", "protocol", "operator", "administrator", "output_limit", "shutdown"};

struct RegistryCounters {
    template <typename Reason>
    using PerReason = std::array<std::uint64_t, reasonCount<Reason>>;

    std::uint64_t accepted = 0;
    PerReason<Refusal> refused{};
    std::array<PerReason<LoginResult>, reasonCount<LoginKind>> logins{};
    PerReason<RegistrationResult> registrations{};
    PerReason<CloseReason> closed{};
    std::uint64_t listReplies = 0;
    std::uint64_t listQueriesIgnored = 0;   // over an address's list-query rate
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t storeWriteFailures = 0;   // a write the database refused (disk full, file gone)

    void count(Refusal reason) { ++refused[index(reason)]; }
    void count(LoginKind kind, LoginResult result) { ++logins[index(kind)][index(result)]; }
    void count(RegistrationResult result) { ++registrations[index(result)]; }
    void count(CloseReason reason) { ++closed[index(reason)]; }

private:
    template <typename Reason>
    static constexpr std::size_t index(Reason reason) { return static_cast<std::size_t>(reason); }
};
