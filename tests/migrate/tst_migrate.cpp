#include "main_window/mainwindowfixture.h"
#include "migrate/datafile.h"
#include "migrate/importersandbox.h"
#include "migrate/importstream.h"
#include "migrate/importwire.h"
#include "migrate/migration.h"
#include "migrate/progresswindow.h"
#include "migrate/startup.h"
#include "records/program.h"
#include "shutdown/frmclosing.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

using Result = MigrationOutcome::Result;

QString sample(const QString& name)
{
    return QStringLiteral(KESTRELLA_LEGACY_DATA "/") + name;
}

// Every row of a sample as its JSON lists them, fields in table order.
std::vector<StoredRow> expectedRows(const QString& json)
{
    QFile file(sample(json));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(json));
    std::vector<StoredRow> rows;
    for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array()) {
        StoredRow row;
        for (const QString& field : ProgramFields::all()) {
            const QJsonValue value = entry.toObject().value(field);
            row.push_back(value.isNull() ? std::nullopt : std::optional<QString>(value.toString()));
        }
        rows.push_back(row);
    }
    return rows;
}

// A folder holding a data file, as the application folder would.
struct Folder
{
    QTemporaryDir dir;

    QString path() const { return dir.path(); }
    QString dataFile() const { return dir.filePath(DataFileName); }
    QString file(const QString& name) const { return dir.filePath(name); }

