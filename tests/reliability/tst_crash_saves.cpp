// A process killed at random moments while it saves through the main window loses nothing Save confirmed, never
// leaves an edit half applied, and never leaves a damaged file.
#include "reliability.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <map>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// Opened read-write, as the program's next start opens it: a journal the kill left behind is rolled back first.
QString integrityCheck(const QString& path)
{
    sqlite3* db = nullptr;
    QString result = QStringLiteral("cannot open");
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
        result = sqlite3_step(st) == SQLITE_ROW
                     ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)))
                     : QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

// The version of the crash record that the row is wholly made of; -1 when its fields come from two versions.
int wholeVersion(const StoredRow& row)
{
    if (!row[0])
        return -1;
    for (int version = 0; version <= CrashEdits; ++version) {
        const QStringList expected = crashRecord(*row[0], version);
        if (std::equal(row.begin(), row.end(), expected.begin(),
                       [](const std::optional<QString>& stored, const QString& e) { return stored == e; }))
            return version;
    }
    return -1;
}

} // namespace

class TestCrashSaves : public QObject
{
    Q_OBJECT

private slots:
    void confirmedSavesSurviveKills()
    {
        const int kills = scaled(40, 20);
        QTemporaryDir dir;
        const QString file = dir.filePath(DataFileName);
        QRandomGenerator random(20260305); // fixed, so a failing run can be repeated
        std::map<QString, int> confirmed;  // name -> last version Save confirmed
        int midWrite = 0, saves = 0;

        for (int kill = 0; kill < kills; ++kill) {
            QProcess driver;
            driver.start(driverPath(), {dir.path(), QString::number(kill)});
            QByteArray out;
            while (!out.contains("ready\n")) {
                QVERIFY2(driver.waitForReadyRead(20000), driver.readAllStandardError().constData());
                out += driver.readAllStandardOutput();
            }
            QThread::msleep(random.bounded(20, 151));
            QVERIFY2(driver.state() == QProcess::Running, (out + driver.readAllStandardError()).constData());
            ::kill(pid_t(driver.processId()), SIGKILL);
            driver.waitForFinished();
            out += driver.readAllStandardOutput();

            // Only whole lines count: each was printed after its Save returned.
            QList<QByteArray> lines = out.split('\n');
            lines.removeLast();
            for (const QByteArray& line : lines) {
                const QList<QByteArray> words = line.split(' ');
                if (words.size() == 3 && words[0] == "saved") {
                    confirmed[QString::fromUtf8(words[1])] = words[2].toInt();
                    ++saves;
                }
            }

            midWrite += QFileInfo(file + QStringLiteral("-journal")).size() > 0;
            QCOMPARE(integrityCheck(file), QStringLiteral("ok"));
            std::map<QString, std::vector<int>> stored;
            for (const StoredRow& row : readAllRows(file)) {
                QVERIFY2(wholeVersion(row) >= 0, qPrintable(row[0].value_or("NULL") + " mixes versions"));
                stored[row[0].value_or(QString())].push_back(wholeVersion(row));
            }
            for (const auto& [name, version] : confirmed) {
                // A kill between the commit and the printing may leave one later edit stored, never an earlier one.
                const std::vector<int>& versions = stored[name];
                QVERIFY2(versions.size() == 1 && versions[0] >= version && versions[0] <= version + 1,
                         qPrintable(QStringLiteral("kill %1: %2 confirmed at v%3").arg(kill).arg(name).arg(version)));
            }
        }
        qInfo("crash-during-saves: kills=%d killed-mid-write=%d confirmed-saves=%d", kills, midWrite, saves);
        QVERIFY(saves >= kills); // the kills did land among saves
    }
};

QTEST_GUILESS_MAIN(TestCrashSaves)
#include "tst_crash_saves.moc"
