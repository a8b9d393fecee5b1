#include "records/tablerows.h"

#include "records/program.h"
#include "records/sqlite.h"

namespace kestrella {
namespace {

QString quotedColumn(const QString& field)
{
    return QStringLiteral("[%1]").arg(field);
}

void bindValues(SqliteStatement& statement, const FieldValues& values)
{
    int parameter = 1;
    for (const auto& [field, value] : values)
        statement.bind(parameter++, value);
}

} // namespace

TableRows::TableRows() = default;
TableRows::~TableRows() = default;

void TableRows::prepare(sqlite3* db, const QString& table)
{
    if (db == m_db && table == m_table && m_rowStatement)
        return;
    auto row =
        std::make_unique<SqliteStatement>(db, QStringLiteral("select rowid, * from %1 where rowid = ?1").arg(table));
    QStringList fields;
    for (int c = 1; c < row->columnCount(); ++c)
        fields << row->columnName(c);
    for (const QString& required : ProgramFields::all()) {
        if (!fields.contains(required, Qt::CaseInsensitive))
            throw StoreError(SQLITE_ERROR, QStringLiteral("no such column: %1").arg(required));
    }
    m_db = db;
    m_rowStatement = std::move(row);
    m_fields = fields;
    m_table = table;
    m_rowKey.reset();
}

void TableRows::reset()
{
    m_rowStatement.reset();
    m_db = nullptr;
    m_table.clear();
    m_rowKey.reset();
}

int TableRows::fieldIndex(const QString& name) const
{
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    throw StoreError(SQLITE_ERROR, QStringLiteral("Item not found in this collection: %1").arg(name));
}

const TableRows::Row* TableRows::row(qint64 key)
{
    if (m_rowKey != key) {
        SqliteStatement& statement = *m_rowStatement;
        ResetOnExit guard{statement};
        statement.bind(1, key);
        m_row.clear();
        if (statement.step()) {
            m_row.resize(size_t(m_fields.size()));
            for (int f = 0; f < m_fields.size(); ++f)
                m_row[size_t(f)] = statement.text(f + 1);
        }
        m_rowKey = key;
    }
    return m_row.empty() ? nullptr : &m_row;
}

qint64 TableRows::insert(const FieldValues& values)
{
    QStringList columns, parameters;
    for (const auto& [field, value] : values) {
        columns << quotedColumn(m_fields.at(field));
        parameters << QStringLiteral("?%1").arg(parameters.size() + 1);
    }
    SqliteStatement insert(
        m_db,
        columns.isEmpty()
            ? QStringLiteral("insert into %1 default values").arg(m_table)
            : QStringLiteral("insert into %1 (%2) values (%3)").arg(m_table, columns.join(','), parameters.join(',')));
    bindValues(insert, values);
    insert.step();
    return sqlite3_last_insert_rowid(m_db);
}

void TableRows::update(qint64 key, const FieldValues& values)
{
    if (values.empty())
        return;
    QStringList assignments;
    for (const auto& [field, value] : values)
        assignments << QStringLiteral("%1 = ?%2").arg(quotedColumn(m_fields.at(field))).arg(assignments.size() + 1);
    SqliteStatement update(m_db, QStringLiteral("update %1 set %2 where rowid = ?%3")
                                     .arg(m_table, assignments.join(','))
                                     .arg(values.size() + 1));
    bindValues(update, values);
    update.bind(int(values.size()) + 1, key);
    update.step();
    if (sqlite3_changes(m_db) != 1)
        throw StoreError::recordDeleted();
}

void TableRows::remove(qint64 key)
{
    SqliteStatement remove(m_db, QStringLiteral("delete from %1 where rowid = ?1").arg(m_table));
    remove.bind(1, key);
    remove.step();
}

} // namespace kestrella
