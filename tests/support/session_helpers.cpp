#include "support/session_helpers.h"

int connectOperator(RegistryFixture& f, const QByteArray& address) {
    const int p = f.connect(address);
    f.send(p, frame(2, fields("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD")));
    f.received(p);
    return p;
}

int registerServer(RegistryFixture& f, const QByteArray& user, const QByteArray& password,
                   const QByteArray& address) {
    const bool allowed = f.reg().newAccountsAllowed();
    f.reg().setNewAccountsAllowed(true);
    const int p = f.connect(address);
    f.send(p, frame(0, fields(user, password)));
    f.reg().setNewAccountsAllowed(allowed);
    f.received(p);
    return p;
}

int placeServer(RegistryFixture& f, const QByteArray& user, quint8 official, quint8 players,
                const QByteArray& name, const QByteArray& description, const QByteArray& address,
                const QByteArray& updateUrl) {
    const int p = f.connect(address);
    ClientSlot& s = f.reg().slot(f.slotOf(p));
    s.Mode = SessionMode::Server;
    s.ServerId = user;
    s.Official = official;
    s.PlayerCount = players;
    s.ServerName = name;
    s.Description = description;
    s.UpdateUrl = updateUrl;
    f.reg().onlineServers().add(user);
    f.reg().clients().listChanged();
    return p;
}
