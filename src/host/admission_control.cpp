#include "host/admission_control.h"

QString MaskAddress(const QString& address, int level) {
    const qsizetype last = address.lastIndexOf(QLatin1Char('.'));
    if (level == 1) {
        if (last < 0)
            return address;
        return address.left(last + 1) + QLatin1Char('0');
    }
    if (level == 2) {
        if (last <= 0)
            return address;
        const qsizetype before = address.lastIndexOf(QLatin1Char('.'), last - 1);
        if (before < 0)
            return address;
        return address.left(before + 1) + QLatin1String("0.0");
    }
    return address;
}

std::optional<BanRecord> findGoverningBan(const BanSet& bans, const QString& address) {
    if (bans.isEmpty())
        return std::nullopt;
    if (auto exact = bans.findByIP(address))
        return exact;
    if (auto network = bans.findByIP(MaskAddress(address, 1)))
        return network;
    return bans.findByIP(MaskAddress(address, 2));
}

bool IsBanned(const BanSet& bans, const QString& address) { return findGoverningBan(bans, address).has_value(); }

std::optional<QDate> BanUnbanDate(const BanSet& bans, const QString& address) {
    const auto ban = findGoverningBan(bans, address);
    return ban ? ban->UnbanDate : std::nullopt;
}

bool BanExpired(const QDate& unbanDate, const QDate& today) { return today.daysTo(unbanDate) <= 0; }

Admission decideAdmission(BanSet& bans, const QString& address, const QDate& today) {
    const auto ban = findGoverningBan(bans, address);
    if (!ban)
        return Admission::Admitted;
    if (!(ban->UnbanDate && BanExpired(*ban->UnbanDate, today)))
        return Admission::Banned;
    // Deleted only while it is still the ban that was judged: of several
    // registries sharing the bans, the first to see its address deletes it.
    if (bans.removeIfUnchanged(*ban))
        return Admission::AdmittedBanLifted;
    // Gone or changed meanwhile (another registry): judged by what is there now.
    bans.invalidate();
    const auto current = findGoverningBan(bans, address);
    if (current && !(current->UnbanDate && BanExpired(*current->UnbanDate, today)))
        return Admission::Banned;
    return Admission::Admitted;
}
