#include "protocol/dispatcher.h"

#include "protocol/session_context.h"

Dispatcher::Dispatcher() {
    for (auto& modeTable : m_table)
        modeTable.fill(&Dispatcher::closeConnection);
}

void Dispatcher::install(quint8 mode, quint8 type, Handler handler) {
    if (mode < kModes)
        m_table[mode][type] = handler;
}

void Dispatcher::dispatch(SessionContext& session, int slot, quint8 mode, quint8 type, QByteArrayView payload) const {
    if (mode >= kModes) {
        closeConnection(session, slot, type, payload);
        return;
    }
    m_table[mode][type](session, slot, type, payload);
}

void Dispatcher::closeConnection(SessionContext& session, int slot, quint8, QByteArrayView) {
    session.closeClient(slot);
}