    QByteArray put(const QString& sampleName)
    {
        const QByteArray bytes = fileBytes(sample(sampleName));
        writeFileBytes(dataFile(), bytes);
        return bytes;
    }
    QStringList entries() const { return QDir(path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

MigrationOutcome migrate(const Folder& folder, MigrationOptions options = {})
{
    if (options.importer.isEmpty())
        options.importer = QStringLiteral(KESTRELLA_IMPORTER);
    return migrateDataFile(folder.path(), options);
}

const QStringList MigratedFolder = {DataFileName, DataFileName + QStringLiteral(".jet-backup")};

// Records what a migration reports.
struct RecordingObserver : MigrationObserver
{
    void started(qint64 rows) override { total = rows; }
    void copied(qint64 rows) override { lastCopied = rows; }
    bool cancelRequested() override { return cancel; }
    qint64 total = -1;
    qint64 lastCopied = -1;
    bool cancel = false;
};

// Gathers what the parser reports.
struct Collected : ImportStreamHandler
{
    void total(qint64 rows) override { announced = rows; }
    void row(const std::vector<FieldValue>& fields) override { rows.push_back(fields); }
    void end(qint64 count) override { ended = count; }
    void failure(int c, qint64 d) override
    {
        code = c;
        detail = d;
    }
    qint64 announced = -1;
    qint64 ended = -1;
    int code = 0;
    qint64 detail = -1;
    std::vector<std::vector<FieldValue>> rows;
};

QByteArray stream(const QByteArray& body)
{
    return QByteArray(importwire::Magic) + body;
}

const QByteArray TenNulls = "NNNNNNNNNN";

} // namespace

class TestMigrate : public QObject
{
    Q_OBJECT

private slots:
    void detect_data();
    void detect();
    void streamKeepsEveryValue();
    void streamRefuses_data();
    void streamRefuses();
    void jetDate_data();
    void jetDate();

    void samples_data();
    void samples();
    void refused_data();
    void refused();
    void otherFilesAreLeftAlone();
    void readerGuards_data();
    void readerGuards();
    void interrupted_data();
    void interrupted();
    void existingBackupIsNeverReplaced();
    void secondCopyDoesNotMigrate();
    void originalChangedMeanwhile();
    void numberedFailureReadsAsTheWindowsShowIt();
    void readOnlyFolder();
    void leftoversBesideOwnFileAreCleaned();

    void startupTellsOnceThenListsAndCleans();
    void startupFailureEnds();
    void progressWindow();
    void cancel();
};

// ---- Telling the formats apart -------------------------------------------------------------------

void TestMigrate::detect_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("kind");
    const QByteArray jet = QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(12, '\x01');
    QTest::newRow("SQLite") << QByteArray("SQLite format 3\x00", 16) + QByteArray(16, '\x10')
                            << int(DataFileKind::Sqlite);
    QTest::newRow("Jet") << jet << int(DataFileKind::Jet);
    QTest::newRow("ACE") << QByteArray(jet).replace("Jet", "ACE") << int(DataFileKind::Jet);
    QTest::newRow("empty") << QByteArray() << int(DataFileKind::Missing);
    QTest::newRow("SQLite without its NUL")
        << QByteArray("SQLite format 3 and more text") << int(DataFileKind::Unknown);
    QTest::newRow("Jet name at offset 0") << QByteArray("Standard Jet DB\x00....", 20) << int(DataFileKind::Unknown);
    QTest::newRow("Jet name cut short") << jet.first(12) << int(DataFileKind::Unknown);
    QTest::newRow("text") << QByteArray("ProName,ProUserName\n") << int(DataFileKind::Unknown);
}

void TestMigrate::detect()
{
    QFETCH(QByteArray, head);
    QFETCH(int, kind);
    Folder folder;
    writeFileBytes(folder.dataFile(), head);
    QCOMPARE(int(detectDataFile(folder.dataFile())), kind);
    QCOMPARE(fileBytes(folder.dataFile()), head);
}

// ---- The importer's output ------------------------------------------------------------------------

void TestMigrate::streamKeepsEveryValue()
{
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray body = "T2\n"
                            "RS0:NS5:caf\xC3\xA9S3:" +
                            bom + "NND5:37329NNN\n" + "R" + TenNulls + "\nE2\n";
    const QByteArray whole = stream(body);
    const QLocale us(QLocale::English, QLocale::UnitedStates);

    // The same rows however the bytes arrive.
    for (const int piece : {int(whole.size()), 1, 7}) {
        ImportStreamParser parser(us);
        Collected got;
        for (qsizetype at = 0; at < whole.size(); at += piece)
            parser.feed(QByteArrayView(whole).sliced(at, qMin<qsizetype>(piece, whole.size() - at)), got);
        parser.finish();
        QCOMPARE(got.announced, 2);
        QCOMPARE(got.ended, 2);
        QCOMPARE(got.rows.size(), size_t(2));
        const auto& first = got.rows[0];
        QVERIFY(first[0].has_value() && first[0]->isEmpty()); // empty text stays text
        QVERIFY(!first[1].has_value());                       // no value stays no value
        QCOMPARE(first[2], FieldValue(QStringLiteral("café")));
        QCOMPARE(first[3], FieldValue(QString(QChar(0xFEFF)))); // a leading byte order mark is kept
        QCOMPARE(first[6], FieldValue(QStringLiteral("03/14/02")));
        for (const FieldValue& value : got.rows[1])
            QVERIFY(!value.has_value());
    }

    ImportStreamParser parser;
    Collected got;
    parser.feed(stream("F4,3\n"), got);
    parser.finish();
    QCOMPARE(got.code, 4);
    QCOMPARE(got.detail, 3);
}

void TestMigrate::streamRefuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("another program's output") << QByteArray("Hello\n");
    QTest::newRow("nothing at all") << QByteArray();
    QTest::newRow("rows before the total") << stream("R" + TenNulls + "\n");
    QTest::newRow("nine fields") << stream("T1\nRNNNNNNNNN\nE1\n");
    QTest::newRow("eleven fields") << stream("T1\nR" + TenNulls + "N\nE1\n");
    QTest::newRow("unknown kind of field") << stream("T1\nRX" + TenNulls.first(9) + "\nE1\n");
    QTest::newRow("text cut short at the end") << stream("T1\nRS10:abc");
    QTest::newRow("no last line") << stream("T1\nR" + TenNulls + "\n");
    QTest::newRow("more rows than it says") << stream("T2\nR" + TenNulls + "\nR" + TenNulls + "\nE1\n");
    QTest::newRow("output after the last line") << stream("T0\nE0\nT0\n");
    QTest::newRow("not UTF-8") << stream("T1\nRS2:\xC3\x28NNNNNNNNN\nE1\n");
    QTest::newRow("UTF-8 for a surrogate") << stream("T1\nRS3:\xED\xA0\x80NNNNNNNNN\nE1\n");
    QTest::newRow("longer than any value") << stream("T1\nRS999999999:x");
    QTest::newRow("a number too long") << stream("T12345678901234\n");
    QTest::newRow("a signed number") << stream("T-1\n");
    QTest::newRow("a date in the name") << stream("T1\nRD5:37329NNNNNNNNN\nE1\n");
    QTest::newRow("a date out of range") << stream("T1\nRNNNNNND9:999999999NNN\nE1\n");
    QTest::newRow("a date that is no number") << stream("T1\nRNNNNNND3:nanNNN\nE1\n");
}

