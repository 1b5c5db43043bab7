#include "host/address_verdict.h"

#include "host/admission_control.h"
#include "host/registry.h"

#include <QStringList>

namespace {

quint32 secondsUp(quint32 ms) { return (ms + 999) / 1000; }

QString banVerdict(const BanRecord& ban, const QString& address) {
    const QString until = ban.UnbanDate ? QStringLiteral("until ") + ban.UnbanDate->toString(Qt::ISODate)
                                        : QStringLiteral("for ever");
    QString form;
    if (ban.IP == address)
        form = QStringLiteral("matching the address exactly");
    else if (ban.IP == MaskAddress(address, 1))
        form = QStringLiteral("matching its /24 form ") + ban.IP;
    else
        form = QStringLiteral("matching its /16 form ") + ban.IP;
    return QStringLiteral("banned by ban %1 (\"%2\") %3, %4").arg(ban.Number).arg(ban.Name, until, form);
}

} // namespace

std::optional<QString> addressVerdict(const Registry& registry, const QString& ip, const QDate& today,
                                      const QDateTime& nowUtc) {
    if (ip.toLatin1() != ip.toUtf8())
        return std::nullopt;
    const std::optional<AddressKey> key = AddressKey::parse(ip.toLatin1());
    if (!key)
        return std::nullopt;
    // The text the socket layer would give for this caller.
    const QByteArray address = key->text();
    const QString addressText = QString::fromLatin1(address);

    if (const std::optional<BanRecord> ban = findGoverningBan(registry.database().bans(), addressText)) {
        // An expired ban is lifted when the address next connects: no refusal.
        if (!ban->UnbanDate || !BanExpired(*ban->UnbanDate, today))
            return banVerdict(*ban, addressText);
    }
    const AddressLimits& limits = registry.addressLimits();
    if (limits.connectionRefused(address, registry.slotsHeldBy(address)))
        return QStringLiteral("at its limit of %1 connections").arg(limits.settings().connectionsPerAddress);

    QStringList met;
    if (const auto lockout = limits.lockout(*key))
        met << QStringLiteral("locked out for %1 more seconds after %2 failed logins")
                   .arg(secondsUp(lockout->remainingMs))
                   .arg(lockout->failures);
    if (const auto blocked = limits.registrationsBlockedFor(*key))
        met << QStringLiteral("registrations refused until %1 (for %2 more seconds)")
                   .arg(nowUtc.addMSecs(*blocked).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")))
                   .arg(secondsUp(*blocked));
    if (!limits.operatorLoginAllowed(*key))
        met << QStringLiteral("operator logins not allowed from it");
    return met.isEmpty() ? QStringLiteral("admitted") : met.join(QStringLiteral("; "));
}
