#include "protocol/dispatcher.h"

#include "host/registry.h"

Dispatcher::Dispatcher() {
    for (auto& modeTable : m_table)
        modeTable.fill(&Dispatcher::closeConnection);
}

void Dispatcher::install(quint8 mode, quint8 type, Handler handler) {
    if (mode < kModes)
        m_table[mode][type] = handler;
}

void Dispatcher::dispatch(Registry& registry, int slot, quint8 mode, quint8 type, QByteArrayView payload) const {
    if (mode >= kModes) {
        closeConnection(registry, slot, type, payload);
        return;
    }
    m_table[mode][type](registry, slot, type, payload);
}

void Dispatcher::closeConnection(Registry& registry, int slot, quint8, QByteArrayView) {
    registry.closeClient(slot);
}
