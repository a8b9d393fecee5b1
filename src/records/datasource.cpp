#include "records/datasource.h"

#include "records/program.h"
#include "records/sqlite.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextDocument>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace kestrella {
namespace {

constexpr qint64 PageSize = 256;
constexpr int BusyTimeoutMs = 2000;

struct ParsedSource
{
    QString table;
    QString tail; // what follows the table name, without the closing semicolon
};

// A record source is a table name or "select * from <table> ...".
ParsedSource parseRecordSource(const QString& source)
{
    static const QString identifier = QStringLiteral(R"((\[[^\]]*\]|[A-Za-z_][A-Za-z0-9_]*))");
    static const QRegularExpression selectAll(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+)") + identifier + QStringLiteral(R"((.*?)[\s;]*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tableOnly(QStringLiteral(R"(^\s*)") + identifier + QStringLiteral(R"(\s*;?\s*$)"));
    if (const auto m = selectAll.match(source); m.hasMatch())
        return {m.captured(1), m.captured(2)};
    if (const auto m = tableOnly.match(source); m.hasMatch())
        return {m.captured(1), QString()};
    throw StoreError(SQLITE_ERROR,
                     QStringLiteral("The record source is not a table or a select statement: %1").arg(source));
}

bool asksForAnOrder(const ParsedSource& source)
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return source.tail.contains(orderBy);
}

// The keyset asks the same statement for rowids, and for the one field a walk reads. Records keep the
// store's own order, the order they were stored in, unless the statement asks for another: an index
// that speeds a statement up never reorders them. The walk's field is read in its own order, without
// regard to case, so an index on it answers the whole statement without a pass over the table.
QString keysetStatement(const ParsedSource& source, const QString& prefetchedColumn)
{
    QString sql = QStringLiteral("select rowid");
    if (!prefetchedColumn.isEmpty())
        sql += QStringLiteral(", [%1]").arg(prefetchedColumn);
    sql += QStringLiteral(" from ") + source.table + source.tail;
    if (asksForAnOrder(source))
        return sql;
    if (prefetchedColumn.isEmpty())
        return sql + QStringLiteral(" order by rowid");
    return sql + QStringLiteral(" order by [%1] collate nocase, rowid").arg(prefetchedColumn);
}

qint64 dataVersion(sqlite3* db)
{
    SqliteStatement version(db, QStringLiteral("PRAGMA data_version"));
    return version.step() ? version.int64(0) : -1;
}

} // namespace

