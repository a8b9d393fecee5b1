#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

struct sqlite3;

namespace kestrella {

// A connection to a data file, read-write, set up as every connection of the store is (durability, busy timeout).
sqlite3* openReadWrite(const QByteArray& path);

// The store's connection to its data file: a first run makes the file owner-only, a file cut short is refused, a
// file made writable again is opened afresh.
class StoreFile
{
public:
    StoreFile() = default;
    ~StoreFile();
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    bool isOpenOn(const QString& path) const { return m_db && m_path == path; }
    sqlite3* db() const { return m_db; }
    // Lets go of any file held, then opens path; a missing or zero-byte file is made into an empty database
    // only when createIfMissing.
    void open(const QString& path, bool createIfMissing);
    void close();
    // Opens the file afresh when its connection can only read it; returns whether it did, so that statements of
    // the old connection are made again.
    bool reopenIfReadOnly();
    // Changes with every commit by another connection.
    qint64 dataVersion() const;

private:
    sqlite3* m_db = nullptr;
    QString m_path;
};

// Adds the indexes that keep lookups quick to a file that lacks them (one another tool made). At a million records
// that takes seconds, so it runs on a thread of its own, with a connection of its own, while the window thread goes
// on painting. Speed only: a file that cannot take them now (read-only, locked, cut short) opens without them, and no
// one waits for a lock to get them.
class IndexBuild
{
public:
    // Null when there is nothing to build or the file cannot take the indexes now.
    static std::unique_ptr<IndexBuild> forFile(const QString& path);
    ~IndexBuild();
    IndexBuild(const IndexBuild&) = delete;
    IndexBuild& operator=(const IndexBuild&) = delete;

    // Adds every index in one transaction; a failure or a stop leaves the file as it was and throws.
    void run();
    // From any thread: run() ends soon after, having written nothing.
    void stop() { m_stopped = true; }

private:
    explicit IndexBuild(sqlite3* db);

    sqlite3* m_db;
    std::atomic<bool> m_stopped = false;
};

} // namespace kestrella
