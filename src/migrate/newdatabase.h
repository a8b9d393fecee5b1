#pragma once

#include "records/datasource.h"
#include "records/sqlite.h"

#include <QCryptographicHash>
#include <QString>
#include <vector>

namespace kestrella {

// The migration's new file, built under its temporary name in one transaction and closed however the migration
// ends; abandoned, whatever it holds goes with the file.
class NewDatabase
{
public:
    // Creates the file owner-only and opens its transaction with an empty Programs table.
    explicit NewDatabase(const QString& path);
    ~NewDatabase();
    NewDatabase(const NewDatabase&) = delete;
    NewDatabase& operator=(const NewDatabase&) = delete;

    // One row, its fields in the table's order.
    void insert(const std::vector<FieldValue>& fields);
    // Adds the indexes and commits.
    void commit();
    // Reads everything back: the same rows in the same order, byte for byte, and a sound file. Refuses otherwise.
    void verify();
    void close();

    qint64 rows() const { return m_rows; }

private:
    sqlite3* m_db = nullptr;
    SqliteStatement m_insert;
    QCryptographicHash m_written{QCryptographicHash::Sha256};
    qint64 m_rows = 0;
};

} // namespace kestrella
