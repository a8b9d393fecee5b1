#include "records/keysetread.h"

#include "records/sqlite.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

namespace kestrella {
namespace {

// A set shorter than this is read by one connection: a second would cost more to open than it saves.
constexpr qsizetype SecondReaderFrom = qsizetype(1) << 15;
// Records looked at to find a value that parts what is left of the set in two.
constexpr int Samples = 64;
// Room for the rowids of any set that fits in memory: untouched, it costs address space only, and the rowids of a
// million records are not copied over and over as they grow.
constexpr size_t RowidsRoom = size_t(1) << 26;

// SQLite's own NOCASE collation: ASCII case folded, then bytes, then length.
int compareNocase(QByteArrayView a, QByteArrayView b)
{
    const int order = sqlite3_strnicmp(a.data(), b.data(), int(std::min(a.size(), b.size())));
    return order != 0 ? order : int(std::clamp<qsizetype>(a.size() - b.size(), -1, 1));
}

QByteArrayView fieldText(sqlite3* db, sqlite3_stmt* statement, bool& isNull)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    isNull = !text && sqlite3_column_type(statement, 1) == SQLITE_NULL;
    // Only a NULL has no text, or a value SQLite ran out of memory converting.
    if (!text && !isNull)
        throwSqliteError(db);
    return {text, isNull ? 0 : sqlite3_column_bytes(statement, 1)};
}

void appendRow(KeysetRows& rows, sqlite3* db, sqlite3_stmt* statement, bool withField)
{
    rows.keys.push_back(sqlite3_column_int64(statement, 0));
    if (!withField)
        return;
    bool isNull = false;
    rows.texts.append(fieldText(db, statement, isNull));
    rows.isNull.push_back(isNull);
}

// Where the second half of a set begins, and about how many records it holds.
struct Split
{
    QByteArray from;
    qsizetype expectedRows;
};

// A value of the field that parts the records after `current` about in half, from records spread over the rowids;
// none when too few of them come after it.
std::optional<Split> middleValueAfter(sqlite3* db, const SecondReader& second, QByteArrayView current)
{
    SqliteStatement range(db, second.rowidRange);
    if (!range.step())
        return std::nullopt;
    const qint64 low = range.int64(0);
    const quint64 span = quint64(range.int64(1)) - quint64(low);
    SqliteStatement valueAt(db, second.valueAt);
    std::vector<QByteArray> after;
    for (int k = 1; k < Samples; ++k) {
        valueAt.bind(1, qint64(quint64(low) + span / Samples * quint64(k)));
        if (valueAt.step() && sqlite3_column_type(valueAt.handle(), 0) == SQLITE_TEXT) {
            const QByteArrayView value(reinterpret_cast<const char*>(sqlite3_column_text(valueAt.handle(), 0)),
                                       sqlite3_column_bytes(valueAt.handle(), 0));
            if (compareNocase(value, current) > 0)
                after.push_back(value.toByteArray());
        }
        valueAt.reset();
    }
    if (after.size() < 2)
        return std::nullopt;
    const auto middle = after.begin() + qsizetype(after.size() / 2);
    std::nth_element(after.begin(), middle, after.end(),
                     [](const QByteArray& a, const QByteArray& b) { return compareNocase(a, b) < 0; });
    const double share = double(after.size() - after.size() / 2) / (Samples - 1);
    return Split{*middle, qsizetype(share * (double(span) + 1))};
}

// Reads the records from a value of the field on, on a thread and connection of its own. It gives up, and its rows
// count for nothing, on any failure; above all on a lock it would have to wait for: the first reader holds its own
// read open, so a writer waiting for that could never let this one in.
class SecondHalfReader
{
public:
    SecondHalfReader(const char* path, const QString& statement, Split split)
        : m_thread(
              [this, file = QByteArray(path), statement, split = std::move(split)] { run(file, statement, split); })
    {
    }
    ~SecondHalfReader()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    SecondHalfReader(const SecondHalfReader&) = delete;
    SecondHalfReader& operator=(const SecondHalfReader&) = delete;

