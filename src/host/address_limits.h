#pragma once

#include "host/address_set.h"
#include "host/limit_settings.h"
#include "platform/notice.h"
#include "protocol/caller_limits.h"

#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

class TickClock;

// What the registry remembers per address for its limits: recent failed
// logins and a lockout, recent account creations, the current second's list
// queries. Exempt addresses are never remembered; with every limit off
// nothing is. At most kMaxTracked addresses are kept: past that the one
// touched longest ago is dropped, so a flood from many addresses costs a
// bounded amount of memory.
class AddressLimits final : public CallerLimits {
public:
    static constexpr std::size_t kMaxTracked = 16384;
    static constexpr quint32 kRegistrationWindowMs = 3600u * 1000u;
    static constexpr quint32 kListWindowMs = 1000;

    AddressLimits(const TickClock& clock, NoticeSink notices);

    // Takes effect at once: lockouts in force are judged by the new lengths,
    // an address made exempt is spared at once.
    void apply(const LimitSettings& settings);
    const LimitSettings& settings() const { return m_settings; }

    bool isExempt(QByteArrayView ip) const;
    // Whether a caller from `ip` that already holds `held` regular slots must
    // be refused.
    bool connectionRefused(QByteArrayView ip, int held) const;

    // --- CallerLimits ---
    bool loginLockedOut(QByteArrayView ip) override;
    void loginFailed(QByteArrayView ip) override;
    bool operatorLoginAllowed(QByteArrayView ip) const override;
    bool registrationAllowed(QByteArrayView ip) override;
    void accountCreated(QByteArrayView ip) override;
    bool takeListQuery(QByteArrayView ip) override;

    // For the question "why is this caller refused?"; these only read.
    struct Lockout {
        quint32 remainingMs;
        int failures;
    };
    std::optional<Lockout> lockout(const AddressKey& key) const;
    // Milliseconds until the address may create an account again.
    std::optional<quint32> registrationsBlockedFor(const AddressKey& key) const;
    bool operatorLoginAllowed(const AddressKey& key) const;
    bool isExempt(const AddressKey& key) const { return m_settings.exempt.contains(key); }

    // Ends lockouts whose time is up (their line on standard error) and
    // forgets addresses with nothing left to remember. The general timer runs it.
    void sweep();
    std::size_t trackedCount() const { return m_entries.size(); }

private:
    struct Entry {
        std::vector<quint32> failures;      // ticks of failed logins within the window, oldest first
        std::vector<quint32> registrations; // ticks of accounts created within the hour, oldest first
        bool locked = false;
        quint32 lockedAt = 0;
        int lockedAfter = 0; // failures that caused the lockout
        bool listWindowOpen = false;
        quint32 listWindowStart = 0;
        int listCount = 0;
        std::list<AddressKey>::iterator order;
    };

    std::optional<AddressKey> trackedKey(QByteArrayView ip) const;
    Entry* find(const AddressKey& key);
    const Entry* find(const AddressKey& key) const;
    Entry& touch(const AddressKey& key);
    bool lockoutOver(const Entry& e, quint32 now) const;
    void endLockout(const AddressKey& key, Entry& e);
    void forgetOld(Entry& e, quint32 now) const;
    static bool idle(const Entry& e);
    quint32 lockoutMs() const { return quint32(m_settings.lockoutS) * 1000u; }
    quint32 loginWindowMs() const { return quint32(m_settings.loginWindowS) * 1000u; }

    const TickClock& m_clock;
    NoticeSink m_notices;
    LimitSettings m_settings;
    std::unordered_map<AddressKey, Entry, AddressKeyHash> m_entries;
    std::list<AddressKey> m_order; // most recently touched first
};
