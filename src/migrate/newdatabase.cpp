#include "migrate/newdatabase.h"

#include "migrate/durable.h"
#include "migrate/importwire.h"
#include "migrate/refusal.h"
#include "records/program.h"

#include <QFile>
#include <unistd.h>

namespace kestrella {
namespace {

namespace wire = importwire;

// Both the rows written and the rows read back go through here, so one digest can check the other.
void addToDigest(QCryptographicHash& digest, const char* bytes, qsizetype size, bool isNull)
{
    if (isNull) {
        digest.addData("N");
        return;
    }
    digest.addData(QByteArray::number(size) + ':');
    digest.addData(QByteArrayView(bytes, size));
}

} // namespace

NewDatabase::NewDatabase(const QString& path)
{
    ::close(durable::createOwnerOnly(path)); // owner-only from its first byte: it holds passwords
    try {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throwSqliteError(m_db);
        execute(m_db, "PRAGMA synchronous=FULL");
        execute(m_db, "BEGIN IMMEDIATE");
        execute(m_db, programsTableSchema().toUtf8().constData());
        QStringList placeholders;
        for (int i = 1; i <= wire::FieldCount; ++i)
            placeholders << QStringLiteral("?%1").arg(i);
        m_insert = SqliteStatement(
            m_db, QStringLiteral("insert into Programs (%1) values (%2)")
                      .arg(ProgramFields::all().join(QLatin1Char(',')), placeholders.join(QLatin1Char(','))));
    } catch (...) {
        sqlite3_close_v2(m_db);
        throw;
    }
}

NewDatabase::~NewDatabase()
{
    m_insert = SqliteStatement();
    sqlite3_close_v2(m_db);
}

void NewDatabase::insert(const std::vector<FieldValue>& fields)
{
    for (int i = 0; i < wire::FieldCount; ++i) {
        const FieldValue& value = fields[size_t(i)];
        m_insert.bind(i + 1, value);
        const QByteArray utf8 = value ? value->toUtf8() : QByteArray();
        addToDigest(m_written, utf8.constData(), utf8.size(), !value);
    }
    m_insert.step();
    m_insert.reset();
    ++m_rows;
}

void NewDatabase::commit()
{
    m_insert = SqliteStatement();
    for (const QString& index : programsIndexes())
        execute(m_db, index.toUtf8().constData());
    execute(m_db, "COMMIT");
}

void NewDatabase::verify()
{
    SqliteStatement check(m_db, QStringLiteral("PRAGMA integrity_check"));
    if (!check.step() || check.text(0) != QStringLiteral("ok") || check.step())
        refuse(QStringLiteral("the new file did not pass SQLite's integrity check"));
    check = SqliteStatement();

    SqliteStatement all(
        m_db,
        QStringLiteral("select %1 from Programs order by rowid").arg(ProgramFields::all().join(QLatin1Char(','))));
    QCryptographicHash read(QCryptographicHash::Sha256);
    qint64 rows = 0;
    while (all.step()) {
        sqlite3_stmt* st = all.handle();
        for (int i = 0; i < wire::FieldCount; ++i) {
            const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            addToDigest(read, bytes, sqlite3_column_bytes(st, i), sqlite3_column_type(st, i) == SQLITE_NULL);
        }
        ++rows;
    }
    if (rows != m_rows || read.result() != m_written.result())
        refuse(QStringLiteral("the new file does not read back as it was written"));
}

void NewDatabase::close()
{
    m_insert = SqliteStatement();
    if (m_db && sqlite3_close(m_db) != SQLITE_OK)
        throwSqliteError(m_db);
    m_db = nullptr;
}

} // namespace kestrella
