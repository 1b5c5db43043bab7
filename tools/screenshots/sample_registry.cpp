#include "sample_registry.h"

#include "host/front_end.h"
#include "host/settings.h"
#include "protocol/framing.h"

namespace {

QByteArray frame(quint8 type, const QByteArray& payload) { return Framing::frame(Framing::message(type, payload)); }

QByteArray twoFields(const QByteArray& a, const QByteArray& b) { return a + QByteArray(1, '\0') + b; }

struct SampleAccount {
    const char* user;
    const char* password;
    const char* name;
    const char* description;
    const char* updateUrl;
    int official;
};

// Documentation address ranges only: the pictures name no real machine.
// The servers log in from 203.0.113.x and 192.0.2.x, the bans cover others.
const SampleAccount kAccounts[] = {
    {"Ravenmoor", "gr3yWolf", "Ravenmoor Classic", "Hardcore PvE with weekly resets and friendly staff",
     "http://ravenmoor.example.org/update", 1},
    {"Silverkeep", "keep_2024", "Silverkeep Roleplay", "Story-driven roleplay with custom quests", "", 0},
    {"DuskHollow", "hollow99", "Dusk Hollow PvP", "Open-world PvP, full loot, no mercy", "", 0},
    {"IronTide", "tideturn", "Iron Tide", "Naval battles and trading every evening",
     "http://irontide.example.net/patch", 1},
    {"Amberfall", "fall_leaf", "Amberfall", "Relaxed crafting community, newcomers welcome", "", 0},
    {"GreyHarbor", "harbor_7", "Grey Harbor", "Test realm for the Grey Harbor team", "", 0},
};

struct SampleServer {
    const char* user;
    const char* password;
    const char* address;
    quint8 players;
};

const SampleServer kOnline[] = {
    {"Ravenmoor", "gr3yWolf", "203.0.113.10", 37},
    {"Silverkeep", "keep_2024", "203.0.113.24", 12},
    {"DuskHollow", "hollow99", "192.0.2.45", 58},
    {"IronTide", "tideturn", "203.0.113.77", 21},
};

} // namespace

SampleRegistry::SampleRegistry() {
    RegistryOptions options;
    options.dataDir = m_dataDir.path();
    options.port = 5679;
    m_registry = std::make_unique<Registry>(m_net, m_clock, options);
    m_registry->setTodayProvider([] { return sampleToday(); });
}

// The windows may already be gone (they detach themselves): the registry
// shuts down without them.
SampleRegistry::~SampleRegistry() { m_registry->shutdown(); }

bool SampleRegistry::start(FrontEnd* frontEnd, QString* error) {
    if (!m_dataDir.isValid()) {
        *error = QStringLiteral("no temporary data folder: ") + m_dataDir.errorString();
        return false;
    }
    // New accounts allowed from the start, so that the options dialog and the
    // Accounts menu show a ticked box.
    Settings(m_dataDir.path()).writeSetting(QString::fromLatin1(Settings::kAutoAllowKey), Settings::booleanText(true));
    m_registry->setFrontEnd(frontEnd);
    if (!m_registry->start(error))
        return false;
    return addAccounts(error) && addBans(error) && logInServers(error);
}

bool SampleRegistry::addAccounts(QString* error) {
    AccountSet& accounts = m_registry->database().accounts();
    for (const SampleAccount& a : kAccounts) {
        AccountRecord record;
        record.User = QString::fromLatin1(a.user);
        record.Password = QString::fromLatin1(a.password);
        record.Name = QString::fromLatin1(a.name);
        record.Description = QString::fromLatin1(a.description);
        record.UpdateURL = QString::fromLatin1(a.updateUrl);
        record.Official = a.official;
        const qint64 bookmark = accounts.add(record, error);
        if (bookmark == 0)
            return false;
        if (record.User == QLatin1String("Ravenmoor"))
            m_editedAccount = bookmark;
    }
    return true;
}

bool SampleRegistry::addBans(QString* error) {
    BanSet& bans = m_registry->database().bans();
    const BanRecord list[] = {
        {0, QStringLiteral("Chargebacks"), editedBanAddress(), QStringLiteral("Repeated fake server registrations"),
         QDate(2024, 6, 30)},
        {0, QStringLiteral("Scanner"), QStringLiteral("198.18.0.0"), QStringLiteral("Port scans from this network"),
         std::nullopt},
        {0, QStringLiteral("Flooder"), QStringLiteral("203.0.113.200"), QStringLiteral("Connection flooding"),
         QDate(2024, 4, 1)},
        {0, QStringLiteral("Spoofer"), QStringLiteral("198.51.100.77"), std::nullopt, QDate(2024, 12, 31)},
    };
    for (BanRecord ban : list) {
        const auto number = bans.nextFreeNumber();
        if (!number) {
            *error = QStringLiteral("the ban list is full");
            return false;
        }
        ban.Number = *number;
        if (!bans.add(ban, error))
            return false;
    }
    return true;
}

// Everything arrives over the (in-memory) wire, so the event lines are the
// ones the registry itself writes.
bool SampleRegistry::logInServers(QString* error) {
    m_clock.advance(1200);
    const int op = m_net.connectPeer("127.0.0.1");
    m_net.peerSends(op, frame(2, twoFields("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD")));

    for (const SampleServer& s : kOnline) {
        m_clock.advance(850);
        const int peer = m_net.connectPeer(s.address);
        m_net.peerSends(peer, frame(1, twoFields(s.user, s.password)));
        const int index = m_net.peer(peer).index;
        if (index == 0 || m_registry->slot(index).Mode != SessionMode::Server) {
            *error = QStringLiteral("the sample server %1 did not log in").arg(QLatin1String(s.user));
            return false;
        }
        m_registry->slot(index).PlayerCount = s.players;
        m_registry->clients().listChanged();
    }

    // A new account, created at login, whose server then goes away again.
    m_clock.advance(2300);
    const int newcomer = m_net.connectPeer("192.0.2.140");
    m_net.peerSends(newcomer, frame(0, twoFields("Northwatch", "north_1")));
    const int newcomerSlot = m_net.peer(newcomer).index;
    if (newcomerSlot == 0 || m_registry->slot(newcomerSlot).Mode != SessionMode::Server) {
        *error = QStringLiteral("the sample account Northwatch was not created");
        return false;
    }
    m_registry->closeClient(newcomerSlot);

    // A game client fetches the list.
    const int client = m_net.connectPeer("192.0.2.200");
    m_net.peerSends(client, frame(3, QByteArray(1, '\x01')));
    m_net.completeSends();
    if (m_registry->onlineServers().texts().size() != int(std::size(kOnline))) {
        *error = QStringLiteral("the sample servers are not all online");
        return false;
    }
    return true;
}
