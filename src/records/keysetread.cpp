#include "records/keysetread.h"

#include "records/sqlite.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace kestrella {
namespace {

// A set shorter than this is read by one connection: a second would cost more to open than it saves.
constexpr qsizetype SecondReaderFrom = qsizetype(1) << 15;
// Room for the rowids of any set that fits in memory: untouched, it costs address space only, and the rowids of a
// million records are not copied over and over as they grow.
constexpr size_t RowidsRoom = size_t(1) << 26;
// How often each reader tells the other how far it has come.
constexpr int NoticeEvery = 512;

// A text row's place in the order "field collate nocase, rowid".
struct TextKey
{
    QByteArray text;
    qint64 rowid = 0;
};

// SQLite's own NOCASE collation (ASCII case folded, then bytes, then length), then the rowid.
int compareNocase(QByteArrayView a, qint64 aRowid, const TextKey& b)
{
    const qsizetype common = std::min(a.size(), b.text.size());
    int order = sqlite3_strnicmp(a.data(), b.text.constData(), int(common));
    if (order == 0)
        order = int(a.size() - b.text.size());
    if (order == 0)
        order = aRowid < b.rowid ? -1 : (aRowid > b.rowid ? 1 : 0);
    return order;
}

// SQLite orders NULL, then numbers, then text, then blobs; the far reader only ever reaches text.
bool atOrAfter(int storageClass, QByteArrayView text, qint64 rowid, const TextKey& key)
{
    if (storageClass != SQLITE_TEXT)
        return storageClass == SQLITE_BLOB;
    return compareNocase(text, rowid, key) >= 0;
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

// Reads from the far end on a thread and connection of its own, until told to stop. It gives up, and its rows count
// for nothing, on any failure: a lock it would have to wait for (the near reader holds its own read open, so a writer
// waiting for that could never let this one in), or a value that is not text.
class FarEndReader
{
public:
    FarEndReader(const char* path, const QString& statement)
        : m_thread([this, file = QByteArray(path), statement] { run(file, statement); })
    {
    }
    ~FarEndReader()
    {
        if (m_thread.joinable())
            finish();
    }
    FarEndReader(const FarEndReader&) = delete;
    FarEndReader& operator=(const FarEndReader&) = delete;

    // The last row it has told of: every row from there to the far end is read.
    std::optional<TextKey> reached() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reached;
    }
    // Stops it; its rows from the far end inwards, or nothing when it gave up.
    std::optional<KeysetRows> finish()
    {
        m_stop = true;
        m_thread.join();
        if (m_failed)
            return std::nullopt;
        return std::move(m_rows);
    }

private:
    void run(const QByteArray& path, const QString& statement)
    {
        sqlite3* db = nullptr;
        try {
            if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
                SQLITE_OK)
                throwSqliteError(db);
            execute(db, "PRAGMA cache_size=-256");
            SqliteStatement rows(db, statement);
            ResetOnExit guard{rows};
            m_rows.keys.reserve(RowidsRoom);
            while (!m_stop && rows.step()) {
                if (sqlite3_column_type(rows.handle(), 1) != SQLITE_TEXT) {
                    m_failed = true;
                    break;
                }
                bool isNull = false;
                const QByteArrayView text = fieldText(db, rows.handle(), isNull);
                m_rows.keys.push_back(rows.int64(0));
                m_rows.texts.append(text);
                m_rows.isNull.push_back(false);
                if (m_rows.keys.size() % NoticeEvery == 0)
                    tellReached(text);
            }
            if (!m_failed && !m_rows.keys.empty())
                tellReached(m_rows.texts.utf8At(m_rows.texts.size() - 1));
        } catch (...) {
            m_failed = true;
        }
        if (m_failed)
            m_rows = {};
        sqlite3_close_v2(db);
    }
    void tellReached(QByteArrayView text)
    {
        const std::lock_guard lock(m_mutex);
        m_reached = TextKey{text.toByteArray(), m_rows.keys.back()};
    }

    mutable std::mutex m_mutex;
    std::optional<TextKey> m_reached;
    std::atomic<bool> m_stop = false;
    bool m_failed = false; // written by the reader, read after joining it
    KeysetRows m_rows;
    std::thread m_thread;
};

// The far reader's rows that the near one also read (the far rows come in descending order, so those are its last),
// dropped; the rest appended in ascending order.
void appendFarRows(KeysetRows& near, int lastNearClass, KeysetRows far)
{
    qsizetype count = qsizetype(far.keys.size());
    if (!near.keys.empty()) {
        const TextKey lastNear{near.texts.utf8At(near.texts.size() - 1).toByteArray(), near.keys.back()};
        // Text is all the far reader holds: after a NULL or a number every one of its rows comes later.
        while (count > 0 && lastNearClass == SQLITE_TEXT &&
               compareNocase(far.texts.utf8At(count - 1), far.keys[size_t(count - 1)], lastNear) <= 0)
            --count;
    }
    for (qsizetype i = count - 1; i >= 0; --i) {
        near.keys.push_back(far.keys[size_t(i)]);
        near.texts.append(far.texts.utf8At(i));
        near.isNull.push_back(false);
    }
}

} // namespace

KeysetRows readKeysetRows(sqlite3* db, const QString& statement, bool withField, const QString& fromTheEnd)
{
    KeysetRows rows;
    SqliteStatement near(db, statement);
    ResetOnExit guard{near}; // held open until the far reader is done: no one can write meanwhile
    std::optional<FarEndReader> far;
    std::optional<TextKey> farReached;
    int lastClass = SQLITE_NULL;
    const char* path = withField && !fromTheEnd.isEmpty() ? sqlite3_db_filename(db, "main") : nullptr;
    while (near.step()) {
        const qint64 rowid = near.int64(0);
        if (!withField) {
            rows.keys.push_back(rowid);
            continue;
        }
        bool isNull = false;
        const QByteArrayView text = fieldText(db, near.handle(), isNull);
        if (far) {
            const int storageClass = sqlite3_column_type(near.handle(), 1);
            if (farReached && atOrAfter(storageClass, text, rowid, *farReached)) {
                if (auto farRows = far->finish()) {
                    appendFarRows(rows, lastClass, std::move(*farRows));
                    return rows;
                }
                far.reset(); // it gave up: this reader goes on to the end alone
                farReached.reset();
            }
            lastClass = storageClass;
            if (rows.keys.size() % NoticeEvery == 0)
                farReached = far->reached();
        } else if (path && *path && qsizetype(rows.keys.size()) == SecondReaderFrom) {
            far.emplace(path, fromTheEnd);
            rows.keys.reserve(RowidsRoom);
        }
        rows.keys.push_back(rowid);
        rows.texts.append(text);
        rows.isNull.push_back(isNull);
    }
    return rows;
}

} // namespace kestrella