// Every connection of the store is set up alike. Durability: the rollback journal (DELETE mode) keeps a single file
// beside the program between writes, where WAL would leave two more. FULL syncs the journal and the file, but the
// commit itself is the journal's removal, and only EXTRA syncs the folder after it: without that a power cut just
// after Save returned could bring the journal back and roll the saved record away. A connection is only ever used by
// the thread that opened it, so SQLite need not lock it on every call (a tenth of the time of reading every name).
sqlite3* openReadWrite(const QByteArray& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const int code = db ? sqlite3_errcode(db) : SQLITE_CANTOPEN;
        const QString text =
            db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("unable to open database file");
        sqlite3_close_v2(db);
        throw StoreError(code, text);
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    try {
        execute(db, "PRAGMA synchronous=EXTRA");
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    return db;
}

namespace {

// SQLite reads the missing end of a file that was cut short as zeros: the file would open and show a record with its
// last bytes changed, and the next write would store them so. The header says how many pages the file holds; fewer
// bytes than that, or a page cut in two, and the file is refused before anything reads or writes it.
void refuseIfCutShort(sqlite3* db, const QByteArray& path)
{
    auto pragma = [db](const char* name) {
        SqliteStatement statement(db, QString::fromLatin1(name));
        return statement.step() ? statement.int64(0) : 0;
    };
    const qint64 pageSize = pragma("PRAGMA page_size");
    const qint64 pageCount = pragma("PRAGMA page_count"); // rolls back a journal a crash left first
    struct stat file
    {
    };
    if (::stat(path.constData(), &file) != 0 || pageSize <= 0)
        return;
    if (file.st_size % pageSize != 0 || file.st_size < pageSize * pageCount)
        throw StoreError(SQLITE_CORRUPT, QStringLiteral("database disk image is malformed"));
}

StoreError notOpen()
{
    return StoreError(SQLITE_MISUSE, QStringLiteral("The record set is not open."));
}

// Resets a statement when a read ends, however it ends, so no read lock outlives the call.
struct ResetOnExit
{
    SqliteStatement& statement;
    ~ResetOnExit() { statement.reset(); }
};

} // namespace

// ---- Field -------------------------------------------------------------------------------------

FieldValue Field::value() const
{
    return m_source->value(m_index);
}

void Field::setValue(const FieldValue& value)
{
    m_source->setValue(m_index, value);
}

// ---- Recordset ---------------------------------------------------------------------------------

void Recordset::addNew()
{
    auto& s = m_source;
    if (!s.m_open)
        throw notOpen();
    s.reopenIfReadOnly();
    s.storePending();
    s.m_adding = true;
    s.m_written.clear();
    s.showCurrent();
}

void Recordset::deleteCurrent()
{
    auto& s = m_source;
    if (!s.m_open)
        throw notOpen();
    if (s.m_adding) {
        s.dropPending();
        s.showCurrent();
        return;
    }
    const auto key = s.currentKey();
    if (!key)
        throw s.m_currentDeleted ? StoreError::recordDeleted() : StoreError::noCurrentRecord();
    s.reopenIfReadOnly();
    SqliteStatement remove(s.m_db, QStringLiteral("delete from %1 where rowid = ?1").arg(s.m_table));
    remove.bind(1, *key);
    remove.step();
    ++s.m_writes;
    s.m_keys.erase(s.m_keys.begin() + s.m_position);
    s.m_currentDeleted = true;
    s.m_written.clear();
    s.invalidateCaches();
    s.showCurrent();
}

void Recordset::moveFirst()
{
    m_source.moveToEnd(false);
}

void Recordset::moveLast()
{
    m_source.moveToEnd(true);
}

void Recordset::moveNext()
{
    auto& s = m_source;
    if (!s.m_open)
        throw notOpen();
    s.storePending();
    if (s.m_currentDeleted) {
        s.moveTo(s.m_position);
        return;
    }
    if (s.m_position >= qint64(s.m_keys.size()))
        throw StoreError::noCurrentRecord();
    s.moveTo(s.m_position + 1);
}

qint64 Recordset::recordCount() const
{
    if (!m_source.m_open)
        throw notOpen();
    return qint64(m_source.m_keys.size());
}

Bookmark Recordset::bookmark() const
{
    if (!m_source.m_open)
        throw notOpen();
    const auto key = m_source.currentKey();
    if (!key)
        throw StoreError::noCurrentRecord();
    return *key;
}

void Recordset::setBookmark(Bookmark bookmark)
{
    auto& s = m_source;
    if (!s.m_open)
        throw notOpen();
    s.storePending();
    const auto it = std::find(s.m_keys.begin(), s.m_keys.end(), bookmark);
    if (it == s.m_keys.end())
        throw StoreError(SQLITE_NOTFOUND, QStringLiteral("Not a valid bookmark."));
    s.moveTo(it - s.m_keys.begin());
}

Field Recordset::fields(const QString& name)
{
    return Field(m_source, m_source.fieldIndex(name));
}

void Recordset::update()
{
    if (!m_source.m_open)
        throw notOpen();
    m_source.storePending();
}

void Recordset::update(const std::vector<std::pair<QString, FieldValue>>& writes)
{
    if (!m_source.m_open)
        throw notOpen();
    const std::map<int, FieldValue> pendingBefore = m_source.m_written;
    try {
        for (const auto& [name, value] : writes)
            fields(name).setValue(value);
        m_source.storePending();
    } catch (...) {
        m_source.m_written = pendingBefore;
        throw;
    }
}

bool Recordset::isAdding() const
{
    return m_source.m_adding;
}

bool Recordset::hasCurrentRecord() const
{
    return m_source.m_open && (m_source.m_adding || m_source.currentKey().has_value());
}

bool Recordset::eof() const
{
    const auto& s = m_source;
    return s.m_open && !s.m_adding && !s.m_currentDeleted && s.m_position >= qint64(s.m_keys.size());
}

// ---- DataSource --------------------------------------------------------------------------------

DataSource::DataSource(QObject* parent)
    : QObject(parent)
    , m_recordSource(ProgramsTable)
    , m_requiredFields(ProgramFields::all())
{
}

DataSource::~DataSource()
{
    try {
        close();
    } catch (const std::exception&) {
        // Nothing can be reported from here; callers that care close explicitly first.
    }
    m_columns.clear();
    m_rowStatement.reset();
    sqlite3_close_v2(m_db);
}

void DataSource::setDatabaseName(const QString& path)
{
    m_databaseName = path;
}

void DataSource::setRecordSource(const QString& source)
{
    m_recordSource = source;
}

bool DataSource::isOpen() const
{
    return m_open;
}

void DataSource::openIfNeeded()
{
    if (m_db && m_openedName == m_databaseName)
        return;
    m_columns.clear();
    m_rowStatement.reset();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_open = false;
    m_table.clear();
    if (m_databaseName.isEmpty())
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("No database file is set."));

    const QByteArray path = QFile::encodeName(m_databaseName);
    const QFileInfo info(m_databaseName);
    const bool fresh = !info.exists() || (info.isFile() && info.size() == 0);
    if (fresh && !m_createIfMissing)
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("unable to open database file: %1 is missing or empty")
                                              .arg(QDir::toNativeSeparators(m_databaseName)));
    if (!info.exists()) {
        // Owner-only from the first byte: the file holds passwords in clear.
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            throw StoreError(
                SQLITE_CANTOPEN,
                QStringLiteral("unable to create database file: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        ::close(fd);
    } else if (fresh) {
        ::chmod(path.constData(), 0600);
    }

    sqlite3* db = openReadWrite(path);
    try {
        if (fresh) {
            execute(db, "BEGIN IMMEDIATE");
            execute(db, programsTableSchema().toUtf8().constData());
            for (const QString& index : programsIndexes())
                execute(db, index.toUtf8().constData());
            execute(db, "COMMIT");
        } else {
            refuseIfCutShort(db, path);
        }
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    m_db = db;
    m_openedName = m_databaseName;
    m_indexesChecked = fresh;
}

// A file that could only be opened for reading stays read-only to its connection after its permissions change: a
// write opens it afresh, so a file made writable again takes the user's next Save without a restart.
void DataSource::reopenIfReadOnly()
{
    if (sqlite3_db_readonly(m_db, "main") != 1)
        return;
    sqlite3* db = openReadWrite(QFile::encodeName(m_openedName));
    if (sqlite3_db_readonly(db, "main") == 1) {
        sqlite3_close_v2(db);
        throw StoreError(SQLITE_READONLY, QStringLiteral("attempt to write a readonly database"));
    }
    m_columns.clear();
    m_rowStatement.reset();
    sqlite3_close_v2(m_db);
    m_db = db;
    m_rowKey.reset();
    m_keysetDataVersion = -1; // a count of the old connection's
    m_indexesChecked = false;
    prepareRowStatements(m_table);
}

void DataSource::addMissingIndexes()
{
    m_indexesChecked = true;
    if (sqlite3_db_readonly(m_db, "main") == 1)
        return;
    // Speed only: a file that cannot take them now (locked, read-only) works without them, and no one
    // waits for a lock to get them.
    sqlite3_busy_timeout(m_db, 0);
    for (const QString& index : programsIndexes()) {
        resumeNext([&] { execute(m_db, index.toUtf8().constData()); });
    }
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
}

void DataSource::prepareRowStatements(const QString& table)
{
    if (table == m_table && m_rowStatement)
        return;
    auto row =
        std::make_unique<SqliteStatement>(m_db, QStringLiteral("select rowid, * from %1 where rowid = ?1").arg(table));
    QStringList fields;
    for (int c = 1; c < row->columnCount(); ++c)
        fields << row->columnName(c);
    for (const QString& required : m_requiredFields) {
        if (!fields.contains(required, Qt::CaseInsensitive))
            throw StoreError(SQLITE_ERROR, QStringLiteral("no such column: %1").arg(required));
    }
    m_rowStatement = std::move(row);
    m_columns.clear();
    m_columns.resize(size_t(fields.size()));
    m_fields = fields;
    m_table = table;
}

void DataSource::refresh()
{
    storePending();
    openIfNeeded();
    const ParsedSource parsed = parseRecordSource(m_recordSource);
    prepareRowStatements(parsed.table);
    const int prefetched = m_prefetchedField.isEmpty() ? -1 : int(m_fields.indexOf(m_prefetchedField));
    const QString sql = keysetStatement(parsed, prefetched < 0 ? QString() : m_fields.at(prefetched));
    // Reading the set again when nothing can have changed it (same statement, no write here or by
    // anyone else since) would only cost a walk over the whole file.
    const qint64 version = dataVersion(m_db);
    const bool prefetchedGone = prefetched >= 0 && m_prefetched.field != prefetched;
    if (!m_open || sql != m_keysetSql || version != m_keysetDataVersion || m_writes != m_keysetWrites || prefetchedGone)
        readKeyset(sql, prefetched, prefetched >= 0 && !asksForAnOrder(parsed));
    m_keysetDataVersion = version;
    m_keysetWrites = m_writes;
    m_open = true;
    m_position = 0;
    m_currentDeleted = false;
    m_adding = false;
    m_written.clear();
    invalidateCaches();
    showCurrent();
    if (!m_indexesChecked)
        addMissingIndexes();
}

namespace {

// The positions of keys in ascending order: what a sort would give, in one pass over a table when the keys lie close
// together (rowids mostly do: the table's own ids, with a few gaps where records were deleted).
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

void DataSource::readKeyset(const QString& sql, int prefetchedField, bool inFieldOrder)
{
    std::vector<qint64> keys;
    PrefetchedColumn column;
    column.field = prefetchedField;
    {
        SqliteStatement keyset(m_db, sql);
        ResetOnExit guard{keyset};
        while (keyset.step()) {
            keys.push_back(keyset.int64(0));
            if (prefetchedField >= 0)
                column.append(keyset.handle());
        }
    }
    if (inFieldOrder) {
        // The records themselves keep the store's order: rowid order.
        column.slotOfPosition = ascendingOrder(keys);
        std::vector<qint64> ordered(keys.size());
        for (size_t p = 0; p < keys.size(); ++p)
            ordered[p] = keys[column.slotOfPosition[p]];
        column.rowids = std::move(keys);
        keys = std::move(ordered);
    }
    m_keys = std::move(keys);
    m_prefetched = std::move(column);
    m_keysetSql = sql;
}

std::optional<PackedTexts> Recordset::takePrefetchedInListOrder()
{
    DataSource::PrefetchedColumn column = std::move(m_source.m_prefetched); // the list holds the names from now on
    m_source.m_prefetched = {};
    if (!m_source.m_open || column.field < 0 || column.rowids.size() != m_source.m_keys.size() ||
        column.slotOfPosition.size() != m_source.m_keys.size())
        return std::nullopt;
    if (std::find(column.isNull.begin(), column.isNull.end(), true) != column.isNull.end()) {
        PackedTexts values;
        std::vector<qint64> rowids;
        for (qsizetype slot = 0; slot < column.texts.size(); ++slot) {
            if (!column.isNull[size_t(slot)]) {
                values.append(column.texts.utf8At(slot));
                rowids.push_back(column.rowids[size_t(slot)]);
            }
        }
        column.texts = std::move(values);
        column.rowids = std::move(rowids);
    }
    // The database folds case for ASCII only and knows no language; where its order and the list's differ, the
    // list's wins, equal values keeping the store's order.
    return inListOrder(std::move(column.texts), column.rowids);
}

void DataSource::PrefetchedColumn::append(sqlite3_stmt* statement)
{
    const bool null = sqlite3_column_type(statement, 1) == SQLITE_NULL;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    texts.append(QByteArrayView(text, null ? 0 : sqlite3_column_bytes(statement, 1)));
    isNull.push_back(null);
}

FieldValue DataSource::PrefetchedColumn::valueAt(qint64 position) const
{
    return value(slotOfPosition.empty() ? position : qint64(slotOfPosition[size_t(position)]));
}

FieldValue DataSource::PrefetchedColumn::value(qint64 slot) const
{
    if (isNull[size_t(slot)])
        return std::nullopt;
    return texts.at(slot);
}

void DataSource::updateControls()
{
    m_written.clear();
    m_typed = false;
    showCurrent();
}

void DataSource::close()
{
    if (!m_open)
        return;
    storePending();
    m_open = false;
    m_keys.clear();
    m_columns.clear();
    m_rowStatement.reset();
    m_table.clear();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_openedName.clear();
}

int DataSource::fieldIndex(const QString& name) const
{
    // Field names match without regard to case, as the original file format had it.
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    throw StoreError(SQLITE_ERROR, QStringLiteral("Item not found in this collection: %1").arg(name));
}

std::optional<qint64> DataSource::currentKey() const
{
    if (!m_open || m_adding || m_currentDeleted || m_position >= qint64(m_keys.size()))
        return std::nullopt;
    return m_keys[size_t(m_position)];
}

void DataSource::invalidateCaches()
{
    // Positions shift or values change after a write here: the walk's column is read afresh.
    if (m_writes != m_keysetWrites)
        m_prefetched = PrefetchedColumn();
    for (ColumnPage& page : m_columns)
        page.start = -1;
    m_rowKey.reset();
}

bool DataSource::loadRow(qint64 key)
{
    if (m_rowKey == key)
        return !m_row.empty();
    SqliteStatement& st = *m_rowStatement;
    ResetOnExit guard{st};
    st.bind(1, key);
    m_row.clear();
    if (st.step()) {
        m_row.resize(size_t(m_fields.size()));
        for (int f = 0; f < m_fields.size(); ++f)
            m_row[size_t(f)] = st.text(f + 1);
    }
    m_rowKey = key;
    return !m_row.empty();
}

FieldValue DataSource::pagedValue(qint64 position, int field)
{
    if (field == m_prefetched.field)
        return m_prefetched.valueAt(position);
    ColumnPage& page = m_columns[size_t(field)];
    if (page.start < 0 || position < page.start || position >= page.start + qint64(page.values.size())) {
        const qint64 start = position - position % PageSize;
        const qint64 length = std::min(PageSize, qint64(m_keys.size()) - start);
        const qint64* keys = m_keys.data() + start;
        const QString column = QStringLiteral("[%1]").arg(m_fields.at(field));
        page.start = -1;
        page.values.assign(size_t(length), std::nullopt);
        page.present.assign(size_t(length), false);
        bool contiguous = keys[length - 1] - keys[0] == length - 1;
        for (qint64 i = 1; contiguous && i < length; ++i)
            contiguous = keys[i] == keys[i - 1] + 1;
        if (contiguous) {
            if (!page.range)
                page.range = std::make_unique<SqliteStatement>(
                    m_db,
                    QStringLiteral("select rowid, %1 from %2 where rowid between ?1 and ?2").arg(column, m_table));
            SqliteStatement& st = *page.range;
            ResetOnExit guard{st};
            st.bind(1, keys[0]);
            st.bind(2, keys[length - 1]);
            while (st.step()) {
                const size_t i = size_t(st.int64(0) - keys[0]);
                page.values[i] = st.text(1);
                page.present[i] = true;
            }
        } else {
            if (!page.list) {
                QStringList placeholders;
                for (int i = 1; i <= PageSize; ++i)
                    placeholders << QStringLiteral("?%1").arg(i);
                page.list = std::make_unique<SqliteStatement>(
                    m_db, QStringLiteral("select rowid, %1 from %2 where rowid in (%3)")
                              .arg(column, m_table, placeholders.join(QLatin1Char(','))));
            }
            SqliteStatement& st = *page.list;
            ResetOnExit guard{st};
            std::unordered_map<qint64, size_t> slot;
            for (qint64 i = 0; i < PageSize; ++i) {
                st.bind(int(i + 1), keys[i < length ? i : 0]);
                if (i < length)
                    slot.emplace(keys[i], size_t(i));
            }
            while (st.step()) {
                const size_t i = slot.at(st.int64(0));
                page.values[i] = st.text(1);
                page.present[i] = true;
            }
        }
        page.start = start;
    }
    const size_t i = size_t(position - page.start);
    if (!page.present[i])
        throw StoreError::recordDeleted();
    return page.values[i];
}

FieldValue DataSource::storedValue(int field)
{
    if (m_adding)
        return std::nullopt;
    const auto key = currentKey();
    if (!key)
        throw m_currentDeleted ? StoreError::recordDeleted() : StoreError::noCurrentRecord();
    if (m_rowKey == key) {
        if (m_row.empty())
            throw StoreError::recordDeleted();
        return m_row[size_t(field)];
    }
    return pagedValue(m_position, field);
}

FieldValue DataSource::value(int field)
{
    if (!m_open)
        throw notOpen();
    if (const auto it = m_written.find(field); it != m_written.end()) {
        if (m_adding || currentKey())
            return it->second;
    }
    return storedValue(field);
}

void DataSource::setValue(int field, const FieldValue& value)
{
    if (!m_open)
        throw notOpen();
    if (!m_adding && !currentKey())
        throw m_currentDeleted ? StoreError::recordDeleted() : StoreError::noCurrentRecord();
    m_written[field] = value;
}

bool DataSource::hasPendingChanges() const
{
    if (m_adding || !m_written.empty())
        return true;
    if (!m_typed)
        return false;
    for (const Binding& b : m_bindings) {
        if (b.widget && b.text() != b.shown)
            return true;
    }
    return false;
}

void DataSource::storePending()
{
    if (!m_open || !hasPendingChanges()) {
        m_typed = false;
        return;
    }
    std::map<int, FieldValue> values = m_written;
    // Typed text belongs to the record the fields show, and wins over values the program wrote.
    const bool typedBelongsHere = m_adding ? m_showingNew : (m_shownKey && m_shownKey == currentKey());
    if (typedBelongsHere) {
        for (const Binding& b : m_bindings) {
            if (b.widget && b.text() != b.shown)
                values[fieldIndex(b.field)] = b.text();
        }
    }
    if (!m_adding && !currentKey()) {
        dropPending();
        return;
    }
    writeRow(values);
    dropPending();
    showCurrent();
}

void DataSource::writeRow(const std::map<int, FieldValue>& values)
{
    std::optional<qint64> insertedKey;
    reopenIfReadOnly();
    execute(m_db, "BEGIN IMMEDIATE");
    try {
        if (m_adding) {
            QStringList columns, params;
            for (const auto& [field, value] : values) {
                columns << QStringLiteral("[%1]").arg(m_fields.at(field));
                params << QStringLiteral("?%1").arg(params.size() + 1);
            }
            SqliteStatement insert(m_db, columns.isEmpty()
                                             ? QStringLiteral("insert into %1 default values").arg(m_table)
                                             : QStringLiteral("insert into %1 (%2) values (%3)")
                                                   .arg(m_table, columns.join(','), params.join(',')));
            int i = 1;
            for (const auto& [field, value] : values)
                insert.bind(i++, value);
            insert.step();
            insertedKey = sqlite3_last_insert_rowid(m_db);
        } else if (!values.empty()) {
            QStringList assignments;
            for (const auto& [field, value] : values)
                assignments << QStringLiteral("[%1] = ?%2").arg(m_fields.at(field)).arg(assignments.size() + 1);
            SqliteStatement update(m_db, QStringLiteral("update %1 set %2 where rowid = ?%3")
                                             .arg(m_table, assignments.join(','))
                                             .arg(assignments.size() + 1));
            int i = 1;
            for (const auto& [field, value] : values)
                update.bind(i++, value);
            update.bind(i, *currentKey());
            update.step();
            if (sqlite3_changes(m_db) != 1)
                throw StoreError::recordDeleted();
        }
        execute(m_db, "COMMIT");
        ++m_writes;
    } catch (...) {
        if (sqlite3_get_autocommit(m_db) == 0)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (insertedKey) {
        m_keys.push_back(*insertedKey);
        m_adding = false;
        m_position = qint64(m_keys.size()) - 1;
        m_currentDeleted = false;
    }
    invalidateCaches();
}

void DataSource::dropPending()
{
    m_adding = false;
    m_written.clear();
    m_typed = false;
}

void DataSource::moveToEnd(bool last)
{
    if (!m_open)
        throw notOpen();
    storePending();
    if (m_keys.empty())
        throw StoreError::noCurrentRecord();
    moveTo(last ? qint64(m_keys.size()) - 1 : 0);
}

void DataSource::moveTo(qint64 position)
{
    storePending();
    m_position = position;
    m_currentDeleted = false;
    showCurrent();
}

void DataSource::showCurrent() noexcept
{
    if (m_freezeDepth > 0 || m_bindings.empty())
        return;
    std::vector<QString> texts(m_bindings.size());
    std::optional<qint64> shownKey;
    if (!m_adding && currentKey()) {
        try {
            loadRow(*currentKey());
            for (size_t i = 0; i < m_bindings.size(); ++i)
                texts[i] = storedValue(fieldIndex(m_bindings[i].field)).value_or(QString());
            shownKey = currentKey();
        } catch (const std::exception&) {
            texts.assign(m_bindings.size(), QString());
        }
    }
    m_loadingBindings = true;
    for (size_t i = 0; i < m_bindings.size(); ++i) {
        Binding& b = m_bindings[i];
        if (!b.widget)
            continue;
        if (b.text() != texts[i])
            b.setText(texts[i]);
        b.shown = b.text(); // as the box holds it, which may differ in line breaks
    }
    m_loadingBindings = false;
    m_typed = false;
    m_shownKey = shownKey;
    m_showingNew = m_adding;
}

void DataSource::markTyped()
{
    if (!m_loadingBindings)
        m_typed = true;
}

void DataSource::addBinding(QObject* widget, const QString& field, std::function<QString()> text,
                            std::function<void(const QString&)> setText)
{
    m_bindings.push_back({widget, field, std::move(text), std::move(setText), QString()});
    m_bindings.back().shown = m_bindings.back().text();
}

void DataSource::bind(QLineEdit* box, const QString& field)
{
    box->setMaxLength(INT_MAX); // never cut a stored value on display and write it back shorter
    addBinding(
        box, field, [box] { return box->text(); },
        [box](const QString& t) {
            box->setText(t);
            box->home(false); // show a long value from its start
        });
    connect(box, &QLineEdit::textChanged, this, &DataSource::markTyped);
}

void DataSource::bind(QPlainTextEdit* box, const QString& field)
{
    // toPlainText would turn no-break spaces into blanks and line separators into line feeds, and store them so: the
    // raw text keeps every character, and only the breaks between its lines become line feeds.
    addBinding(
        box, field,
        [box] { return box->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')); },
        [box](const QString& t) { box->setPlainText(t); });
    connect(box, &QPlainTextEdit::textChanged, this, &DataSource::markTyped);
}

DataSource::DisplayFreeze::DisplayFreeze(DataSource& source)
    : m_source(source)
{
    ++m_source.m_freezeDepth;
}

DataSource::DisplayFreeze::~DisplayFreeze()
{
    if (--m_source.m_freezeDepth == 0)
        m_source.showCurrent();
}

} // namespace kestrella
