#pragma once

#include "support/registry_fixture.h"

#include <QByteArray>

// Byte helpers for the session tests: payloads with the 0 separator.
inline QByteArray fields(const QByteArray& a, const QByteArray& b) { return a + QByteArray(1, '\0') + b; }

// Connects a caller and logs it in as an operator; returns the peer id.
int connectOperator(RegistryFixture& f, const QByteArray& address = "127.0.0.1");

// Registers (with new accounts allowed for the moment) and returns the peer id
// of the logged-in game server.
int registerServer(RegistryFixture& f, const QByteArray& user, const QByteArray& password = "secret",
                   const QByteArray& address = "127.0.0.1");

// Puts a logged-in server straight into a slot, without the database: for
// tests of what is done with online servers.
int placeServer(RegistryFixture& f, const QByteArray& user, quint8 official = 0, quint8 players = 0,
                const QByteArray& name = "Name", const QByteArray& description = "Desc",
                const QByteArray& address = "10.0.0.1", const QByteArray& updateUrl = "");