void TestMigrate::streamRefuses()
{
    QFETCH(QByteArray, bytes);
    ImportStreamParser parser;
    Collected got;
    QVERIFY_THROWS_EXCEPTION(ImportStreamError, {
        parser.feed(bytes, got);
        parser.finish();
    });
}

void TestMigrate::jetDate_data()
{
    QTest::addColumn<double>("days");
    QTest::addColumn<QString>("text");
    QTest::newRow("day naught") << 0.0 << "12/30/99";
    QTest::newRow("with a time of day") << 37329.75 << "03/14/02";
    QTest::newRow("before 1900, noon") << -1.5 << "12/29/99";
    QTest::newRow("first day Access holds") << -657434.0 << "01/01/00";
    QTest::newRow("last day Access holds") << 2958465.99 << "12/31/99";
    QTest::newRow("past the last day") << 2958466.0 << QString();
    QTest::newRow("before the first day") << -657435.0 << QString();
    QTest::newRow("not a number") << std::nan("") << QString();
}

void TestMigrate::jetDate()
{
    QFETCH(double, days);
    QFETCH(QString, text);
    const auto got = jetDateText(days, QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(got.value_or(QString()), text);
    // The separator is the user's own, as for every last login the program writes.
    if (!text.isEmpty())
        QCOMPARE(jetDateText(days, QLocale(QLocale::German, QLocale::Germany)).value(),
                 QString(text).replace('/', '.'));
}

// ---- Migrating files ------------------------------------------------------------------------------

void TestMigrate::samples_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("Jet 3") << "programs_jet3";
    QTest::newRow("Jet 4") << "programs_jet4";
}

void TestMigrate::samples()
{
    QFETCH(QString, name);
    Folder folder;
    const QByteArray original = folder.put(name + ".mdb");
    RecordingObserver observer;
    MigrationOptions options;
    options.observer = &observer;

    const MigrationOutcome outcome = migrate(folder, options);
    QCOMPARE(int(outcome.result), int(Result::Migrated));
    const auto expected = expectedRows(name + ".json");
    QCOMPARE(outcome.programs, qint64(expected.size()));
    QCOMPARE(observer.total, qint64(expected.size()));
    QCOMPARE(observer.lastCopied, qint64(expected.size()));

    // Field by field, no value apart from empty text, the long memo whole, every character as stored.
    const auto rows = readAllRows(folder.dataFile());
    QCOMPARE(rows.size(), expected.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int f = 0; f < ProgramFields::all().size(); ++f)
            QVERIFY2(rows[r][size_t(f)] == expected[r][size_t(f)],
                     qPrintable(QStringLiteral("row %1, %2").arg(r + 1).arg(ProgramFields::all().at(f))));
    }

    QCOMPARE(int(detectDataFile(folder.dataFile())), int(DataFileKind::Sqlite));
    QCOMPARE(folder.entries(), MigratedFolder);
    QCOMPARE(outcome.backup, MigrationFiles::backup(folder.path()));
    QCOMPARE(fileBytes(outcome.backup), original);
    for (const QString& file : MigratedFolder) {
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(folder.file(file)).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }
    QVERIFY(outcome.message.contains(QStringLiteral("brought over %1 programs").arg(expected.size())));
    QVERIFY(outcome.message.contains(QDir::toNativeSeparators(outcome.backup)));

    // The table is the one the record store makes itself.
    DataSource store;
    store.setDatabaseName(folder.dataFile());
    store.setRecordSource(selectAllStatement());
    store.refresh();
    store.recordset().moveLast();
    QCOMPARE(store.recordset().recordCount(), qint64(expected.size()));
}

