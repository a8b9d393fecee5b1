// Files that are not what they claim: start-up on each reports it and leaves every byte as it was, and never
// crashes. Each start runs in a process of its own, so a crash is counted rather than ending the test.
#include "records/datasource.h"
#include "reliability.h"
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

struct StartUp
{
    bool crashed = false;
    bool started = false;
    QStringList messages;
    QString walk; // how reading every record went, when it started
};

StartUp startOn(const QString& folder)
{
    QProcess driver;
    driver.start(driverPath(), {QStringLiteral("start"), folder});
    driver.waitForFinished(60000);
    StartUp result;
    result.crashed = driver.exitStatus() != QProcess::NormalExit || driver.exitCode() > 1;
    result.started = driver.exitCode() == 0;
    for (const QString& line : QString::fromUtf8(driver.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("message: ")))
            result.messages << line.mid(9);
        else if (line.startsWith(QLatin1String("loaded ")))
            result.walk = line;
    }
    if (result.crashed)
        qWarning("start-up crashed: %s", driver.readAllStandardError().constData());
    return result;
}

// A file as the program writes it: made by the store itself, indexes and all, with records over several pages.
QByteArray storeMadeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("made.mdb"));
    DataSource store;
    store.setDatabaseName(path);
    store.refresh();
    for (int i = 0; i < 40; ++i) {
        const QStringList fields = crashRecord(QStringLiteral("Program %1").arg(i), i % (CrashEdits + 1));
        store.recordset().addNew();
        for (int f = 0; f < fields.size(); ++f)
            store.recordset().fields(ProgramFields::all().at(f)).setValue(fields.at(f));
        store.recordset().update();
    }
    store.close();
    return fileBytes(path);
}

QByteArray alteredWith(const QString& sql)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("altered.mdb"));
    createDatabase(path, {{"Alpha", "Other"}});
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const bool done = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!done)
        qFatal("could not prepare the file: %s", qPrintable(sql));
    return fileBytes(path);
}

} // namespace

class TestBadFiles : public QObject
{
    Q_OBJECT

private slots:
    void aZeroByteFileBecomesAnEmptyDatabaseOnPurpose()
    {
        // SQLite reads zero bytes as an empty database; the first run makes its table in it, owner-only.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("datReferral.mdb"));
        writeFileBytes(path, {});
        const StartUp run = startOn(dir.path());
        QVERIFY(!run.crashed);
        QVERIFY(run.started);
        QVERIFY(run.messages.isEmpty());
        QCOMPARE(run.walk, QStringLiteral("loaded 0 read"));
        QVERIFY(readAllRows(path).empty());
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    void startUpReportsABadFileAndLeavesItAsItWas()
    {
        const QByteArray made = storeMadeFile();
        QList<std::pair<QString, QByteArray>> files = {
            {QStringLiteral("random bytes"), {}},
            {QStringLiteral("text file"), QByteArray("My programs:\r\nAlpha  alpha-user  secret\r\n").repeated(20)},
            {QStringLiteral("cut at 100 bytes"), made.left(100)},
            {QStringLiteral("cut at half"), made.left(made.size() / 2)},
            {QStringLiteral("one byte short"), made.left(made.size() - 1)},
            {QStringLiteral("no Programs table"), alteredWith(QStringLiteral("drop table Programs; "
                                                                             "create table Other (ProName TEXT)"))},
            {QStringLiteral("missing a field"),
             alteredWith(QStringLiteral("alter table Programs drop column ProRate"))},
        };
        QRandomGenerator random(20260305);
        files[0].second.resize(8192);
        for (char& c : files[0].second)
            c = char(random.bounded(256));
        const int copies = scaled(100, 50);
        for (int copy = 0; copy < copies; ++copy) {
            // Half the copies are hit in the header, the schema and the first pages of the table, where SQLite can
            // tell; a flipped letter inside a record's text is a sound file with other text, which nothing can tell.
            const qsizetype range = copy % 2 == 0 ? 3 * 4096 : made.size();
            QByteArray flipped = made;
            for (int n = int(random.bounded(1, 5)); n > 0; --n)
                flipped[random.bounded(range)] ^= char(random.bounded(1, 256));
            files.append({QStringLiteral("flipped copy %1").arg(copy), flipped});
        }
        const QString asMade = QStringLiteral("the file as made, to compare");
        files.append({asMade, made});

        int crashes = 0, changed = 0, leftovers = 0, refused = 0, started = 0, unreadable = 0;
        QStringList problems;
        QMap<QString, int> refusals;
        for (const auto& [what, bytes] : files) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("datReferral.mdb"));
            writeFileBytes(path, bytes);
            const StartUp run = startOn(dir.path());
            crashes += run.crashed;
            if (fileBytes(path) != bytes) {
                ++changed;
                problems << what + QStringLiteral(": bytes changed");
            }
            if (QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() != 1) {
                ++leftovers;
                problems << what + QStringLiteral(": files left beside it");
            }
            const bool mayStart = what.startsWith(QLatin1String("flipped")) || what == asMade;
            if (what == asMade && run.walk != QStringLiteral("loaded 40 read"))
                problems << what + QStringLiteral(": ") + run.walk;
            if (run.started) {
                ++started;
                unreadable += run.walk.contains(QLatin1String("unreadable"));
                if (!mayStart || !run.messages.isEmpty())
                    problems << what + QStringLiteral(": started: ") + run.messages.join(QLatin1Char('|'));
            } else {
                ++refused;
                if (!run.messages.isEmpty())
                    ++refusals[run.messages[0].section(QLatin1Char(':'), 0, 0)];
                // Said once, as the store's number and text.
                static const QRegularExpression storeError(QStringLiteral("^Error \\d+: .+"));
                if (run.messages.size() != 1 || !storeError.match(run.messages[0]).hasMatch())
                    problems << what + QStringLiteral(": refused with ") + run.messages.join(QLatin1Char('|'));
            }
        }
        qInfo("bad-files: files=%d refused=%d started=%d (of which unreadable later=%d) bytes-changed=%d "
              "files-left-beside=%d crashes=%d",
              int(files.size()), refused, started, unreadable, changed, leftovers, crashes);
        for (auto it = refusals.cbegin(); it != refusals.cend(); ++it)
            qInfo("bad-files: refused with %s: %d", qPrintable(it.key()), it.value());
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QCOMPARE(crashes, 0);
        QCOMPARE(changed, 0);
    }
};

QTEST_MAIN(TestBadFiles)
#include "tst_bad_files.moc"
