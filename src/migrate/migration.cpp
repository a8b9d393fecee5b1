#include "migrate/migration.h"

#include "migrate/datafile.h"
#include "migrate/durable.h"
#include "migrate/importstream.h"
#include "migrate/importwire.h"
#include "records/program.h"
#include "records/sqlite.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrella {
namespace {

namespace wire = importwire;

// Why the migration stopped, in words for the user.
class Refusal : public std::runtime_error
{
public:
    explicit Refusal(const QString& reason)
        : std::runtime_error(reason.toStdString())
        , reason(reason)
    {
    }
    QString reason;
};

[[noreturn]] void refuse(const QString& reason)
{
    throw Refusal(reason);
}

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

// Both the rows written and the rows read back go through here, so one digest can check the other.
void addToDigest(QCryptographicHash& digest, const char* bytes, qsizetype size, bool isNull)
{
    if (isNull) {
        digest.addData("N");
        return;
    }
    digest.addData(QByteArray::number(size) + ':');
    digest.addData(QByteArrayView(bytes, size));
}

// The new file, built under its temporary name and closed however the migration ends.
class NewDatabase
{
public:
    explicit NewDatabase(const QString& path)
    {
        ::close(durable::createOwnerOnly(path)); // owner-only from its first byte: it holds passwords
        try {
            if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) !=
                SQLITE_OK)
                throwSqliteError(m_db);
            execute(m_db, "PRAGMA synchronous=FULL");
            execute(m_db, "BEGIN IMMEDIATE");
            execute(m_db, programsTableSchema().toUtf8().constData());
            QStringList placeholders;
            for (int i = 1; i <= wire::FieldCount; ++i)
                placeholders << QStringLiteral("?%1").arg(i);
            m_insert = SqliteStatement(
                m_db, QStringLiteral("insert into Programs (%1) values (%2)")
                          .arg(ProgramFields::all().join(QLatin1Char(',')), placeholders.join(QLatin1Char(','))));
        } catch (...) {
            sqlite3_close_v2(m_db);
            throw;
        }
    }
    // Abandoned: whatever it holds is removed with the file.
    ~NewDatabase()
    {
        m_insert = SqliteStatement();
        sqlite3_close_v2(m_db);
    }
    NewDatabase(const NewDatabase&) = delete;
    NewDatabase& operator=(const NewDatabase&) = delete;

    void insert(const std::vector<FieldValue>& fields)
    {
        for (int i = 0; i < wire::FieldCount; ++i) {
            const FieldValue& value = fields[size_t(i)];
            m_insert.bind(i + 1, value);
            const QByteArray utf8 = value ? value->toUtf8() : QByteArray();
            addToDigest(m_written, utf8.constData(), utf8.size(), !value);
        }
        m_insert.step();
        m_insert.reset();
        ++m_rows;
    }

    void commit()
    {
        m_insert = SqliteStatement();
        for (const QString& index : programsIndexes())
            execute(m_db, index.toUtf8().constData());
        execute(m_db, "COMMIT");
    }

    // Reads everything back: the same rows in the same order, byte for byte, and a sound file.
    void verify()
    {
        SqliteStatement check(m_db, QStringLiteral("PRAGMA integrity_check"));
        if (!check.step() || check.text(0) != QStringLiteral("ok") || check.step())
            refuse(QStringLiteral("the new file did not pass SQLite's integrity check"));
        check = SqliteStatement();

        SqliteStatement all(
            m_db,
            QStringLiteral("select %1 from Programs order by rowid").arg(ProgramFields::all().join(QLatin1Char(','))));
        QCryptographicHash read(QCryptographicHash::Sha256);
        qint64 rows = 0;
        while (all.step()) {
            sqlite3_stmt* st = all.handle();
            for (int i = 0; i < wire::FieldCount; ++i) {
                const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
                addToDigest(read, bytes, sqlite3_column_bytes(st, i), sqlite3_column_type(st, i) == SQLITE_NULL);
            }
            ++rows;
        }
        if (rows != m_rows || read.result() != m_written.result())
            refuse(QStringLiteral("the new file does not read back as it was written"));
    }

    void close()
    {
        m_insert = SqliteStatement();
        if (m_db && sqlite3_close(m_db) != SQLITE_OK)
            throwSqliteError(m_db);
        m_db = nullptr;
    }

    qint64 rows() const { return m_rows; }

private:
    sqlite3* m_db = nullptr;
    SqliteStatement m_insert;
    QCryptographicHash m_written{QCryptographicHash::Sha256};
    qint64 m_rows = 0;
};

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

// libmdb reads MDB_* variables that change how it decodes text and what it prints: the reader gets
// none of the user's environment.
QProcessEnvironment importerEnvironment()
{
    QProcessEnvironment env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
        if (system.contains(name))
            env.insert(name, system.value(name));
    }
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return env;
}