void TestMigrate::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray jet3 = fileBytes(sample("programs_jet3.mdb"));
    QTest::newRow("no Programs, Jet 3") << fileBytes(sample("overflowTestV1997.mdb")) << "no table named Programs";
    QTest::newRow("no Programs, Jet 4") << fileBytes(sample("overflowTestV2000.mdb")) << "no table named Programs";
    QTest::newRow("crashes the reader") << fileBytes(sample("crash_libmdb_jet3.mdb")) << "stopped unexpectedly";
    QTest::newRow("a field missing") << QByteArray(jet3).replace("ProStart", "ProStarX") << "has no field ProStart";
    QTest::newRow("cut after its first page") << jet3.first(2048) << "could not be";
    // The 40,800-character memo made to claim one character more than its pages hold: libmdb would
    // hand over the 40,800 as if they were all of it.
    const QByteArray length = QByteArray::fromHex("609f0000");
    QCOMPARE(jet3.count(length), 1);
    QTest::newRow("a memo longer than its pages")
        << QByteArray(jet3).replace(length, QByteArray::fromHex("619f0000")) << "could not be read";
}

// Every failure is a message, and the folder is exactly as it was.
void TestMigrate::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    Folder folder;
    writeFileBytes(folder.dataFile(), bytes);
    const MigrationOutcome outcome = migrate(folder);
    QCOMPARE(int(outcome.result), int(Result::Failed));
    QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
    QVERIFY(outcome.message.contains(QStringLiteral("has not been changed")));
    QCOMPARE(fileBytes(folder.dataFile()), bytes);
    QCOMPARE(folder.entries(), QStringList{DataFileName});
}

void TestMigrate::otherFilesAreLeftAlone()
{
    for (const QByteArray& bytes : {QByteArray("not a database\n"), QByteArray()}) {
        Folder folder;
        writeFileBytes(folder.dataFile(), bytes);
        QCOMPARE(int(migrate(folder).result), int(Result::NotNeeded));
        QCOMPARE(fileBytes(folder.dataFile()), bytes);
        QCOMPARE(folder.entries(), QStringList{DataFileName});
    }
    Folder folder;
    createDatabase(folder.dataFile(), {{QStringLiteral("Alpha")}});
    const QByteArray bytes = fileBytes(folder.dataFile());
    QCOMPARE(int(migrate(folder).result), int(Result::NotNeeded));
    QCOMPARE(fileBytes(folder.dataFile()), bytes);
}

// A reader that hangs, runs away with memory, dies or talks nonsense costs a message, never the program.
void TestMigrate::readerGuards_data()
{
    QTest::addColumn<QString>("importer");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("reason");
    const QString fake = QStringLiteral(KESTRELLA_FAKE_IMPORTER);
    QTest::newRow("hangs") << fake << "hang"
                           << "did not finish within 1 s";
    QTest::newRow("wants too much memory") << fake << "hog"
                                           << "stopped unexpectedly";
    QTest::newRow("skips rows") << fake << "short"
                                << "only 3 of the 5 programs";
    QTest::newRow("talks nonsense") << fake << "garbage"
                                    << "output Kestrella cannot take";
    QTest::newRow("ends without a word") << fake << "silent"
                                         << "stopped with status 7";
    QTest::newRow("is not there") << QDir::temp().filePath("no-such-importer") << ""
                                  << "could not be started";
}

