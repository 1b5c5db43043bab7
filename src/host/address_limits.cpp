#include "host/address_limits.h"

#include "platform/tick_clock.h"

#include <algorithm>

namespace {

// Drops the ticks older than `windowMs` from the front of an oldest-first list.
void dropBefore(std::vector<quint32>& ticks, quint32 now, quint32 windowMs) {
    const auto fresh =
        std::find_if(ticks.begin(), ticks.end(), [&](quint32 t) { return tickSince(now, t) < windowMs; });
    ticks.erase(ticks.begin(), fresh);
}

// Keeps only the newest `keep` ticks: no more are ever needed.
void keepNewest(std::vector<quint32>& ticks, std::size_t keep) {
    if (ticks.size() > keep)
        ticks.erase(ticks.begin(), ticks.end() - std::ptrdiff_t(keep));
}

} // namespace

AddressLimits::AddressLimits(const TickClock& clock, NoticeSink notices)
    : m_clock(clock), m_notices(std::move(notices)) {}

void AddressLimits::apply(const LimitSettings& settings) {
    m_settings = settings;
    // Addresses exempt now have nothing to answer for.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (m_settings.exempt.contains(it->first)) {
            if (it->second.locked)
                endLockout(it->first, it->second);
            m_order.erase(it->second.order);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    sweep();
}

std::optional<AddressKey> AddressLimits::trackedKey(QByteArrayView ip) const {
    std::optional<AddressKey> key = AddressKey::parse(ip);
    if (key && m_settings.exempt.contains(*key))
        return std::nullopt;
    return key;
}

bool AddressLimits::isExempt(QByteArrayView ip) const {
    const std::optional<AddressKey> key = AddressKey::parse(ip);
    return key && m_settings.exempt.contains(*key);
}

bool AddressLimits::connectionRefused(QByteArrayView ip, int held) const {
    return m_settings.connectionsPerAddress > 0 && held >= m_settings.connectionsPerAddress && !isExempt(ip);
}

