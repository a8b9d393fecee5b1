#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

namespace kestrella {

// A connection to a data file, read-write, set up as every connection of the store is (durability, busy timeout).
sqlite3* openReadWrite(const QByteArray& path);

// The store's connection to its data file: a first run makes the file owner-only, a file cut short is refused, a
// file made writable again is opened afresh, and the indexes that keep lookups quick are added once.
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
    void addMissingIndexesOnce();
    // Changes with every commit by another connection.
    qint64 dataVersion() const;

private:
    sqlite3* m_db = nullptr;
    QString m_path;
    bool m_indexesChecked = false;
};

} // namespace kestrella
