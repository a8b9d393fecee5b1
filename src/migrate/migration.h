#pragma once

#include <QString>
#include <chrono>

namespace kestrella {

// Told how the copying goes, and asked whether the user wants to stop.
class MigrationObserver
{
public:
    virtual ~MigrationObserver() = default;
    // The Access table says it holds this many rows.
    virtual void started(qint64 total) = 0;
    virtual void copied(qint64 rows) = 0;
    // True stops the migration; everything stays as it was.
    virtual bool cancelRequested() = 0;
};

struct MigrationOptions
{
    // The reader of Access files, run as a process of its own.
    QString importer;
    std::chrono::milliseconds timeLimit = std::chrono::minutes(2);
    // Address space the reader may use; 0: no limit.
    qint64 memoryLimit = qint64(512) << 20;
    MigrationObserver* observer = nullptr;
};

struct MigrationOutcome
{
    enum class Result
    {
        NotNeeded, // the data file is not an Access database: nothing was done to it
        Migrated,
        Failed, // nothing was changed; message says why
    };
    Result result = Result::NotNeeded;
    qint64 programs = 0;
    QString backup; // where the original was kept
    QString message;
};

// Converts an Access (Jet or ACE) "datReferral.mdb" in the folder into the program's own format,
// keeping the original byte for byte beside it, and clears what an interrupted attempt left. Never
// throws: a failure is an outcome with a message for the user. Cut short at any point (a crash, a
// power cut, a kill), the folder holds the untouched Access file or the complete new file, and a
// kept backup equals the original.
MigrationOutcome migrateDataFile(const QString& folder, const MigrationOptions& options);

// The names the migration gives its files beside the data file.
namespace MigrationFiles {
QString partialBackup(const QString& folder);
QString newFile(const QString& folder);
QString lock(const QString& folder);
// The first backup has no number; later ones are numbered from 1.
QString backup(const QString& folder, int number = 0);
} // namespace MigrationFiles

} // namespace kestrella
