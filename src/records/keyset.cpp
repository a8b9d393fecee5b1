#include "records/keyset.h"

#include "records/keysetread.h"
#include "records/listorder.h"
#include "records/sqlite.h"

#include <algorithm>
#include <limits>

namespace kestrella {

namespace {

// The blanks and name characters of SQL, as the parse of a record source knows them: ASCII only.
bool isBlank(QChar c)
{
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool isNameStart(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool isNameCharacter(QChar c)
{
    return isNameStart(c) || (c >= u'0' && c <= u'9');
}

// Takes a record source apart from the front: each step takes what it expects there, or says it is not there.
class SourceScanner
{
public:
    explicit SourceScanner(QStringView text)
        : m_rest(text)
    {
    }
    QStringView rest() const { return m_rest; }
    bool blanks(bool required)
    {
        qsizetype count = 0;
        while (count < m_rest.size() && isBlank(m_rest[count]))
            ++count;
        m_rest = m_rest.sliced(count);
        return count > 0 || !required;
    }
    bool word(QLatin1String word)
    {
        if (!m_rest.startsWith(word, Qt::CaseInsensitive))
            return false;
        m_rest = m_rest.sliced(word.size());
        return true;
    }
    // A table's name in brackets, or a plain one; empty when there is none.
    QStringView tableName()
    {
        qsizetype length = 0;
        if (m_rest.startsWith(u'[')) {
            length = m_rest.indexOf(u']') + 1;
        } else if (!m_rest.isEmpty() && isNameStart(m_rest.front())) {
            length = 1;
            while (length < m_rest.size() && isNameCharacter(m_rest[length]))
                ++length;
        }
        const QStringView name = m_rest.first(length);
        m_rest = m_rest.sliced(length);
        return name;
    }

private:
    QStringView m_rest;
};

QStringView withoutClosing(QStringView text)
{
    while (!text.isEmpty() && (isBlank(text.back()) || text.back() == u';'))
        text.chop(1);
    return text;
}

} // namespace

// "select * from <table> ..." or a table's name alone, parsed by hand: a regular expression engine brought half a
// megabyte of code into every start.
RecordSourceQuery::RecordSourceQuery(const QString& source)
{
    SourceScanner select(source);
    if (select.blanks(false) && select.word(QLatin1String("select")) && select.blanks(true) &&
        select.word(QLatin1String("*")) && select.blanks(true) && select.word(QLatin1String("from")) &&
        select.blanks(true)) {
        if (const QStringView table = select.tableName(); !table.isEmpty()) {
            m_table = table.toString();
            m_tail = withoutClosing(select.rest()).toString();
            return;
        }
    }
    SourceScanner tableOnly(source);
    tableOnly.blanks(false);
    const QStringView table = tableOnly.tableName();
    tableOnly.blanks(false);
    tableOnly.word(QLatin1String(";"));
    tableOnly.blanks(false);
    if (table.isEmpty() || !tableOnly.rest().isEmpty())
        throw StoreError(SQLITE_ERROR,
                         QStringLiteral("The record source is not a table or a select statement: %1").arg(source));
    m_table = table.toString();
}

bool RecordSourceQuery::asksForAnOrder() const
{
    const QStringView tail(m_tail);
    const QLatin1String order("order");
    for (qsizetype at = tail.indexOf(order, 0, Qt::CaseInsensitive); at >= 0;
         at = tail.indexOf(order, at + 1, Qt::CaseInsensitive)) {
        if (at > 0 && isNameCharacter(tail[at - 1]))
            continue;
        SourceScanner after(tail.sliced(at + order.size()));
        if (after.blanks(true) && after.word(QLatin1String("by")) &&
            (after.rest().isEmpty() || !isNameCharacter(after.rest().front())))
            return true;
    }
    return false;
}

// Records keep the store's own order, the order they were stored in, unless the statement asks for another: an index
// that speeds a statement up never reorders them. The field is read in its own order, without regard to case, so an
// index on it answers the whole statement without a pass over the table; the list's own order is put right later.
KeysetQuery RecordSourceQuery::keyset(const QString& fieldName, int field) const
{
    KeysetQuery query;
    query.field = fieldName.isEmpty() ? -1 : field;
    query.fieldInItsOrder = !fieldName.isEmpty() && !asksForAnOrder();
    query.keysAscend = !asksForAnOrder();
    query.everyRecord = m_tail.isEmpty();
    QString& sql = query.statement;
    sql = QStringLiteral("select rowid");
    if (!fieldName.isEmpty())
        sql += QStringLiteral(", [%1]").arg(fieldName);
    sql += QStringLiteral(" from ") + m_table + m_tail;
    if (!asksForAnOrder())
        sql += fieldName.isEmpty() ? QStringLiteral(" order by rowid")
                                   : QStringLiteral(" order by [%1] collate nocase, rowid").arg(fieldName);
    if (query.fieldInItsOrder && query.everyRecord) {
        query.secondReader = {
            QStringLiteral(
                "select rowid, [%1] from %2 where [%1] >= ?1 collate nocase order by [%1] collate nocase, rowid")
                .arg(fieldName, m_table),
            QStringLiteral("select [%1] from %2 where rowid >= ?1 order by rowid limit 1").arg(fieldName, m_table),
            QStringLiteral("select (select min(rowid) from %1), (select max(rowid) from %1)").arg(m_table)};
    }
    return query;
}

void KeyBlocks::assign(LargeVector<qint64> keys, bool ascending)
{
    clear();
    m_assigned = std::move(keys);
    m_ascending = ascending;
    const size_t blockSize = size_t(m_starts.blockSize());
    for (size_t from = 0; from < m_assigned.size(); from += blockSize) {
        const size_t count = std::min(blockSize, m_assigned.size() - from);
        m_blocks.emplace_back(m_assigned.data() + from, count, count);
        m_starts.append(qsizetype(from));
    }
    m_size = qint64(m_assigned.size());
}

void KeyBlocks::clear()
{
    m_blocks.clear();
    m_assigned = {};
    m_starts.clear();
    m_ascending = true;
    m_size = 0;
}

qint64 KeyBlocks::at(qint64 position) const
{
    const BlockStarts::Place place = m_starts.placeOf(position);
    return m_blocks[place.block][size_t(place.offset)];
}

std::optional<qint64> KeyBlocks::positionOf(qint64 key) const
{
    if (m_ascending) {
        // The last block starting at or before the key is the only one that can hold it.
        const auto after =
            std::upper_bound(m_blocks.begin(), m_blocks.end(), key,
                             [](qint64 k, const LentValues<qint64>& block) { return k < block.front(); });
        if (after == m_blocks.begin())
            return std::nullopt;
        const LentValues<qint64>& block = *(after - 1);
        const auto it = std::lower_bound(block.begin(), block.end(), key);
        if (it == block.end() || *it != key)
            return std::nullopt;
        return m_starts.first(size_t(after - 1 - m_blocks.begin())) + (it - block.begin());
    }
    for (size_t b = 0; b < m_blocks.size(); ++b) {
        if (const auto it = std::find(m_blocks[b].begin(), m_blocks[b].end(), key); it != m_blocks[b].end())
            return m_starts.first(b) + (it - m_blocks[b].begin());
    }
    return std::nullopt;
}

// A table whose rowids reached the top of their range gives a new record any free rowid.
void KeyBlocks::append(qint64 key)
{
    m_ascending = m_ascending && (m_size == 0 || key > last());
    if (m_blocks.empty() || qsizetype(m_blocks.back().size()) >= m_starts.blockSize()) {
        m_blocks.emplace_back().reserve(size_t(m_starts.blockSize()));
        m_starts.append(m_size);
    }
    m_blocks.back().push_back(key);
    ++m_size;
}

void KeyBlocks::removeAt(qint64 position)
{
    const BlockStarts::Place place = m_starts.placeOf(position);
    std::vector<qint64>& block = m_blocks[place.block].changeable();
    block.erase(block.begin() + place.offset);
    m_starts.shiftAfter(place.block, -1);
    if (block.empty()) {
        m_blocks.erase(m_blocks.begin() + qsizetype(place.block));
        m_starts.erase(place.block);
    }
    --m_size;
}

namespace {

// Keys in ascending order, and the slot each came from.
struct AscendingKeys
{
    LargeVector<qint64> keys;
    LargeVector<quint32> fromSlots;
};

// In one pass over a table when the keys lie close together (rowids mostly do: the table's own ids, with a few gaps
// where records were deleted), a third of the time of a sort of a million keys; keys far apart are sorted with their
// slots.
AscendingKeys ascendingOrder(const LargeVector<qint64>& keys)
{
    AscendingKeys ascending;
    if (keys.empty())
        return ascending;
    const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
    const quint64 span = quint64(*high) - quint64(*low); // rowids may lie anywhere in 64 bits
    ascending.keys.reserve(keys.size());
    ascending.fromSlots.reserve(keys.size());
    if (span < 4 * quint64(keys.size()) + 1024) {
        constexpr quint32 None = std::numeric_limits<quint32>::max();
        LargeVector<quint32> slotOfKey(size_t(span) + 1, None);
        for (size_t slot = 0; slot < keys.size(); ++slot)
            slotOfKey[size_t(keys[slot] - *low)] = quint32(slot);
        for (size_t offset = 0; offset < slotOfKey.size(); ++offset) {
            if (slotOfKey[offset] != None) {
                ascending.keys.push_back(*low + qint64(offset));
                ascending.fromSlots.push_back(slotOfKey[offset]);
            }
        }
        if (ascending.fromSlots.size() == keys.size()) // keys of a keyset are distinct; anything else is sorted below
            return ascending;
        ascending.keys.clear();
        ascending.fromSlots.clear();
    }
    std::vector<std::pair<qint64, quint32>> pairs(keys.size());
    for (size_t slot = 0; slot < keys.size(); ++slot)
        pairs[slot] = {keys[slot], quint32(slot)};
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [key, slot] : pairs) {
        ascending.keys.push_back(key);
        ascending.fromSlots.push_back(slot);
    }
    return ascending;
}

} // namespace

bool Keyset::isStale(const QString& statement, qint64 dataVersion, quint64 writes) const
{
    return statement != m_query.statement || dataVersion != m_dataVersion || writes != m_writes;
}

void Keyset::read(sqlite3* db, const KeysetQuery& query)
{
    KeysetRows rows = readKeysetRows(db, query.statement, query.field >= 0, query.secondReader);
    Column column;
    column.field = query.field;
    column.texts = std::move(rows.texts);
    column.isNull = std::move(rows.isNull);
    if (query.fieldInItsOrder) {
        AscendingKeys ascending = ascendingOrder(rows.keys);
        m_keys.assign(std::move(ascending.keys), query.keysAscend);
        column.slotOfPosition = std::move(ascending.fromSlots);
        column.rowids = std::move(rows.keys);
    } else {
        m_keys.assign(std::move(rows.keys), query.keysAscend);
    }
    m_column = std::move(column);
    m_query = query;
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
    m_query = {};
    m_dataVersion = -1;
}

// Only a set current up to the write before can be current after it.
void Keyset::follow(quint64 write, bool asARead)
{
    if (asARead && m_writes + 1 == write)
        m_writes = write;
}

// Whatever a statement selects, and in whatever order, a read after a removal gives the rest in the same order.
// Positions shift, so the column's slots no longer match them.
void Keyset::removeAt(qint64 position, quint64 write, bool recordAlone)
{
    m_keys.removeAt(position);
    dropColumn();
    follow(write, recordAlone);
}

// A new record's rowid is past every other while the table has room above them; a read of a set with a filter would
// hold it only when its values match.
void Keyset::append(qint64 key, quint64 write, bool recordAlone)
{
    const bool inItsPlace = m_query.everyRecord && (size() == 0 || key > m_keys.last());
    m_keys.append(key);
    dropColumn();
    follow(write, recordAlone && inItsPlace);
}

// Values change, so the column read with the set may no longer hold them.
void Keyset::noteChanged(quint64 write, bool recordAlone)
{
    dropColumn();
    follow(write, recordAlone && m_query.everyRecord);
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
        LargeVector<qint64> rowids;
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