void TestMigrate::readerGuards()
{
    QFETCH(QString, importer);
    QFETCH(QString, mode);
    QFETCH(QString, reason);
    if (mode == "hog" && !importerMemoryLimitApplies())
        QSKIP("This build runs the reader without a memory limit (AddressSanitizer reserves terabytes)");
    Folder folder;
    const QByteArray bytes = QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + "\nMODE=" + mode.toLatin1() + "\n";
    writeFileBytes(folder.dataFile(), bytes);
    MigrationOptions options;
    options.importer = importer;
    options.timeLimit = std::chrono::seconds(1);
    const MigrationOutcome outcome = migrate(folder, options);
    QCOMPARE(int(outcome.result), int(Result::Failed));
    QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
    QCOMPARE(fileBytes(folder.dataFile()), bytes);
    QCOMPARE(folder.entries(), QStringList{DataFileName});
}

void TestMigrate::interrupted_data()
{
    QTest::addColumn<QString>("step");
    for (const MigrationStep step : migrationSteps())
        QTest::newRow(qPrintable(migrationStepName(step))) << migrationStepName(step);
}

// Killed right after each step, then started again: the untouched Access file or the complete new
// one, any backup equal to the original, and the next start finishes the job and clears what was left.
void TestMigrate::interrupted()
{
    QFETCH(QString, step);
    Folder folder;
    const QByteArray original = folder.put("programs_jet4.mdb");
    const auto expected = expectedRows("programs_jet4.json");

    QProcess runner;
    runner.start(QStringLiteral(KESTRELLA_MIGRATE_RUNNER), {folder.path(), QStringLiteral(KESTRELLA_IMPORTER), step});
    QVERIFY(runner.waitForFinished(20000));
    QCOMPARE(runner.exitStatus(), QProcess::CrashExit);

    if (fileBytes(folder.dataFile()) != original)
        QVERIFY(readAllRows(folder.dataFile()) == expected);
    for (const QString& name : folder.entries()) {
        if (name.contains(QStringLiteral(".jet-backup")) && !name.endsWith(QStringLiteral(".partial")))
            QCOMPARE(fileBytes(folder.file(name)), original);
    }

    const MigrationOutcome again = migrate(folder);
    QVERIFY2(again.result != Result::Failed, qPrintable(again.message));
    QVERIFY(readAllRows(folder.dataFile()) == expected);
    QCOMPARE(folder.entries(), MigratedFolder);
    QCOMPARE(fileBytes(MigrationFiles::backup(folder.path())), original);
}

void TestMigrate::existingBackupIsNeverReplaced()
{
    Folder folder;
    const QByteArray original = folder.put("programs_jet3.mdb");
    const QByteArray someoneElses = "an older backup of something else";
    writeFileBytes(MigrationFiles::backup(folder.path()), someoneElses);

    const MigrationOutcome outcome = migrate(folder);
    QCOMPARE(int(outcome.result), int(Result::Migrated));
    QCOMPARE(fileBytes(MigrationFiles::backup(folder.path())), someoneElses);
    QCOMPARE(outcome.backup, MigrationFiles::backup(folder.path(), 1));
    QCOMPARE(fileBytes(outcome.backup), original);
}

void TestMigrate::secondCopyDoesNotMigrate()
{
    Folder folder;
    const QByteArray original = folder.put("programs_jet3.mdb");
    QLockFile otherCopy(MigrationFiles::lock(folder.path()));
    QVERIFY(otherCopy.tryLock(0));

    const MigrationOutcome outcome = migrate(folder);
    QCOMPARE(int(outcome.result), int(Result::Failed));
    QVERIFY(outcome.message.contains(QStringLiteral("another copy of Kestrella is converting it")));
    QCOMPARE(fileBytes(folder.dataFile()), original);
    QCOMPARE(folder.entries().size(), 2); // the data file and the other copy's lock

    otherCopy.unlock();
    QCOMPARE(int(migrate(folder).result), int(Result::Migrated));
}

