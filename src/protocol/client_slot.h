#pragma once

#include "protocol/message_types.h"

#include <QByteArray>
#include <QtGlobal>

// Session modes of a slot.
namespace SessionMode = MessageType::Mode;

// One connection record of the Clients table. Texts are kept as the bytes that
// travel on the wire (Windows-1252).
struct ClientSlot {
    QByteArray Buffer;          // received bytes not yet consumed as whole messages
    bool InUse = false;         // the slot is occupied
    quint8 Mode = SessionMode::Connected;
    quint32 LastTick = 0;       // tick of the last activity
    QByteArray ServerId;        // account user name of a logged-in game server
    quint8 PlayerCount = 0;
    QByteArray ServerName;
    QByteArray IP;              // remote address, dotted
    QByteArray Description;
    QByteArray UpdateUrl;
    quint8 Official = 0;        // non-zero = official
    qint64 AccountBookmark = 0; // rowid of the server's account record
    bool SessionFlag = false;
    bool CloseAfterSend = false;
    // Fair share of the loop: reading is paused while complete messages wait
    // in Buffer for a later pass (Backlogged) or while the peer has not taken
    // its replies (HeldForOutput).
    bool Backlogged = false;
    bool HeldForOutput = false;
    bool ReadPaused = false;

    // Bumped by every close: lets a caller tell that the connection it was
    // serving has ended even if the slot is taken again later.
    quint64 Generation = 0;
};
