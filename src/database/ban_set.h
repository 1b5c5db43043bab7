#pragma once

#include "database/store_statement.h"

class WriteGate;

#include <QDate>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

// One record of the table Bans.
struct BanRecord {
    int Number = 0;                    // the key, 0..255
    QString Name;                      // unique label, compared without regard to case
    QString IP;                        // dotted address; trailing zeros stand for a network
    std::optional<QString> Reason;     // NULL when no reason was given
    std::optional<QDate> UnbanDate;    // NULL when the ban has no end
};

// The IP bans. Every operation is one statement, prepared once, with bound
// values, committed before it returns: a quote in a name or address is just a
// character. Refusals come back in the registry's own words.
class BanSet {
public:
    static constexpr int kHighestNumber = 255;

    BanSet();
    ~BanSet();
    BanSet(const BanSet&) = delete;
    BanSet& operator=(const BanSet&) = delete;

    std::optional<BanRecord> findByIP(const QString& ip) const;     // lowest number when several share it
    std::optional<BanRecord> findByName(const QString& name) const;
    std::optional<BanRecord> findByNumber(int number) const;
    bool add(const BanRecord& record, QString* error = nullptr);    // false + why when refused
    // IP, Reason and UnbanDate of the ban with record.Number, while that is
    // still the ban record.Name; Name and Number never change. False when
    // vanished or refused.
    bool update(const BanRecord& record, QString* error = nullptr);
    bool remove(int number);                                        // false when not found
    // Deletes the ban while it is still exactly `ban` (number, address and
    // unban date): of several registries that find it expired, one deletes
    // it. True for the one whose statement removed it.
    bool removeIfUnchanged(const BanRecord& ban);
    bool removeAll();
    QList<BanRecord> list() const;                                  // ascending number
    int count() const;
    bool isEmpty() const; // cheap at any size, unlike count()

    // The number for a new ban: count + 1 when that number is free, otherwise
    // the lowest free number from 1 to 255; nothing when all are taken.
    std::optional<int> nextFreeNumber() const;

    // With a shared database the bans are kept in memory and look-ups by
    // address and the emptiness test are answered there (a caller's accept
    // costs no round trip); invalidate() has them read again before the next
    // look-up. Every change made through this set invalidates them too. A
    // reading that fails keeps the copy it had.
    void keepInMemory(bool on);
    bool isKeptInMemory() const { return m_inMemory; }
    void invalidate() {
        m_memoryStale = true;
        m_emptyKnown.reset();
    }
    // How often the bans have been read into memory.
    quint64 memoryReads() const { return m_memoryReads; }

    // How many searches by address have been made (lets tests see that an
    // empty table is not searched).
    quint64 addressSearches() const { return m_addressSearches; }

    // Prepares every statement on the connection, SQLite or PostgreSQL;
    // false when the tables do not fit them.
    bool attach(const QString& connectionName);
    void detach();
    // Every change goes through `gate` from now on (none: plainly).
    void setWriteGate(const WriteGate* gate) { m_gate = gate; }

private:
    static QString refusal(const BanRecord& record);
    // Reads the bans into memory when they are stale.
    void refreshMemory() const;
    StoreStatement::Outcome change(StoreStatement& statement);

    bool m_attached = false;
    const WriteGate* m_gate = nullptr;
    std::unique_ptr<StoreStatement> m_byIP, m_byName, m_byNumber, m_exists, m_list, m_count, m_numbers;
    std::unique_ptr<StoreStatement> m_add, m_update, m_remove, m_removeIfUnchanged, m_removeAll;
    mutable quint64 m_addressSearches = 0;
    bool m_inMemory = false;
    mutable bool m_memoryStale = true;
    // Whether the table is empty, as last read, while nothing can have
    // changed it since: only for a file this process holds locked, where
    // every change goes through this set. Every accept asks.
    bool m_emptyCacheable = false;
    mutable std::optional<bool> m_emptyKnown;
    mutable QList<BanRecord> m_memory; // ascending number; at most 256 records
    mutable quint64 m_memoryReads = 0;
};
