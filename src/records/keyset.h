#pragma once

#include "records/fieldvalue.h"
#include "records/packedtexts.h"

#include <QString>
#include <optional>
#include <vector>

struct sqlite3;

namespace kestrella {

// What a record source asks for: a table name or "select * from <table> ...".
class RecordSourceQuery
{
public:
    explicit RecordSourceQuery(const QString& source);
    const QString& table() const { return m_table; }
    // The rowids of the records the source selects, and the values of one field of each (none: no field).
    QString keysetStatement(const QString& field) const;
    // Whether the field's values come in the field's own order, the records in the store's.
    bool readsFieldInItsOrder(const QString& field) const;

private:
    bool asksForAnOrder() const;

    QString m_table;
    QString m_tail; // what follows the table name, without the closing semicolon
};

// The open record set's records: their rowids in the record source's order, and one field of every record read
// with them, so a walk over that field costs no second pass over the file.
class Keyset
{
public:
    // Whether reading the set again could change it: another statement, or a write since it was read.
    bool isStale(const QString& statement, qint64 dataVersion, quint64 writes) const;
    void read(sqlite3* db, const QString& statement, int field, bool fieldInItsOrder);
    void markCurrent(qint64 dataVersion, quint64 writes);
    // A count of another connection's: the next refresh reads the set again.
    void forgetDataVersion() { m_dataVersion = -1; }
    void clear();

    qint64 size() const { return qint64(m_keys.size()); }
    qint64 keyAt(qint64 position) const { return m_keys[size_t(position)]; }
    std::optional<qint64> positionOf(qint64 key) const;
    void removeAt(qint64 position);
    void append(qint64 key);

    bool holdsColumnOf(int field) const { return m_column.field >= 0 && m_column.field == field; }
    FieldValue columnValueAt(qint64 position) const { return m_column.valueAt(position); }
    // The column's values (no-value entries left out) in list order; the set lets go of them.
    PackedTexts takeColumnInListOrder();
    void dropColumn() { m_column = {}; }

private:
    // One field of every record in the set, packed as UTF-8 text, in slots: the field's own order when it was read
    // that way (slotOfPosition then maps a record's position to its slot), else the set's.
    struct Column
    {
        int field = -1;
        PackedTexts texts;
        std::vector<bool> isNull;
        std::vector<qint64> rowids; // by slot, when read in the field's order
        std::vector<quint32> slotOfPosition;
        FieldValue valueAt(qint64 position) const;
    };

    std::vector<qint64> m_keys;
    Column m_column;
    QString m_statement;
    qint64 m_dataVersion = -1;
    quint64 m_writes = 0;
};

} // namespace kestrella
