#pragma once

#include "protocol/listed_servers.h"

#include <QByteArray>
#include <QList>

// /servers.json: {"servers":[{"user":…,"address":…,"name":…,"players":…,
// "official":…,"description":…,"update_url":…}],"count":N} in list order.
// '<', '>' and '&' are written as \u escapes, so that the text stays inert
// even where a browser is talked into reading it as markup.
QByteArray serverListJson(const QList<ListedServer>& servers);
