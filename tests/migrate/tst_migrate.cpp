#include "migrate/datafile.h"
#include "migrate/importersandbox.h"
#include "migrate/importstream.h"
#include "migrate/importwire.h"
#include "migrate/migration.h"
#include "migrate/progresswindow.h"
#include "migrate/startup.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <sqlite3.h>
#include <unistd.h>

using namespace kestrella;
using namespace kestrella::test;

// Every sync passes here first, so that a test can act, or die, between the steps of a migration: each step ends
// with one.
std::function<void(int)> atSync;
int syncs = 0;
int synced(const char* real, int fd)
{
    if (atSync)
        atSync(++syncs);
    return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, real))(fd);
}
extern "C" int fsync(int fd)
{
    return synced("fsync", fd);
}
extern "C" int fdatasync(int fd)
{
    return synced("fdatasync", fd);
}

namespace {

const QString Importer = QStringLiteral(KESTRELLA_IMPORTER);
const QByteArray JetSignature("\x00\x01\x00\x00Standard Jet DB\x00", 20);
const QByteArray TenNulls = "NNNNNNNNNN";

QByteArray sample(const QString& name)
{
    return fileBytes(QStringLiteral(KESTRELLA_LEGACY_DATA "/") + name);
}

// Every row of a sample as its JSON lists them, fields in table order.
std::vector<StoredRow> expectedRows(const QString& json)
{
    std::vector<StoredRow> rows;
    for (const QJsonValue& entry : QJsonDocument::fromJson(sample(json)).array()) {
        StoredRow& row = rows.emplace_back();
        for (const QString& field : ProgramFields::all()) {
            const QJsonValue value = entry.toObject().value(field);
            row.push_back(value.isNull() ? std::nullopt : std::optional<QString>(value.toString()));
        }
    }
    return rows;
}

QByteArray stream(const QByteArray& body)
{
    return QByteArray(importwire::Magic) + body;
}

// An application folder holding a data file.
struct Folder
{
    QTemporaryDir dir;

    explicit Folder(const QByteArray& dataFileBytes) { writeFileBytes(dataFile(), dataFileBytes); }
    QString path() const { return dir.path(); }
    QString dataFile() const { return dir.filePath(DataFileName); }
    QStringList entries() const { return QDir(path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

struct Collected : ImportStreamHandler
{
    void total(qint64 rows) override { counts << rows; }
    void row(const std::vector<FieldValue>& fields) override { rows.push_back(fields); }
    void end(qint64 rows) override { counts << rows; }
    void failure(int, qint64) override {}
    QList<qint64> counts; // the total, then the last line's
    std::vector<std::vector<FieldValue>> rows;
};

// Stands in for the reader, misbehaving as the file it is given asks: HANG, HOG (memory), SILENT (a failing status),
// and whatever follows SAY= is its output, word for word.
int fakeImporter(const char* file)
{
    const QByteArray asked = fileBytes(QString::fromLocal8Bit(file));
    while (asked.contains("HANG"))
        ::pause();
    // 1 GiB of address space: more than the limit allows, though untouched memory costs nothing.
    if (asked.contains("HOG") && !std::malloc(size_t(1) << 30))
        std::abort();
    const qsizetype say = asked.indexOf("SAY=");
    if (say >= 0)
        std::fwrite(asked.constData() + say + 4, 1, size_t(asked.size() - say - 4), stdout);
    return asked.contains("SILENT") ? 7 : 0;
}

} // namespace

class TestMigrate : public QObject
{
    Q_OBJECT

private slots:
    // Only an Access file is converted; anything else is left exactly as it was.
    void eachKindOfFileIsToldApart_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<DataFileKind>("kind");
        QTest::newRow("SQLite") << QByteArray("SQLite format 3\x00", 16) + QByteArray(16, '\x10')
                                << DataFileKind::Sqlite;
        QTest::newRow("Jet") << JetSignature + QByteArray(12, '\x01') << DataFileKind::Jet;
        QTest::newRow("ACE") << QByteArray(JetSignature).replace("Jet", "ACE") + QByteArray(12, '\x01')
                             << DataFileKind::Jet;
        QTest::newRow("empty") << QByteArray() << DataFileKind::Missing;
        QTest::newRow("SQLite without its NUL") << QByteArray("SQLite format 3 and more text") << DataFileKind::Unknown;
    }
    void eachKindOfFileIsToldApart()
    {
        QFETCH(QByteArray, head);
        QFETCH(DataFileKind, kind);
        const Folder folder(head);
        QCOMPARE(detectDataFile(folder.dataFile()), kind);
        // A signature alone is no database the reader can open: the start ends after saying so once.
        ScriptedMessages messages;
        QCOMPARE(prepareDataFile(folder.path(), Importer), kind != DataFileKind::Jet);
        QCOMPARE(messages.shown.size(), kind == DataFileKind::Jet ? 1 : 0);
        QCOMPARE(fileBytes(folder.dataFile()), head);
        QCOMPARE(folder.entries(), QStringList{DataFileName});
    }

    void theReaderOutputKeepsEveryValueHoweverItArrives()
    {
        const QByteArray whole = stream("T2\nRS0:NS5:caf\xC3\xA9S3:\xEF\xBB\xBFNND5:37329NNN\nR" + TenNulls + "\nE2\n");
        for (const int piece : {int(whole.size()), 1, 7}) {
            ImportStreamParser parser(QLocale(QLocale::English, QLocale::UnitedStates));
            Collected got;
            for (qsizetype at = 0; at < whole.size(); at += piece)
                parser.feed(QByteArrayView(whole).sliced(at, qMin<qsizetype>(piece, whole.size() - at)), got);
            parser.finish();
            QCOMPARE(got.counts, QList<qint64>({2, 2}));
            const std::vector<FieldValue> first = {
                QString(),    std::nullopt, QStringLiteral("café"),     QString(QChar(0xFEFF)),
                std::nullopt, std::nullopt, QStringLiteral("03/14/02"), std::nullopt,
                std::nullopt, std::nullopt};
            QVERIFY(got.rows == (std::vector<std::vector<FieldValue>>{first, std::vector<FieldValue>(10)}));
        }
    }

    void jetDatesBecomeTheLastLoginText_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("text"); // empty: no value
        QTest::newRow("with a time of day") << 37329.75 << "03/14/02";
        QTest::newRow("before 1900, noon") << -1.5 << "12/29/99";
        QTest::newRow("first day Access holds") << -657434.0 << "01/01/00";
        QTest::newRow("last day Access holds") << 2958465.99 << "12/31/99";
        QTest::newRow("past the last day") << 2958466.0 << QString();
        QTest::newRow("before the first day") << -657435.0 << QString();
        QTest::newRow("not a number") << std::nan("") << QString();
    }
    void jetDatesBecomeTheLastLoginText()
    {
        QFETCH(double, days);
        QFETCH(QString, text);
        QCOMPARE(jetDateText(days, QLocale(QLocale::English, QLocale::UnitedStates)).value_or(QString()), text);
    }

    void everyRowAndFieldComesOverExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("backup"); // the name the original is kept under
        QTest::newRow("Jet 3") << "programs_jet3" << DataFileName + ".jet-backup";
        QTest::newRow("Jet 4, beside an older backup it never replaces")
            << "programs_jet4" << DataFileName + ".jet-backup.1";
    }
    void everyRowAndFieldComesOverExactly()
    {
        QFETCH(QString, name);
        QFETCH(QString, backup);
        const QByteArray original = sample(name + ".mdb");
        const Folder folder(original);
        const QString older = MigrationFiles::backup(folder.path());
        if (backup != DataFileName + ".jet-backup")
            writeFileBytes(older, "an older backup of something else");
        // Told once; the next start finds its own file and says nothing.
        ScriptedMessages messages;
        QVERIFY(prepareDataFile(folder.path(), Importer) && prepareDataFile(folder.path(), Importer));
        QCOMPARE(messages.shown.size(), 1);
        // Field by field: no value apart from empty text, the long memo whole, every character as stored.
        const auto expected = expectedRows(name + ".json");
        QVERIFY(readAllRows(folder.dataFile()) == expected);
        QVERIFY(messages.shown[0].prompt.contains(QStringLiteral("brought over %1 programs").arg(expected.size())));

        const QString kept = QDir(folder.path()).filePath(backup);
        QCOMPARE(fileBytes(kept), original);
        QVERIFY(kept == older || fileBytes(older) == "an older backup of something else");
        for (const QString& file : {folder.dataFile(), kept})
            QCOMPARE(QFile::permissions(file),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // A file that cannot be converted, a reader that crashes, hangs, runs away with memory, skips rows or talks
    // nonsense, a cancel, another copy at work, or an original changed meanwhile: one message, and the folder
    // exactly as it was.
    void everyFailureLeavesTheFolderAsItWas_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("importer");
        QTest::addColumn<QString>("reason");
        const QByteArray jet3 = sample("programs_jet3.mdb");
        QTest::newRow("no Programs") << sample("overflowTestV2000.mdb") << Importer << "no table named Programs";
        QTest::newRow("a field missing") << QByteArray(jet3).replace("ProStart", "ProStarX") << Importer
                                         << "has no field ProStart";
        QTest::newRow("cut after its first page") << jet3.first(2048) << Importer << "could not be";
        QTest::newRow("the new file's name is taken, told as the windows tell a numbered error")
            << jet3 << Importer << QStringLiteral("format: Error %1: Cannot create").arg(EEXIST);
        // The 40,800-character memo made to claim one character more than its pages hold: the reader would hand
        // over the 40,800 as if they were all of it.
        QTest::newRow("a memo longer than its pages")
            << QByteArray(jet3).replace(QByteArray::fromHex("609f0000"), QByteArray::fromHex("619f0000")) << Importer
            << "could not be read";
        QTest::newRow("the reader crashes") << sample("crash_libmdb_jet3.mdb") << Importer << "stopped unexpectedly";
        QTest::newRow("the user cancels") << jet3 << Importer << "cancelled";
        QTest::newRow("the original changes meanwhile") << jet3 << Importer << "changed while it was being converted";
        QTest::newRow("another copy is converting it") << jet3 << Importer << "another copy of Kestrella is converting";

        const QString fake = QCoreApplication::applicationFilePath();
        const auto asking = [&](const char* what, const QByteArray& asked, const QString& reason) {
            QTest::newRow(what) << JetSignature + '\n' + asked << fake << reason;
        };
        asking("the reader hangs", "HANG", "did not finish within 1 s");
        asking("the reader wants too much memory", "HOG SAY=" + stream("T0\nE0\n"), "stopped unexpectedly");
        asking("the reader skips rows", "SAY=" + stream("T5\nR" + TenNulls + "\nR" + TenNulls + "\nE2\n"),
               "only 2 of the 5 programs");
        asking("the reader ends without a word", "SILENT", "stopped with status 7");
        const QString nonsense = QStringLiteral("output Kestrella cannot take");
        asking("output: another program's", "SAY=Hello\n", nonsense);
        asking("output: nothing at all", "SAY=", nonsense);
        asking("output: rows before the total", "SAY=" + stream("R" + TenNulls + "\n"), nonsense);
        asking("output: nine fields", "SAY=" + stream("T1\nRNNNNNNNNN\nE1\n"), nonsense);
        asking("output: eleven fields", "SAY=" + stream("T1\nR" + TenNulls + "N\nE1\n"), nonsense);
        asking("output: no last line", "SAY=" + stream("T1\nR" + TenNulls + "\n"), nonsense);
        asking("output: more rows than it says", "SAY=" + stream("T2\nR" + TenNulls + "\nR" + TenNulls + "\nE1\n"),
               nonsense);
        asking("output: more after the last line", "SAY=" + stream("T0\nE0\nT0\n"), nonsense);
        asking("output: not UTF-8", "SAY=" + stream("T1\nRS2:\xC3\x28NNNNNNNNN\nE1\n"), nonsense);
        asking("output: a date in the name", "SAY=" + stream("T1\nRD5:37329NNNNNNNNN\nE1\n"), nonsense);
        QTest::newRow("the reader is not there")
            << JetSignature << QDir::temp().filePath("no-such-importer") << "could not be started";
    }
    void everyFailureLeavesTheFolderAsItWas()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, importer);
        QFETCH(QString, reason);
        const QByteArrayView tag(QTest::currentDataTag());
        if (tag.contains("memory") && !importerMemoryLimitApplies())
            QSKIP("This build runs the reader without a memory limit (AddressSanitizer reserves terabytes)");
        const Folder folder(bytes);
        MigrationProgressWindow progress;
        MigrationOptions options{importer};
        if (tag.contains("hangs"))
            options.timeLimit = std::chrono::seconds(1);
        if (tag.contains("cancels")) {
            progress.dialog()->cancel(); // as the user's click on its Cancel button
            options.observer = &progress;
        }
        std::optional<QLockFile> otherCopy;
        if (tag.contains("another copy")) {
            otherCopy.emplace(MigrationFiles::lock(folder.path()));
            QVERIFY(otherCopy->tryLock(0));
        }
        // At the backup copy's sync, the second after the lock's, what is converted is already read.
        atSync = [&](int sync) {
            if (sync == 2 && tag.contains("taken"))
                QDir().mkdir(MigrationFiles::newFile(folder.path()));
            if (sync == 2 && tag.contains("changes"))
                writeFileBytes(folder.dataFile(), bytes += 'x');
        };
        syncs = 0;
        const MigrationOutcome outcome = migrateDataFile(folder.path(), options);
        atSync = nullptr;
        otherCopy.reset();
        QCOMPARE(outcome.result, MigrationOutcome::Result::Failed);
        QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
        QVERIFY(outcome.message.contains(QStringLiteral("has not been changed")));
        QCOMPARE(fileBytes(folder.dataFile()), bytes);
        QCOMPARE(folder.entries(), QStringList{DataFileName});
        if (tag.contains("another copy")) // that copy gone, the next start converts
            QCOMPARE(migrateDataFile(folder.path(), {Importer}).result, MigrationOutcome::Result::Migrated);
    }

    // Killed before each sync of a migration in a process of its own: the untouched Access file or the complete new
    // one, and the next start finishes the job, keeps one backup equal to the original and clears what was left.
    void killedAtAnyStepTheNextStartFinishes()
    {
        const QByteArray original = sample("programs_jet4.mdb");
        const auto expected = expectedRows("programs_jet4.json");
        for (int sync = 1;; ++sync) {
            const Folder folder(original);
            QProcess runner;
            runner.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--die-at-sync"), QString::number(sync), folder.path()});
            QVERIFY(runner.waitForFinished(60000));
            if (runner.exitStatus() == QProcess::NormalExit) {
                qInfo("killed at each of %d syncs", sync - 1);
                QVERIFY2(sync > 4, "the migration syncs after each of its steps");
                break;
            }
            const QString at = QStringLiteral("killed at sync %1: ").arg(sync);
            const QByteArray left = fileBytes(folder.dataFile());
            QVERIFY2(left == original || (!left.isEmpty() && readAllRows(folder.dataFile()) == expected),
                     qPrintable(at));
            const MigrationOutcome again = migrateDataFile(folder.path(), {Importer});
            QVERIFY2(again.result != MigrationOutcome::Result::Failed, qPrintable(at + again.message));
            QVERIFY2(readAllRows(folder.dataFile()) == expected, qPrintable(at));
            QCOMPARE(folder.entries(), QStringList({DataFileName, DataFileName + ".jet-backup"}));
            QCOMPARE(fileBytes(MigrationFiles::backup(folder.path())), original);
        }
    }

    // A file another tool made gets the indexes before the main window opens, with a window when that takes a while
    // (a reader holding the file makes the build wait at its commit); one that cannot take them now goes on without
    // them, at once (else the window would show).
    void startUpAddsTheIndexesAFileLacks_data()
    {
        QTest::addColumn<QString>("hold");
        QTest::addColumn<bool>("built");
        QTest::newRow("a reader holds up the commit: the window shows meanwhile") << "reader" << true;
        QTest::newRow("read-only file: goes on without") << "read-only" << false;
        QTest::newRow("another writer holds the file: goes on without") << "writer" << false;
    }
    void startUpAddsTheIndexesAFileLacks()
    {
        QFETCH(QString, hold);
        QFETCH(bool, built);
        const Folder folder{QByteArray()};
        createDatabase(folder.dataFile(), {{"Beta"}, {"alpha"}});
        sqlite3* reader = nullptr;
        const auto closeReader = qScopeGuard([&] { sqlite3_close(reader); });
        std::optional<FileLock> writer;
        const auto backToRoot = qScopeGuard([] { (void)::seteuid(0); });
        if (hold == "reader") {
            sqlite3_open(QFile::encodeName(folder.dataFile()).constData(), &reader);
            sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM Programs", nullptr, nullptr, nullptr);
        } else if (hold == "writer") {
            writer.emplace(folder.dataFile(), true);
        } else { // root writes through any permission: the file's owner is an unprivileged user, who starts it
            QFile::setPermissions(folder.dataFile(), QFile::ReadOwner);
            for (const QString& path : {folder.path(), folder.dataFile()})
                QVERIFY(::geteuid() != 0 || ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
            QVERIFY(::geteuid() != 0 || ::seteuid(65534) == 0);
        }
        bool shown = false;
        QTimer poll; // runs only while start-up keeps events flowing
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                shown |= top->objectName() == QStringLiteral("frmPrepare") && top->isVisible();
            if (shown)
                sqlite3_close(std::exchange(reader, nullptr));
        });
        poll.start(20);
        QVERIFY(prepareDataFile(folder.path(), Importer));
        QCOMPARE(shown, built);
        for (const QString& index : built ? programsIndexNames() : QStringList()) // a missing one ends the run
            runSql(folder.dataFile(), QStringLiteral("SELECT * FROM Programs INDEXED BY ") + index);
    }
};

int main(int argc, char* argv[])
{
    // Run as the reader: its one argument is the path of the file to read, never a test's name.
    if (argc == 2 && argv[1][0] == '/')
        return fakeImporter(argv[1]);
    // "--die-at-sync N FOLDER": migrates the folder's data file and dies just before its N-th sync, as a crash or a
    // power cut would cut it short (a kill needs a process of its own).
    if (argc == 4 && qstrcmp(argv[1], "--die-at-sync") == 0) {
        QCoreApplication app(argc, argv);
        atSync = [last = std::atoi(argv[2])](int sync) {
            if (sync == last)
                std::raise(SIGKILL);
        };
        migrateDataFile(QString::fromLocal8Bit(argv[3]), {Importer});
        return 0;
    }
    QApplication app(argc, argv);
    TestMigrate test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_migrate.moc"
