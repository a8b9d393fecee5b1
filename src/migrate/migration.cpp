#include "migrate/migration.h"

#include "app/errors.h"
#include "migrate/datafile.h"
#include "migrate/durable.h"
#include "migrate/importerread.h"
#include "migrate/importersandbox.h"
#include "migrate/importstream.h"
#include "migrate/importwire.h"
#include "migrate/newdatabase.h"
#include "migrate/refusal.h"
#include "records/program.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrella {
namespace {

namespace wire = importwire;

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString failureMessage(const QString& dataFile, const QString& reason)
{
    return QStringLiteral("Kestrella could not convert the Access database\n%1\ninto its own format: %2.\n\n"
                          "The file has not been changed. Kestrella will now close.")
        .arg(shown(dataFile), reason);
}

QString successMessage(qint64 programs, const QString& backup)
{
    return QStringLiteral("Kestrella has converted its Access database into its own format and brought over %1 %2.\n\n"
                          "The original file was kept unchanged as\n%3")
        .arg(programs)
        .arg(programs == 1 ? QStringLiteral("program") : QStringLiteral("programs"), shown(backup));
}

QString importerFailure(int code, qint64 detail)
{
    const QString field =
        detail >= 0 && detail < wire::FieldCount ? QString::fromLatin1(wire::FieldNames[detail]) : QStringLiteral("?");
    switch (wire::Failure(code)) {
    case wire::Failure::NotAccessFile:
        return QStringLiteral("it could not be opened as an Access database");
    case wire::Failure::Damaged:
        return QStringLiteral("part of it could not be read; the file may be damaged");
    case wire::Failure::NoProgramsTable:
        return QStringLiteral("it has no table named Programs");
    case wire::Failure::MissingField:
        return QStringLiteral("its table Programs has no field %1").arg(field);
    case wire::Failure::UnsupportedType:
        return QStringLiteral("the field %1 of its table Programs does not hold text").arg(field);
    }
    return QStringLiteral("the converter gave a reason it does not know (%1)").arg(code);
}

// Takes the importer's items into the new file.
class RowSink final : public ImportStreamHandler
{
public:
    RowSink(NewDatabase& db, MigrationObserver* observer)
        : m_db(db)
        , m_observer(observer)
    {
    }
    void total(qint64 rows) override
    {
        m_total = rows;
        if (m_observer)
            m_observer->started(rows);
    }
    void row(const std::vector<FieldValue>& fields) override { m_db.insert(fields); }
    void end(qint64) override {}
    void failure(int code, qint64 detail) override { m_failure = importerFailure(code, detail); }

    qint64 announced() const { return m_total; }
    const QString& failureReason() const { return m_failure; }

private:
    NewDatabase& m_db;
    MigrationObserver* m_observer;
    qint64 m_total = -1;
    QString m_failure;
};

void stopImporter(QProcess& reader)
{
    reader.kill();
    reader.waitForFinished(5000);
}

// A reader that ended without its whole say stops the migration, with the reason in words.
void refuseUnlessEndedWell(const QProcess& reader, const RowSink& sink)
{
    if (reader.exitStatus() == QProcess::CrashExit)
        refuse(QStringLiteral("its converter stopped unexpectedly while reading it (it crashed or needed too "
                              "much memory); the file may be damaged or of a kind it cannot read"));
    if (!sink.failureReason().isEmpty())
        refuse(sink.failureReason());
    if (reader.exitCode() != 0)
        refuse(QStringLiteral("its converter stopped with status %1").arg(reader.exitCode()));
}

void runImporter(const QString& importer, const QString& file, const MigrationOptions& options, RowSink& sink)
{
    QProcess reader;
    reader.setProgram(importer);
    reader.setArguments({file});
    sandboxImporter(reader, options.timeLimit, options.memoryLimit);
    reader.start();
    if (!reader.waitForStarted(10000))
        refuse(QStringLiteral("its converter %1 could not be started (%2)").arg(shown(importer), reader.errorString()));

    ImportStreamParser parser;
    QElapsedTimer clock;
    clock.start();
    const auto stopWhenUnwanted = [&](bool readerRunning) {
        if (MigrationObserver* observer = options.observer) {
            observer->copied(parser.rowsRead());
            QCoreApplication::processEvents();
            if (observer->cancelRequested())
                refuse(QStringLiteral("the conversion was cancelled"));
        }
        if (readerRunning && clock.elapsed() > options.timeLimit.count())
            refuse(QStringLiteral("reading it did not finish within %1 s")
                       .arg(std::chrono::ceil<std::chrono::seconds>(options.timeLimit).count()));
    };
    try {
        readImporterOutput(reader, parser, sink, stopWhenUnwanted);
        refuseUnlessEndedWell(reader, sink);
        parser.finish();
    } catch (const ImportStreamError& e) {
        stopImporter(reader);
        refuse(QStringLiteral("its converter gave output Kestrella cannot take (%1)")
                   .arg(QString::fromStdString(e.what())));
    } catch (...) {
        stopImporter(reader);
        throw;
    }
    // Rows the reader skipped without a word (libmdb passes over rows it cannot make sense of) would
    // be lost: the count the table keeps must match what arrived.
    if (sink.announced() != parser.rowsRead())
        refuse(QStringLiteral("only %1 of the %2 programs in it could be read; the file may be damaged")
                   .arg(parser.rowsRead())
                   .arg(sink.announced()));
}

bool isOwnerOnlyCopy(const QString& path, const QByteArray& digest)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        return false;
    try {
        return durable::digest(path) == digest;
    } catch (const std::exception&) {
        return false;
    }
}

