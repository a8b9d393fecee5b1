#pragma once

#include "records/fieldvalue.h"

#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace kestrella {

class SqliteStatement;

// The rows of the record source's table, by rowid: the table's fields, the one row read whole (the record on
// show), and the statements that add, change and remove a row.
class TableRows
{
public:
    using Row = std::vector<FieldValue>;

    TableRows();
    ~TableRows();
    TableRows(const TableRows&) = delete;
    TableRows& operator=(const TableRows&) = delete;

    // Learns the table's fields; a table lacking a program field is refused.
    void prepare(sqlite3* db, const QString& table);
    // Lets go of the statements (the connection is going); prepare makes them again.
    void reset();
    const QString& table() const { return m_table; }
    const QStringList& fields() const { return m_fields; }
    // Field names match without regard to case, as the original file format had it.
    int fieldIndex(const QString& name) const;

    bool holds(qint64 key) const { return m_rowKey == key; }
    // The stored row of key, read once until forget(); none when the row is gone.
    const Row* row(qint64 key);
    void forget() { m_rowKey.reset(); }

    qint64 insert(const FieldValues& values);
    // Throws StoreError::recordDeleted when the row is gone.
    void update(qint64 key, const FieldValues& values);
    void remove(qint64 key);

private:
    sqlite3* m_db = nullptr;
    QString m_table;
    QStringList m_fields;
    std::unique_ptr<SqliteStatement> m_rowStatement;
    std::optional<qint64> m_rowKey;
    Row m_row;
};

} // namespace kestrella
