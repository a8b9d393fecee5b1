#pragma once

#include "records/blockstarts.h"
#include "records/fieldvalue.h"
#include "records/keysetread.h"
#include "records/largepages.h"
#include "records/packedtexts.h"

#include <QString>
#include <optional>
#include <vector>

struct sqlite3;

namespace kestrella {

// How a set of records is read: the statement, the field read with it, and what that statement allows a set to
// know of itself after the store's own writes.
struct KeysetQuery
{
    QString statement;
    int field = -1; // none: -1
    bool fieldInItsOrder = false;
    bool keysAscend = false;  // the store's own order
    bool everyRecord = false; // the whole table, in the store's order
    SecondReader secondReader;
};

// What a record source asks for: a table name or "select * from <table> ...".
class RecordSourceQuery
{
public:
    explicit RecordSourceQuery(const QString& source);
    const QString& table() const { return m_table; }
    // The rowids of the records the source selects, and the values of one field of each (none: an empty name).
    KeysetQuery keyset(const QString& fieldName, int field) const;

private:
    bool asksForAnOrder() const;

    QString m_table;
    QString m_tail; // what follows the table name, without the closing semicolon
};

// The rowids of a set, in blocks of a few thousand: a removal moves only the rowids of its own block.
class KeyBlocks
{
public:
    KeyBlocks() = default;
    KeyBlocks(const KeyBlocks&) = delete; // blocks point into the keys they were given
    KeyBlocks& operator=(const KeyBlocks&) = delete;

    // Blocks over the keys themselves, not copies: a block gets keys of its own when it first changes.
    void assign(LargeVector<qint64> keys, bool ascending);
    void clear();
    qint64 size() const { return m_size; }
    qint64 at(qint64 position) const;
    qint64 last() const { return m_blocks.back().back(); }
    // Halves its way to the key while the keys ascend, else looks at each.
    std::optional<qint64> positionOf(qint64 key) const;
    void append(qint64 key);
    void removeAt(qint64 position);

private:
    LargeVector<qint64> m_assigned;
    std::vector<LentValues<qint64>> m_blocks; // none empty; at first each lent a part of m_assigned
    BlockStarts m_starts{12};                 // 4,096 rowids a block, 32 kB
    bool m_ascending = true;
    qint64 m_size = 0;
};

// The open record set's records: their rowids in the record source's order, and one field of every record read
// with them, so a walk over that field costs no second pass over the file.
class Keyset
{
public:
    // Whether reading the set again could change it: another statement, or a write since it was read that the set
    // did not follow.
    bool isStale(const QString& statement, qint64 dataVersion, quint64 writes) const;
    void read(sqlite3* db, const KeysetQuery& query);
    // The same statement again, so that its field's values are read with it once more.
    void readAgain(sqlite3* db) { read(db, KeysetQuery(m_query)); }
    void markCurrent(qint64 dataVersion, quint64 writes);
    // A count of another connection's: the next refresh reads the set again.
    void forgetDataVersion() { m_dataVersion = -1; }
    void clear();

    qint64 size() const { return m_keys.size(); }
    qint64 keyAt(qint64 position) const { return m_keys.at(position); }
    std::optional<qint64> positionOf(qint64 key) const { return m_keys.positionOf(key); }

    // The store's own writes, counted by the store: each one of its own record alone (no trigger wrote more) that
    // leaves the set as a read would is followed, so that a refresh after it need not read the set again.
    void removeAt(qint64 position, quint64 write, bool recordAlone);
    void append(qint64 key, quint64 write, bool recordAlone);
    void noteChanged(quint64 write, bool recordAlone);

    bool holdsColumnOf(int field) const { return m_column.field >= 0 && m_column.field == field; }
    bool readsColumnOf(int field) const { return field >= 0 && m_query.field == field; }
    FieldValue columnValueAt(qint64 position) const { return m_column.valueAt(position); }
    // The column's values (no-value entries left out) in list order; the set lets go of them.
    PackedTexts takeColumnInListOrder();

private:
    // One field of every record in the set, packed as UTF-8 text, in slots: the field's own order when it was read
    // that way (slotOfPosition then maps a record's position to its slot), else the set's.
    struct Column
    {
        int field = -1;
        PackedTexts texts;
        std::vector<bool> isNull;
        LargeVector<qint64> rowids; // by slot, when read in the field's order
        LargeVector<quint32> slotOfPosition;
        FieldValue valueAt(qint64 position) const;
    };

    void follow(quint64 write, bool asARead);
    void dropColumn() { m_column = {}; }

    KeyBlocks m_keys;
    Column m_column;
    KeysetQuery m_query;
    qint64 m_dataVersion = -1;
    quint64 m_writes = 0;
};

} // namespace kestrella