// Gives the copy its final name without ever replacing a backup that is already there. A backup an
// interrupted attempt kept of this very file is used again rather than doubled.
QString keepBackup(const QString& folder, const QByteArray& digest)
{
    const QString partial = MigrationFiles::partialBackup(folder);
    for (int number = 0; number < 1000; ++number) {
        const QString name = MigrationFiles::backup(folder, number);
        if (durable::renameNoReplace(partial, name))
            return name;
        if (isOwnerOnlyCopy(name, digest)) {
            durable::remove(partial);
            return name;
        }
    }
    refuse(QStringLiteral("there are too many backups beside it already"));
}

QStringList leftovers(const QString& folder)
{
    const QString fresh = MigrationFiles::newFile(folder);
    return {MigrationFiles::partialBackup(folder), fresh, fresh + QStringLiteral("-journal")};
}

bool anyLeftover(const QString& folder)
{
    QStringList files = leftovers(folder);
    files << MigrationFiles::lock(folder);
    return std::any_of(files.cbegin(), files.cend(), [](const QString& f) { return QFileInfo::exists(f); });
}

void removeQuietly(const QStringList& files)
{
    for (const QString& file : files) {
        try {
            durable::remove(file);
        } catch (const std::exception&) {
        }
    }
}

} // namespace

namespace MigrationFiles {
QString partialBackup(const QString& folder)
{
    return QDir(folder).filePath(DataFileName + QStringLiteral(".jet-backup.partial"));
}
QString newFile(const QString& folder)
{
    return QDir(folder).filePath(DataFileName + QStringLiteral(".migrating"));
}
QString lock(const QString& folder)
{
    return QDir(folder).filePath(DataFileName + QStringLiteral(".migrate-lock"));
}
QString backup(const QString& folder, int number)
{
    const QString name = DataFileName + QStringLiteral(".jet-backup");
    return QDir(folder).filePath(number == 0 ? name : name + QStringLiteral(".%1").arg(number));
}
} // namespace MigrationFiles

MigrationOutcome migrateDataFile(const QString& folder, const MigrationOptions& options)
{
    const QString dataFile = QDir(folder).filePath(DataFileName);
    const bool jet = detectDataFile(dataFile) == DataFileKind::Jet;
    if (!jet && !anyLeftover(folder))
        return {};

    MigrationOutcome outcome;
    const auto failed = [&](const QString& reason) {
        outcome.result = MigrationOutcome::Result::Failed;
        outcome.message = failureMessage(dataFile, reason);
        return outcome;
    };

    // A second copy of the program started meanwhile must not work on the same files.
    QLockFile lock(MigrationFiles::lock(folder));
    lock.setStaleLockTime(0); // a long conversion is not a stale one; a dead owner still is
    if (!lock.tryLock(0)) {
        if (!jet)
            return {}; // another copy is at work: what looks left over is its own
        if (lock.error() == QLockFile::LockFailedError)
            return failed(QStringLiteral("another copy of Kestrella is converting it right now. Start Kestrella "
                                         "again when that copy has finished"));
        return failed(QStringLiteral("Kestrella cannot write in its folder\n%1\nso the converted file cannot be put "
                                     "in its place")
                          .arg(shown(folder)));
    }
    try {
        for (const QString& file : leftovers(folder))
            durable::remove(file);
        // Another copy may have finished converting it while this one waited for the lock.
        if (detectDataFile(dataFile) != DataFileKind::Jet)
            return {};

        // The reader works on the copy, so what is converted is exactly what is kept.
        const QString partial = MigrationFiles::partialBackup(folder);
        const QByteArray original = durable::copyOwnerOnly(dataFile, partial);
        if (durable::digest(partial) != original)
            refuse(QStringLiteral("the copy of it does not read back as the original"));

        const QString fresh = MigrationFiles::newFile(folder);
        {
            NewDatabase db(fresh);
            RowSink sink(db, options.observer);
            runImporter(options.importer, partial, options, sink);
            db.commit();
            db.verify();
            outcome.programs = db.rows();
            db.close();
        }
        durable::syncFile(fresh);

        if (durable::digest(dataFile) != original)
            refuse(QStringLiteral("it changed while it was being converted. Start Kestrella again to convert it"));
        outcome.backup = keepBackup(folder, original);
        durable::syncFolder(folder);

        durable::replace(fresh, dataFile);
        // The switch has happened and cannot be taken back; should the folder not sync, the rename is
        // still atomic and the backup is already on disk.
        try {
            durable::syncFolder(folder);
        } catch (const std::exception&) {
        }
    } catch (const Refusal& r) {
        removeQuietly(leftovers(folder));
        return failed(r.reason);
    } catch (const std::exception& e) {
        removeQuietly(leftovers(folder));
        return failed(errorText(e));
    }
    outcome.result = MigrationOutcome::Result::Migrated;
    outcome.message = successMessage(outcome.programs, outcome.backup);
    return outcome;
}

} // namespace kestrella