void TestMigrate::originalChangedMeanwhile()
{
    Folder folder;
    folder.put("programs_jet3.mdb");
    QByteArray changed;
    MigrationOptions options;
    options.afterStep = [&](MigrationStep step) {
        if (step != MigrationStep::Imported)
            return;
        QFile file(folder.dataFile());
        QVERIFY(file.open(QIODevice::Append));
        file.write("x");
        file.close();
        changed = fileBytes(folder.dataFile());
    };
    const MigrationOutcome outcome = migrate(folder, options);
    QCOMPARE(int(outcome.result), int(Result::Failed));
    QVERIFY(outcome.message.contains(QStringLiteral("changed while it was being converted")));
    QCOMPARE(fileBytes(folder.dataFile()), changed);
    QCOMPARE(folder.entries(), QStringList{DataFileName});
}

void TestMigrate::numberedFailureReadsAsTheWindowsShowIt()
{
    Folder folder;
    const QByteArray original = folder.put("programs_jet3.mdb");
    MigrationOptions options;
    options.afterStep = [&](MigrationStep step) {
        if (step == MigrationStep::BackupCopied)
            QVERIFY(QDir().mkdir(MigrationFiles::newFile(folder.path())));
    };
    const MigrationOutcome outcome = migrate(folder, options);
    QCOMPARE(int(outcome.result), int(Result::Failed));
    QVERIFY2(outcome.message.contains(QStringLiteral("format: Error %1: Cannot create").arg(EEXIST)),
             qPrintable(outcome.message));
    QCOMPARE(fileBytes(folder.dataFile()), original);
}

void TestMigrate::readOnlyFolder()
{
    Folder folder;
    const QByteArray original = folder.put("programs_jet3.mdb");
    QProcess runner;
    const QStringList args = {folder.path(), QStringLiteral(KESTRELLA_IMPORTER)};
    if (::geteuid() != 0) {
        QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
        runner.start(QStringLiteral(KESTRELLA_MIGRATE_RUNNER), args);
    } else {
        // The superuser writes through any permission: the migration runs as "nobody" instead.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("Running as root without setpriv: no way to make the folder read-only to the migration");
        const auto readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                              QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(folder.path(), readable));
        QVERIFY(QFile::setPermissions(folder.dataFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        runner.start(setpriv, QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                          QStringLiteral("--clear-groups"), QStringLiteral(KESTRELLA_MIGRATE_RUNNER)} +
                                  args);
    }
    QVERIFY(runner.waitForFinished(20000));
    const QString said = QString::fromUtf8(runner.readAllStandardOutput());
    if (::geteuid() == 0 && runner.exitCode() == 126)
        QSKIP("setpriv cannot switch to the user nobody here");
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(runner.exitStatus(), QProcess::NormalExit);
    QVERIFY2(runner.exitCode() == 3, qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("cannot write in its folder")), qPrintable(said));
    QCOMPARE(fileBytes(folder.dataFile()), original);
    QCOMPARE(folder.entries(), QStringList{DataFileName});
}

void TestMigrate::leftoversBesideOwnFileAreCleaned()
{
    Folder folder;
    createDatabase(folder.dataFile(), {{QStringLiteral("Alpha")}});
    const QByteArray bytes = fileBytes(folder.dataFile());
    writeFileBytes(MigrationFiles::partialBackup(folder.path()), "half a copy");
    writeFileBytes(MigrationFiles::newFile(folder.path()), "half a database");
    writeFileBytes(MigrationFiles::newFile(folder.path()) + "-journal", "its journal");

    QCOMPARE(int(migrate(folder).result), int(Result::NotNeeded));
    QCOMPARE(folder.entries(), QStringList{DataFileName});
    QCOMPARE(fileBytes(folder.dataFile()), bytes);
}