void runImporter(const QString& importer, const QString& file, const MigrationOptions& options, RowSink& sink)
{
    QProcess process;
    process.setProgram(importer);
    process.setArguments({file});
    process.setProcessEnvironment(importerEnvironment());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const pid_t parent = ::getpid();
    const rlim_t memory = importerMemoryLimitApplies() ? rlim_t(options.memoryLimit) : 0;
    const rlim_t cpu = rlim_t(std::chrono::ceil<std::chrono::seconds>(options.timeLimit).count() + 1);
    // Runs in the child before the reader starts: only async-signal-safe calls.
    process.setChildProcessModifier([parent, memory, cpu] {
        const rlimit noCore{0, 0}; // a core dump would hold the file's passwords in clear
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (memory > 0) {
            const rlimit space{memory, memory};
            ::setrlimit(RLIMIT_AS, &space);
        }
        const rlimit seconds{cpu, cpu + 1}; // a backstop should the parent's own clock not get to it
        ::setrlimit(RLIMIT_CPU, &seconds);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // the reader never outlives the program
        if (::getppid() != parent)
            ::_exit(126);
    });
    process.start();
    if (!process.waitForStarted(10000))
        refuse(
            QStringLiteral("its converter %1 could not be started (%2)").arg(shown(importer), process.errorString()));

    const auto stop = [&process] {
        process.kill();
        process.waitForFinished(5000);
    };
    ImportStreamParser parser;
    QElapsedTimer clock;
    clock.start();
    try {
        for (;;) {
            const bool running = process.state() != QProcess::NotRunning;
            if (running)
                process.waitForReadyRead(50);
            parser.feed(process.readAllStandardOutput(), sink);
            if (MigrationObserver* observer = options.observer) {
                observer->copied(parser.rowsRead());
                QCoreApplication::processEvents();
                if (observer->cancelRequested()) {
                    stop();
                    refuse(QStringLiteral("the conversion was cancelled"));
                }
            }
            if (!running)
                break;
            if (clock.elapsed() > options.timeLimit.count()) {
                stop();
                refuse(QStringLiteral("reading it did not finish within %1 s")
                           .arg(std::chrono::ceil<std::chrono::seconds>(options.timeLimit).count()));
            }
        }
        if (process.exitStatus() == QProcess::CrashExit)
            refuse(QStringLiteral("its converter stopped unexpectedly while reading it (it crashed or needed too "
                                  "much memory); the file may be damaged or of a kind it cannot read"));
        if (!sink.failureReason().isEmpty())
            refuse(sink.failureReason());
        if (process.exitCode() != 0)
            refuse(QStringLiteral("its converter stopped with status %1").arg(process.exitCode()));
        parser.finish();
    } catch (const ImportStreamError& e) {
        stop();
        refuse(QStringLiteral("its converter gave output Kestrella cannot take (%1)")
                   .arg(QString::fromStdString(e.what())));
    } catch (...) {
        stop();
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

QList<MigrationStep> migrationSteps()
{
    return {MigrationStep::Locked,     MigrationStep::LeftoversRemoved, MigrationStep::BackupCopied,
            MigrationStep::Imported,   MigrationStep::Verified,         MigrationStep::NewFileSynced,
            MigrationStep::BackupKept, MigrationStep::Switched,         MigrationStep::FolderSynced};
}

QString migrationStepName(MigrationStep step)
{
    static const QStringList names = {
        QStringLiteral("Locked"),     QStringLiteral("LeftoversRemoved"), QStringLiteral("BackupCopied"),
        QStringLiteral("Imported"),   QStringLiteral("Verified"),         QStringLiteral("NewFileSynced"),
        QStringLiteral("BackupKept"), QStringLiteral("Switched"),         QStringLiteral("FolderSynced")};
    return names.value(int(step));
}

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

bool importerMemoryLimitApplies()
{
#ifdef KESTRELLA_SANITIZED_BUILD
    return false;
#else
    return true;
#endif
}

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
    const auto step = [&](MigrationStep s) {
        if (options.afterStep)
            options.afterStep(s);
    };

    try {
        step(MigrationStep::Locked);
        for (const QString& file : leftovers(folder))
            durable::remove(file);
        step(MigrationStep::LeftoversRemoved);
        // Another copy may have finished converting it while this one waited for the lock.
        if (detectDataFile(dataFile) != DataFileKind::Jet)
            return {};

        // The reader works on the copy, so what is converted is exactly what is kept.
        const QString partial = MigrationFiles::partialBackup(folder);
        const QByteArray original = durable::copyOwnerOnly(dataFile, partial);
        if (durable::digest(partial) != original)
            refuse(QStringLiteral("the copy of it does not read back as the original"));
        step(MigrationStep::BackupCopied);

        const QString fresh = MigrationFiles::newFile(folder);
        {
            NewDatabase db(fresh);
            RowSink sink(db, options.observer);
            runImporter(options.importer, partial, options, sink);
            db.commit();
            step(MigrationStep::Imported);
            db.verify();
            outcome.programs = db.rows();
            step(MigrationStep::Verified);
            db.close();
        }
        durable::syncFile(fresh);
        step(MigrationStep::NewFileSynced);

        if (durable::digest(dataFile) != original)
            refuse(QStringLiteral("it changed while it was being converted. Start Kestrella again to convert it"));
        outcome.backup = keepBackup(folder, original);
        durable::syncFolder(folder);
        step(MigrationStep::BackupKept);

        durable::replace(fresh, dataFile);
        step(MigrationStep::Switched);
        // The switch has happened and cannot be taken back; should the folder not sync, the rename is
        // still atomic and the backup is already on disk.
        try {
            durable::syncFolder(folder);
        } catch (const std::exception&) {
        }
        step(MigrationStep::FolderSynced);
    } catch (const Refusal& r) {
        removeQuietly(leftovers(folder));
        return failed(r.reason);
    } catch (const AppError& e) {
        removeQuietly(leftovers(folder));
        return failed(QStringLiteral("error %1: %2").arg(e.number()).arg(e.text()));
    } catch (const std::exception& e) {
        removeQuietly(leftovers(folder));
        return failed(QString::fromStdString(e.what()));
    }
    outcome.result = MigrationOutcome::Result::Migrated;
    outcome.message = successMessage(outcome.programs, outcome.backup);
    return outcome;
}

} // namespace kestrella