    // Its rows once it has read them all, or nothing when it gave up.
    std::optional<KeysetRows> finish()
    {
        m_thread.join();
        m_thread = {};
        if (m_failed)
            return std::nullopt;
        return std::move(m_rows);
    }

private:
    void run(const QByteArray& path, const QString& statement, const Split& split)
    {
        sqlite3* db = nullptr;
        try {
            if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
                SQLITE_OK)
                throwSqliteError(db);
            execute(db, "PRAGMA cache_size=-256");
            SqliteStatement rows(db, statement);
            ResetOnExit guard{rows};
            sqlite3_bind_text(rows.handle(), 1, split.from.constData(), int(split.from.size()), SQLITE_TRANSIENT);
            m_rows.keys.reserve(RowidsRoom);
            m_rows.texts.reserve(split.expectedRows, 0);
            while (!m_stop && rows.step())
                appendRow(m_rows, db, rows.handle(), true);
            m_failed = m_stop;
        } catch (...) {
            m_failed = true;
        }
        if (m_failed)
            m_rows = {};
        sqlite3_close_v2(db);
    }

    std::atomic<bool> m_stop = false;
    bool m_failed = false; // written by the reader, read after joining it
    KeysetRows m_rows;
    std::thread m_thread;
};

// Whether a row of the first reader belongs to the second, which reads the field's values from `from` on: SQLite
// orders NULL, then numbers, then text, then blobs.
bool reachesSecondHalf(sqlite3_stmt* statement, const QByteArray& from)
{
    switch (sqlite3_column_type(statement, 1)) {
    case SQLITE_TEXT:
        return compareNocase({reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                              sqlite3_column_bytes(statement, 1)},
                             from) >= 0;
    case SQLITE_BLOB:
        return true;
    default:
        return false;
    }
}

// A field of a type SQLite holds as text compares with a text value as text; another type could make a value that
// looks like a number compare as one.
bool comparesAsText(sqlite3_stmt* statement)
{
    const QByteArray type = QByteArray(sqlite3_column_decltype(statement, 1)).toUpper();
    return !type.contains("INT") && (type.contains("CHAR") || type.contains("CLOB") || type.contains("TEXT"));
}

// Two connections read the same file only while no one can commit between their reads: a reader holds writers off
// in the rollback journal's modes, not in write-ahead logging, which a file another tool made may use.
bool readersHoldOffWriters(sqlite3* db)
{
    SqliteStatement mode(db, QStringLiteral("PRAGMA journal_mode"));
    return mode.step() && mode.text(0).value_or(QString()).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0;
}

} // namespace

KeysetRows readKeysetRows(sqlite3* db, const QString& statement, bool withField, const SecondReader& second)
{
    KeysetRows rows;
    SqliteStatement first(db, statement);
    ResetOnExit guard{first}; // held open until the second reader is done: no one can write meanwhile
    std::optional<SecondHalfReader> secondHalf;
    QByteArray secondFrom;
    const char* path = withField && !second.fromValue.isEmpty() ? sqlite3_db_filename(db, "main") : nullptr;
    while (first.step()) {
        if (secondHalf && reachesSecondHalf(first.handle(), secondFrom)) {
            if (std::optional<KeysetRows> rest = secondHalf->finish()) {
                rows.keys.insert(rows.keys.end(), rest->keys.begin(), rest->keys.end());
                rows.texts.appendAll(std::move(rest->texts));
                rows.isNull.insert(rows.isNull.end(), rest->isNull.begin(), rest->isNull.end());
                return rows;
            }
            secondHalf.reset(); // it gave up: this reader goes on to the end alone
        } else if (path && *path && qsizetype(rows.keys.size()) == SecondReaderFrom &&
                   sqlite3_column_type(first.handle(), 1) == SQLITE_TEXT && comparesAsText(first.handle()) &&
                   readersHoldOffWriters(db)) {
            rows.keys.reserve(RowidsRoom);
            const QByteArrayView current(reinterpret_cast<const char*>(sqlite3_column_text(first.handle(), 1)),
                                         sqlite3_column_bytes(first.handle(), 1));
            if (auto split = middleValueAfter(db, second, current)) {
                secondFrom = split->from;
                secondHalf.emplace(path, second.fromValue, std::move(*split));
            }
            path = nullptr; // one try
        }
        appendRow(rows, db, first.handle(), withField);
    }
    return rows; // read to the end: whatever a second reader read is not wanted
}

} // namespace kestrella
