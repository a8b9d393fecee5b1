#include "records/sqlite.h"

#include <QStringDecoder>
#include <cstring>
#include <utility>

namespace kestrella {

StoreError StoreError::noCurrentRecord()
{
    return StoreError(SQLITE_NOTFOUND, QStringLiteral("No current record."));
}

StoreError StoreError::recordDeleted()
{
    return StoreError(SQLITE_NOTFOUND, QStringLiteral("The record has been deleted."));
}

StoreError StoreError::notOpen()
{
    return StoreError(SQLITE_MISUSE, QStringLiteral("The record set is not open."));
}

QString textFromStore(const char* utf8, qsizetype size)
{
    if (size >= 3 && std::memcmp(utf8, "\xEF\xBB\xBF", 3) == 0) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return decoder(QByteArrayView(utf8, size));
    }
    return QString::fromUtf8(utf8, size);
}

QStringView textFromStore(QByteArrayView utf8, QVarLengthArray<QChar, 256>& buffer)
{
    buffer.resize(utf8.size());
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QChar* end = decoder.appendToBuffer(buffer.data(), utf8);
    return {buffer.constData(), end - buffer.constData()};
}

namespace {

// SQLite reads a statement only up to its first NUL, so a value spliced in with a NUL would cut the statement off
// there. A NUL can only belong inside a quoted value: it is written as char(0) joined to the value's two halves.
QByteArray withNulsSpelledOut(const QByteArray& sql)
{
    if (!sql.contains('\0'))
        return sql;
    QByteArray spelled;
    bool quoted = false;
    for (char c : sql) {
        if (c == '\'')
            quoted = !quoted;
        if (c == '\0' && quoted)
            spelled += "'||char(0)||'";
        else
            spelled += c;
    }
    return spelled;
}

} // namespace

void throwSqliteError(sqlite3* db)
{
    throw StoreError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

void throwSqliteError(int code, const QString& text)
{
    throw StoreError(code, text);
}

void execute(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throwSqliteError(db);
}

SqliteStatement::SqliteStatement(sqlite3* db, const QString& sql)
    : m_db(db)
{
    const QByteArray utf8 = withNulsSpelledOut(sql.toUtf8());
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, &tail) != SQLITE_OK)
        throwSqliteError(db);
    // One statement only: whatever follows the first must be blank or semicolons.
    for (const char* p = tail; p && p < utf8.constData() + utf8.size(); ++p) {
        if (*p != ';' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            throwSqliteError(SQLITE_ERROR, QStringLiteral("Characters found after end of SQL statement."));
        }
    }
    if (!m_stmt)
        throwSqliteError(SQLITE_ERROR, QStringLiteral("The record source is empty."));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_stmt(std::exchange(other.m_stmt, nullptr))
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

void SqliteStatement::bind(int index, const std::optional<QString>& value)
{
    int rc;
    if (value) {
        const QByteArray utf8 = value->toUtf8();
        rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    } else {
        rc = sqlite3_bind_null(m_stmt, index);
    }
    if (rc != SQLITE_OK)
        throwSqliteError(m_db);
}

void SqliteStatement::bind(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        throwSqliteError(m_db);
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const int code = sqlite3_errcode(m_db);
    const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_reset(m_stmt);
    throwSqliteError(code, text);
}

void SqliteStatement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

std::optional<QString> SqliteStatement::text(int column) const
{
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return textFromStore(data, sqlite3_column_bytes(m_stmt, column));
}

} // namespace kestrella