// ---- Start-up ------------------------------------------------------------------------------------

void TestMigrate::startupTellsOnceThenListsAndCleans()
{
    MainWindowFixture fx;
    writeFileBytes(fx.dataFile(), fileBytes(sample("programs_jet4.mdb")));
    auto expected = expectedRows("programs_jet4.json");

    QVERIFY(prepareDataFile(fx.dir.path(), QStringLiteral(KESTRELLA_IMPORTER)));
    QCOMPARE(fx.messages.shown.size(), 1);
    const QString told = fx.messages.shown.first().prompt;
    QVERIFY2(told.contains(QStringLiteral("brought over 11 programs")), qPrintable(told));
    QVERIFY(told.contains(QDir::toNativeSeparators(fx.dir.filePath(DataFileName + ".jet-backup"))));

    // A second start finds its own file and says nothing.
    QVERIFY(prepareDataFile(fx.dir.path(), QStringLiteral(KESTRELLA_IMPORTER)));
    QCOMPARE(fx.messages.shown.size(), 1);

    QVERIFY(fx.startOnExistingFile());
    QStringList names;
    for (const StoredRow& row : expected) {
        if (row[0] && !row[0]->isEmpty())
            names << *row[0];
    }
    QStringList listed = fx.listed();
    listed.removeAll(QString());
    names.sort();
    listed.sort();
    QCOMPARE(listed, names);
    QCOMPARE(fx.count(), QString::number(expected.size()));

    // The closing walk removes the first record without a name, and only that one.
    frmClosing closing(fx.dir.path());
    closing.ClosingWalk();
    const auto firstNameless = std::find_if(expected.begin(), expected.end(), [](const StoredRow& r) { return !r[0]; });
    QVERIFY(firstNameless != expected.end());
    expected.erase(firstNameless);
    QVERIFY(readAllRows(fx.dataFile()) == expected);
}

void TestMigrate::startupFailureEnds()
{
    ScriptedMessages messages;
    Folder folder;
    const QByteArray original = folder.put("crash_libmdb_jet3.mdb");
    QVERIFY(!prepareDataFile(folder.path(), QStringLiteral(KESTRELLA_IMPORTER)));
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown.first().icon, MessageIcon::Exclamation);
    QVERIFY(messages.shown.first().prompt.contains(QStringLiteral("has not been changed")));
    QCOMPARE(fileBytes(folder.dataFile()), original);
    QCOMPARE(folder.entries(), QStringList{DataFileName});
}

void TestMigrate::progressWindow()
{
    MigrationProgressWindow progress;
    QProgressDialog* dialog = progress.dialog();
    QCOMPARE(dialog->windowModality(), Qt::NonModal);
    progress.started(1200);
    progress.copied(300);
    QCOMPARE(dialog->maximum(), 1200);
    QCOMPARE(dialog->value(), 300);
    QVERIFY2(dialog->labelText().contains(QLocale().toString(300) + " of " + QLocale().toString(1200)),
             qPrintable(dialog->labelText()));
    QVERIFY(!progress.cancelRequested());
    dialog->cancel();
    QVERIFY(progress.cancelRequested());
}

void TestMigrate::cancel()
{
    Folder folder;
    const QByteArray original = folder.put("programs_jet4.mdb");
    RecordingObserver observer;
    observer.cancel = true;
    MigrationOptions options;
    options.observer = &observer;
    const MigrationOutcome outcome = migrate(folder, options);
    QCOMPARE(int(outcome.result), int(Result::Failed));
    QVERIFY(outcome.message.contains(QStringLiteral("cancelled")));
    QCOMPARE(fileBytes(folder.dataFile()), original);
    QCOMPARE(folder.entries(), QStringList{DataFileName});
}

QTEST_MAIN(TestMigrate)
#include "tst_migrate.moc"