AddressLimits::Entry* AddressLimits::find(const AddressKey& key) {
    const auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

const AddressLimits::Entry* AddressLimits::find(const AddressKey& key) const {
    const auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

AddressLimits::Entry& AddressLimits::touch(const AddressKey& key) {
    if (Entry* e = find(key)) {
        m_order.splice(m_order.begin(), m_order, e->order);
        return *e;
    }
    if (m_entries.size() >= kMaxTracked) {
        const AddressKey oldest = m_order.back();
        m_order.pop_back();
        m_entries.erase(oldest);
    }
    m_order.push_front(key);
    Entry& e = m_entries[key];
    e.order = m_order.begin();
    return e;
}

bool AddressLimits::lockoutOver(const Entry& e, quint32 now) const {
    return m_settings.loginFailures == 0 || tickSince(now, e.lockedAt) >= lockoutMs();
}

void AddressLimits::endLockout(const AddressKey& key, Entry& e) {
    e.locked = false;
    e.failures.clear();
    if (m_notices)
        m_notices(NoticeSeverity::Info, QStringLiteral("%1 is no longer locked out").arg(QLatin1String(key.text())));
}

bool AddressLimits::loginLockedOut(QByteArrayView ip) {
    const std::optional<AddressKey> key = trackedKey(ip);
    Entry* e = key ? find(*key) : nullptr;
    if (!e || !e->locked)
        return false;
    if (lockoutOver(*e, m_clock.now())) {
        endLockout(*key, *e);
        return false;
    }
    return true;
}

void AddressLimits::loginFailed(QByteArrayView ip) {
    if (m_settings.loginFailures == 0)
        return;
    const std::optional<AddressKey> key = trackedKey(ip);
    if (!key)
        return;
    const quint32 now = m_clock.now();
    Entry& e = touch(*key);
    if (e.locked)
        return; // logins are refused before they can fail; nothing to add
    dropBefore(e.failures, now, loginWindowMs());
    e.failures.push_back(now);
    keepNewest(e.failures, std::size_t(m_settings.loginFailures));
    if (int(e.failures.size()) < m_settings.loginFailures)
        return;
    e.locked = true;
    e.lockedAt = now;
    e.lockedAfter = int(e.failures.size());
    e.failures.clear();
    if (m_notices)
        m_notices(NoticeSeverity::Warning, QStringLiteral("%1 locked out for %2 s after %3 failed logins")
                                               .arg(QLatin1String(key->text()))
                                               .arg(m_settings.lockoutS)
                                               .arg(e.lockedAfter));
}

bool AddressLimits::operatorLoginAllowed(const AddressKey& key) const {
    return m_settings.operatorFrom.isEmpty() || m_settings.operatorFrom.contains(key);
}

bool AddressLimits::operatorLoginAllowed(QByteArrayView ip) const {
    if (m_settings.operatorFrom.isEmpty())
        return true;
    const std::optional<AddressKey> key = AddressKey::parse(ip);
    return key && operatorLoginAllowed(*key);
}

bool AddressLimits::registrationAllowed(QByteArrayView ip) {
    if (m_settings.registrationsPerHour == 0)
        return true;
    const std::optional<AddressKey> key = trackedKey(ip);
    Entry* e = key ? find(*key) : nullptr;
    if (!e)
        return true;
    dropBefore(e->registrations, m_clock.now(), kRegistrationWindowMs);
    return int(e->registrations.size()) < m_settings.registrationsPerHour;
}

void AddressLimits::accountCreated(QByteArrayView ip) {
    if (m_settings.registrationsPerHour == 0)
        return;
    const std::optional<AddressKey> key = trackedKey(ip);
    if (!key)
        return;
    const quint32 now = m_clock.now();
    Entry& e = touch(*key);
    dropBefore(e.registrations, now, kRegistrationWindowMs);
    e.registrations.push_back(now);
    keepNewest(e.registrations, std::size_t(m_settings.registrationsPerHour));
}

bool AddressLimits::takeListQuery(QByteArrayView ip) {
    if (m_settings.listQueriesPerSecond == 0)
        return true;
    const std::optional<AddressKey> key = trackedKey(ip);
    if (!key)
        return true;
    const quint32 now = m_clock.now();
    Entry& e = touch(*key);
    if (!e.listWindowOpen || tickSince(now, e.listWindowStart) >= kListWindowMs) {
        e.listWindowOpen = true;
        e.listWindowStart = now;
        e.listCount = 0;
    }
    if (e.listCount >= m_settings.listQueriesPerSecond)
        return false;
    ++e.listCount;
    return true;
}

std::optional<AddressLimits::Lockout> AddressLimits::lockout(const AddressKey& key) const {
    if (m_settings.exempt.contains(key))
        return std::nullopt;
    const Entry* e = find(key);
    const quint32 now = m_clock.now();
    if (!e || !e->locked || lockoutOver(*e, now))
        return std::nullopt;
    return Lockout{lockoutMs() - tickSince(now, e->lockedAt), e->lockedAfter};
}

std::optional<quint32> AddressLimits::registrationsBlockedFor(const AddressKey& key) const {
    if (m_settings.registrationsPerHour == 0 || m_settings.exempt.contains(key))
        return std::nullopt;
    const Entry* e = find(key);
    if (!e)
        return std::nullopt;
    const quint32 now = m_clock.now();
    // The creations still inside the hour, newest last; the one that must
    // leave the window for a new account to fit is `size - limit` from the front.
    std::vector<quint32> inside;
    for (quint32 t : e->registrations)
        if (tickSince(now, t) < kRegistrationWindowMs)
            inside.push_back(t);
    const int over = int(inside.size()) - m_settings.registrationsPerHour;
    if (over < 0)
        return std::nullopt;
    return kRegistrationWindowMs - tickSince(now, inside[std::size_t(over)]);
}

void AddressLimits::forgetOld(Entry& e, quint32 now) const {
    dropBefore(e.failures, now, loginWindowMs());
    dropBefore(e.registrations, now, kRegistrationWindowMs);
    if (e.listWindowOpen && tickSince(now, e.listWindowStart) >= kListWindowMs)
        e.listWindowOpen = false;
}

bool AddressLimits::idle(const Entry& e) {
    return !e.locked && e.failures.empty() && e.registrations.empty() && !e.listWindowOpen;
}

void AddressLimits::sweep() {
    const quint32 now = m_clock.now();
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        Entry& e = it->second;
        if (e.locked && lockoutOver(e, now))
            endLockout(it->first, e);
        forgetOld(e, now);
        if (idle(e)) {
            m_order.erase(e.order);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}
