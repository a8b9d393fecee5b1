#include "records/storefile.h"

#include "records/program.h"
#include "records/sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrella {
namespace {

constexpr int BusyTimeoutMs = 2000;

qint64 pragmaValue(sqlite3* db, const char* pragma)
{
    SqliteStatement statement(db, QString::fromLatin1(pragma));
    return statement.step() ? statement.int64(0) : 0;
}

// SQLite reads the missing end of a file that was cut short as zeros: the file would open and show a record with its
// last bytes changed, and the next write would store them so. The header says how many pages the file holds; fewer
// bytes than that, or a page cut in two, and the file is refused before anything reads or writes it.
void refuseIfCutShort(sqlite3* db, const QByteArray& path)
{
    const qint64 pageSize = pragmaValue(db, "PRAGMA page_size");
    const qint64 pageCount = pragmaValue(db, "PRAGMA page_count"); // rolls back a journal a crash left first
    struct stat file
    {
    };
    if (::stat(path.constData(), &file) != 0 || pageSize <= 0)
        return;
    if (file.st_size % pageSize != 0 || file.st_size < pageSize * pageCount)
        throw StoreError(SQLITE_CORRUPT, QStringLiteral("database disk image is malformed"));
}

// Owner-only from the first byte: the file holds passwords in clear.
void createOwnerOnly(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw StoreError(
            SQLITE_CANTOPEN,
            QStringLiteral("unable to create database file: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    ::close(fd);
}

void createEmptyTable(sqlite3* db)
{
    execute(db, "BEGIN IMMEDIATE");
    execute(db, programsTableSchema().toUtf8().constData());
    for (const QString& index : programsIndexes())
        execute(db, index.toUtf8().constData());
    execute(db, "COMMIT");
}

} // namespace

// Every connection of the store is set up alike. Durability: the rollback journal (DELETE mode) keeps a single file
// beside the program between writes, where WAL would leave two more. FULL syncs the journal and the file, but the
// commit itself is the journal's removal, and only EXTRA syncs the folder after it: without that a power cut just
// after Save returned could bring the journal back and roll the saved record away. A connection is only ever used by
// one thread at a time (the index build hands its own to a worker and waits), so SQLite need not lock it on every call
// (a tenth of the time of reading every name). Its page cache is kept to 256 KiB, an eighth of SQLite's default:
// reading every name passes once over the names' index, and a larger cache would keep up to 2 MB of pages that pass
// never reads again, while a one-record change needs a few pages of each b-tree.
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
        execute(db, "PRAGMA cache_size=-256");
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    return db;
}

StoreFile::~StoreFile()
{
    close();
}

void StoreFile::open(const QString& path, bool createIfMissing)
{
    close();
    if (path.isEmpty())
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("No database file is set."));

    const QByteArray encoded = QFile::encodeName(path);
    const QFileInfo info(path);
    const bool fresh = !info.exists() || (info.isFile() && info.size() == 0);
    if (fresh && !createIfMissing)
        throw StoreError(
            SQLITE_CANTOPEN,
            QStringLiteral("unable to open database file: %1 is missing or empty").arg(QDir::toNativeSeparators(path)));
    if (!info.exists())
        createOwnerOnly(encoded);
    else if (fresh)
        ::chmod(encoded.constData(), 0600);

    sqlite3* db = openReadWrite(encoded);
    try {
        if (fresh)
            createEmptyTable(db);
        else
            refuseIfCutShort(db, encoded);
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    m_db = db;
    m_path = path;
}

void StoreFile::close()
{
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_path.clear();
}

// A file that could only be opened for reading stays read-only to its connection after its permissions change: a
// write opens it afresh, so a file made writable again takes the user's next Save without a restart.
bool StoreFile::reopenIfReadOnly()
{
    if (sqlite3_db_readonly(m_db, "main") != 1)
        return false;
    sqlite3* db = openReadWrite(QFile::encodeName(m_path));
    if (sqlite3_db_readonly(db, "main") == 1) {
        sqlite3_close_v2(db);
        throw StoreError(SQLITE_READONLY, QStringLiteral("attempt to write a readonly database"));
    }
    sqlite3_close_v2(m_db); // a zombie until the old connection's statements are finalised
    m_db = db;
    return true;
}

qint64 StoreFile::dataVersion() const
{
    SqliteStatement version(m_db, QStringLiteral("PRAGMA data_version"));
    return version.step() ? version.int64(0) : -1;
}

namespace {

bool lacksIndexes(sqlite3* db)
{
    SqliteStatement present(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?1"));
    for (const QString& name : programsIndexNames()) {
        present.bind(1, name);
        const bool found = present.step();
        present.reset();
        if (!found)
            return true;
    }
    return false;
}

} // namespace

std::unique_ptr<IndexBuild> IndexBuild::forFile(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sqlite3* db = openReadWrite(encoded);
    std::unique_ptr<IndexBuild> build(new IndexBuild(db));
    sqlite3_busy_timeout(db, 0);
    refuseIfCutShort(db, encoded);
    if (sqlite3_db_readonly(db, "main") == 1 || !lacksIndexes(db))
        return nullptr;
    return build;
}

// Checked between a few thousand steps of SQLite's machine, so a stop ends even the sort of a million names soon.
IndexBuild::IndexBuild(sqlite3* db)
    : m_db(db)
{
    sqlite3_progress_handler(
        m_db, 4096, [](void* stopped) { return int(static_cast<std::atomic<bool>*>(stopped)->load()); }, &m_stopped);
}

IndexBuild::~IndexBuild()
{
    sqlite3_close_v2(m_db);
}

void IndexBuild::run()
{
    execute(m_db, "BEGIN IMMEDIATE"); // at once, or not at all when another connection is writing
    // Once the file is ours, readers that hold it at the commit are waited for as by any write.
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    try {
        for (const QString& index : programsIndexes())
            execute(m_db, index.toUtf8().constData());
        if (m_stopped)
            throwSqliteError(SQLITE_INTERRUPT, QStringLiteral("interrupted"));
        execute(m_db, "COMMIT");
    } catch (...) {
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace kestrella
