#include "records/keyset.h"

#include "records/listorder.h"
#include "records/sqlite.h"

#include <QRegularExpression>
#include <algorithm>
#include <limits>

namespace kestrella {

RecordSourceQuery::RecordSourceQuery(const QString& source)
{
    static const QString identifier = QStringLiteral(R"((\[[^\]]*\]|[A-Za-z_][A-Za-z0-9_]*))");
    static const QRegularExpression selectAll(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+)") + identifier + QStringLiteral(R"((.*?)[\s;]*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tableOnly(QStringLiteral(R"(^\s*)") + identifier + QStringLiteral(R"(\s*;?\s*$)"));
    if (const auto m = selectAll.match(source); m.hasMatch()) {
        m_table = m.captured(1);
        m_tail = m.captured(2);
    } else if (const auto m = tableOnly.match(source); m.hasMatch()) {
        m_table = m.captured(1);
    } else {
        throw StoreError(SQLITE_ERROR,
                         QStringLiteral("The record source is not a table or a select statement: %1").arg(source));
    }
}

bool RecordSourceQuery::asksForAnOrder() const
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return m_tail.contains(orderBy);
}

bool RecordSourceQuery::readsFieldInItsOrder(const QString& field) const
{
    return !field.isEmpty() && !asksForAnOrder();
}

// Records keep the store's own order, the order they were stored in, unless the statement asks for another: an index
// that speeds a statement up never reorders them. The field is read in its own order, without regard to case, so an
// index on it answers the whole statement without a pass over the table; the list's own order is put right later.
QString RecordSourceQuery::keysetStatement(const QString& field) const
{
    QString sql = QStringLiteral("select rowid");
    if (!field.isEmpty())
        sql += QStringLiteral(", [%1]").arg(field);
    sql += QStringLiteral(" from ") + m_table + m_tail;
    if (asksForAnOrder())
        return sql;
    if (field.isEmpty())
        return sql + QStringLiteral(" order by rowid");
    return sql + QStringLiteral(" order by [%1] collate nocase, rowid").arg(field);
}

namespace {

// The slots of keys in ascending order of key: in one pass over a table when the keys lie close together (rowids
// mostly do: the table's own ids, with a few gaps where records were deleted), a third of the time of a sort of a
// million keys; keys far apart are sorted with their slots.
std::vector<quint32> ascendingOrder(const std::vector<qint64>& keys)
{
    std::vector<quint32> order;
    if (keys.empty())
        return order;
    const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
    const quint64 span = quint64(*high) - quint64(*low); // rowids may lie anywhere in 64 bits
    order.reserve(keys.size());
    if (span < 4 * quint64(keys.size()) + 1024) {
        constexpr quint32 None = std::numeric_limits<quint32>::max();
        std::vector<quint32> slotOfKey(size_t(span) + 1, None);
        for (size_t slot = 0; slot < keys.size(); ++slot)
            slotOfKey[size_t(keys[slot] - *low)] = quint32(slot);
        for (quint32 slot : slotOfKey) {
            if (slot != None)
                order.push_back(slot);
        }
        if (order.size() == keys.size()) // keys of a keyset are distinct; anything else is sorted below
            return order;
        order.clear();
    }
    std::vector<std::pair<qint64, quint32>> pairs(keys.size());
    for (size_t slot = 0; slot < keys.size(); ++slot)
        pairs[slot] = {keys[slot], quint32(slot)};
    std::sort(pairs.begin(), pairs.end());
    for (const auto& pair : pairs)
        order.push_back(pair.second);
    return order;
}

} // namespace

bool Keyset::isStale(const QString& statement, qint64 dataVersion, quint64 writes) const
{
    return statement != m_statement || dataVersion != m_dataVersion || writes != m_writes;
}

void Keyset::read(sqlite3* db, const QString& statement, int field, bool fieldInItsOrder)
{
    std::vector<qint64> keys;
    Column column;
    column.field = field;
    {
        SqliteStatement keyset(db, statement);
        ResetOnExit guard{keyset};
        while (keyset.step()) {
            keys.push_back(keyset.int64(0));
            if (field < 0)
                continue;
            // Only a NULL has no text, or a value SQLite ran out of memory converting: asking the type of every
            // value as well would cost a call a name, a few percent of reading a million.
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(keyset.handle(), 1));
            const bool null = !text && sqlite3_column_type(keyset.handle(), 1) == SQLITE_NULL;
            if (!text && !null)
                throwSqliteError(db);
            column.texts.append(QByteArrayView(text, null ? 0 : sqlite3_column_bytes(keyset.handle(), 1)));
            column.isNull.push_back(null);
        }
    }
    if (fieldInItsOrder) {
        column.rowids = keys;
        column.slotOfPosition = ascendingOrder(keys);
        for (size_t position = 0; position < keys.size(); ++position)
            keys[position] = column.rowids[column.slotOfPosition[position]];
    }
    m_keys = std::move(keys);
    m_column = std::move(column);
    m_statement = statement;
}

void Keyset::markCurrent(qint64 dataVersion, quint64 writes)
{
    m_dataVersion = dataVersion;
    m_writes = writes;
}

void Keyset::clear()
{
    m_keys.clear();
    m_column = {};
    m_statement.clear();
    m_dataVersion = -1;
}

std::optional<qint64> Keyset::positionOf(qint64 key) const
{
    const auto it = std::find(m_keys.begin(), m_keys.end(), key);
    if (it == m_keys.end())
        return std::nullopt;
    return it - m_keys.begin();
}

// Positions shift, so the column's slots no longer match them.
void Keyset::removeAt(qint64 position)
{
    m_keys.erase(m_keys.begin() + position);
    dropColumn();
}

void Keyset::append(qint64 key)
{
    m_keys.push_back(key);
    dropColumn();
}

FieldValue Keyset::Column::valueAt(qint64 position) const
{
    const qint64 slot = slotOfPosition.empty() ? position : qint64(slotOfPosition[size_t(position)]);
    if (isNull[size_t(slot)])
        return std::nullopt;
    return texts.at(slot);
}

PackedTexts Keyset::takeColumnInListOrder()
{
    Column column = std::exchange(m_column, {});
    if (std::find(column.isNull.begin(), column.isNull.end(), true) != column.isNull.end()) {
        PackedTexts values;
        std::vector<qint64> rowids;
        for (qsizetype slot = 0; slot < column.texts.size(); ++slot) {
            if (!column.isNull[size_t(slot)]) {
                values.append(column.texts.utf8At(slot));
                if (!column.rowids.empty())
                    rowids.push_back(column.rowids[size_t(slot)]);
            }
        }
        column.texts = std::move(values);
        column.rowids = std::move(rowids);
    }
    // The index folds case for ASCII only and knows no language; where its order and the list's differ, the list's
    // wins, equal values keeping the store's order (or the set's, read in an order of its own).
    return inListOrder(std::move(column.texts), column.rowids);
}

} // namespace kestrella
