#pragma once

#include "records/storeerror.h"

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVarLengthArray>
#include <optional>
#include <sqlite3.h>

namespace kestrella {

// Thin owners of SQLite handles; every failure becomes a StoreError with SQLite's own number and text.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, const QString& sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    sqlite3_stmt* handle() const { return m_stmt; }

    void bind(int index, const std::optional<QString>& value);
    void bind(int index, qint64 value);
    // Steps once: true while a row is available. Throws on failure.
    bool step();
    // Ends the statement's read so no lock outlives the call.
    void reset();

    int columnCount() const { return sqlite3_column_count(m_stmt); }
    QString columnName(int column) const { return QString::fromUtf8(sqlite3_column_name(m_stmt, column)); }
    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::optional<QString> text(int column) const;

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

// Resets a statement when a read ends, however it ends, so no read lock outlives the call.
struct ResetOnExit
{
    SqliteStatement& statement;
    ~ResetOnExit() { statement.reset(); }
};

// A stored value as text. QString::fromUtf8 drops a leading U+FEFF as a byte order mark; in a value it is text.
QString textFromStore(const char* utf8, qsizetype size);
// The same text decoded into `buffer` (resized to fit), without a string of its own: what a comparison of many
// stored texts needs, which a string apiece would spend most of its time allocating.
QStringView textFromStore(QByteArrayView utf8, QVarLengthArray<QChar, 256>& buffer);

[[noreturn]] void throwSqliteError(sqlite3* db);
[[noreturn]] void throwSqliteError(int code, const QString& text);
void execute(sqlite3* db, const char* sql);

} // namespace kestrella
