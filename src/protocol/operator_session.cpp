#include "protocol/operator_session.h"

#include "database/account_set.h"
#include "database/registry_database.h"
#include "host/registry.h"
#include "platform/code_page.h"
#include "protocol/dispatcher.h"
#include "protocol/framing.h"
#include "protocol/payload_fields.h"

#include <QRegularExpression>

namespace {

const QByteArray kFirstAccessCode = QByteArrayLiteral("QWZRTPLKMX");
const QByteArray kSecondAccessCode = QByteArrayLiteral("ZKRTQWPMNBVCXLKJHGFD");
const QByteArray kUpgradeText = QByteArrayLiteral("You must upgrade to v12.01 or higher.");

namespace ToServer {
constexpr quint8 Text = 4;
constexpr quint8 AddGod = 5;
} // namespace ToServer
constexpr quint8 kLoginAccepted = 5;
constexpr char kAddGodMarker = 10;

// The named server of a "name, 0, value" payload of at least `minSize` bytes,
// or 0 (malformed payloads are ignored and keep the session).
int namedServer(Registry& registry, QByteArrayView payload, qsizetype minSize, QByteArrayView* value) {
    if (payload.size() < minSize)
        return 0;
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p))
        return 0;
    *value = PayloadFields::after(payload, p);
    return registry.findServerByName(CodePage::upper(PayloadFields::before(payload, p)));
}

void disconnectServer(Registry& registry, QByteArrayView payload) {
    const int target = registry.findServerByName(payload);
    if (target != 0)
        registry.closeClient(target);
}

void messageServer(Registry& registry, QByteArrayView payload) {
    QByteArrayView value;
    const int target = namedServer(registry, payload, 3, &value);
    if (target != 0)
        registry.sendFramed(target, Framing::message(ToServer::Text, CodePage::upper(value)));
}

void messageEveryServer(Registry& registry, QByteArrayView payload) {
    if (payload.isEmpty())
        return;
    registry.logEvent(QStringLiteral("Operator: ") + CodePage::toUnicode(payload));
    const QByteArray message = Framing::message(ToServer::Text, payload);
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
        if (registry.slot(i).Mode == SessionMode::Server)
            registry.sendFramed(i, message);
}

void addGod(Registry& registry, QByteArrayView payload) {
    QByteArrayView value;
    const int target = namedServer(registry, payload, 4, &value);
    if (target == 0)
        return;
    QByteArray body;
    body.append(kAddGodMarker);
    body.append(CodePage::upper(value));
    registry.sendFramed(target, Framing::message(ToServer::AddGod, body));
}

void markOfficial(Registry& registry, QByteArrayView payload, quint8 official) {
    QByteArrayView value;
    const int target = namedServer(registry, payload, 3, &value);
    if (target != 0)
        registry.slot(target).Official = official;
}

} // namespace

namespace OperatorSession {

bool versionMatches(QByteArrayView payload) {
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    const QString text = QString::fromLatin1(payload);
    if (!decimal.match(text).hasMatch())
        return false;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value == double(RequiredOperatorVersion);
}

void login(Registry& registry, int slot, quint8, QByteArrayView payload) {
    const qsizetype p = PayloadFields::separatorPosition(payload);
    if (!PayloadFields::splitsInTwo(payload, p) ||
        CodePage::upper(PayloadFields::before(payload, p)) != kFirstAccessCode ||
        CodePage::upper(PayloadFields::after(payload, p)) != kSecondAccessCode) {
        registry.closeClient(slot);
        return;
    }
    registry.sendFramed(slot, Framing::message(kLoginAccepted));
    ClientSlot& s = registry.slot(slot);
    s.Mode = SessionMode::Operator;
    registry.logEvent(QStringLiteral("Operator connection established from ") + QString::fromLatin1(s.IP));
}

void command(Registry& registry, int slot, quint8 type, QByteArrayView payload) {
    switch (type) {
    case 5:
        disconnectServer(registry, payload);
        break;
    case 6:
        messageServer(registry, payload);
        break;
    case 7:
        messageEveryServer(registry, payload);
        break;
    case 8:
    case 17:
    case 27:
        break;
    case 9:
        addGod(registry, payload);
        break;
    case 10:
        markOfficial(registry, payload, 1);
        break;
    case 11:
        markOfficial(registry, payload, 0);
        break;
    case 12:
        registry.setNewAccountsAllowed(false);
        break;
    case 13:
        registry.setNewAccountsAllowed(true);
        break;
    case 14:
        registry.database().accounts().clearOfficialOfAll();
        break;
    case 15:
        registry.database().accounts().removeAll();
        break;
    case 16:
        registry.slot(slot).SessionFlag = true;
        break;
    case 28:
        if (versionMatches(payload)) {
            registry.slot(slot).SessionFlag = true;
        } else {
            registry.sendFramed(slot, Framing::message(ToServer::Text, kUpgradeText));
            registry.closeClient(slot);
        }
        break;
    default:
        registry.closeClient(slot);
        break;
    }
}

void install(Dispatcher& dispatcher) {
    dispatcher.install(SessionMode::Connected, 2, &login);
    for (quint8 type : {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 27, 28})
        dispatcher.install(SessionMode::Operator, type, &command);
}

} // namespace OperatorSession
