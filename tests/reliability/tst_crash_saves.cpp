// A process killed while it saves through the main window loses nothing Save confirmed, never leaves an edit half
// applied, and never leaves a damaged file. Half the kills come right after one of the store's writes, mostly inside a
// commit, where only the journal keeps the file whole; the others at random moments.
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QMetaProperty>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <csignal>
#include <dlfcn.h>
#include <map>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

constexpr int Kills = 30;
constexpr int Edits = 3; // each record is added, then edited this often
const char* const Boxes[] = {"txtProName", "txtProUserName", "txtProPassword", "txtProLogin", "txtProUrlReferral",
                             "txtStart",   "txtLastLogin",   "cboType",        "cboRateit",   "txtComments"};

// Every field of a record names its version, so a row whose fields come from two versions is told apart. Long
// comments run over several pages, so one Save writes several pages.
StoredRow crashRecord(const QString& name, int version)
{
    StoredRow row{name};
    for (size_t field = Col::UserName; field < Col::Comments; ++field)
        row.push_back(QStringLiteral("%1 v%2 f%3").arg(name).arg(version).arg(field));
    row.push_back(QStringLiteral("%1 v%2 line\n").arg(name).arg(version).repeated(version % 2 ? 400 : 3));
    row[Col::Type] = programTypes().at(version % programTypes().size());
    row[Col::Rate] = programRatings().at(version % programRatings().size());
    return row;
}

// Once armed, the driver dies right after one of the store's writes: most such kills land inside a commit.
int writesLeft = 0; // 0: never
extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset)
{
    using Write = ssize_t (*)(int, const void*, size_t, off64_t);
    const ssize_t written = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "pwrite64"))(fd, data, size, offset);
    if (writesLeft > 0 && --writesLeft == 0)
        std::raise(SIGKILL);
    return written;
}

// Adds and edits records for ever, saying "saved <name> <version>" once each Save has returned.
int drive(const QString& folder, const QString& run, int writes)
{
    ScriptedMessages messages;
    frmMain window(folder);
    if (!window.Form_Load())
        return 2;
    // A line per write: a kill never leaves half of one.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    writesLeft = writes; // armed only now: the start itself is never cut short
    std::puts("ready");
    for (int serial = 0;; ++serial) {
        const QString name = QStringLiteral("R%1-%2").arg(run).arg(serial);
        for (int version = 0; version <= Edits; ++version) {
            if (version > 0) // Edit is offered for a picked record only
                window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"))
                    ->setCurrentIndex(window.programList().index(window.programList().rowOf(name)));
            window.findChild<QToolButton*>(QLatin1String(version == 0 ? "cmdAdd" : "cmdModify"))->click();
            const StoredRow fields = crashRecord(name, version);
            for (size_t i = 0; i < fields.size(); ++i) {
                QWidget* box = window.findChild<QWidget*>(QString::fromLatin1(Boxes[i]));
                box->metaObject()->userProperty().write(box, *fields[i]); // its text, or the entry it shows
            }
            window.findChild<QToolButton*>(QStringLiteral("cmdSave"))->click();
            if (window.changePending() || !messages.shown.isEmpty()) {
                qWarning("Save refused: %s", qPrintable(messages.shown.value(0).prompt));
                return 3;
            }
            std::puts(qPrintable(QStringLiteral("saved %1 %2").arg(name).arg(version)));
        }
    }
}

// Opened read-write, as the next start opens it: a journal the kill left behind is rolled back first.
QString integrityCheck(const QString& path)
{
    sqlite3* db = nullptr;
    QString result;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** values, char**) { return *static_cast<QString*>(out) += values[0], 0; }, &result,
        nullptr);
    sqlite3_close(db);
    return result;
}

} // namespace

class TestCrashSaves : public QObject
{
    Q_OBJECT

private slots:
    void confirmedSavesSurviveKills()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(DataFileName);
        QRandomGenerator random(20260305); // fixed, so a failing run can be repeated
        std::map<QString, int> confirmed;  // name -> last version Save confirmed
        int midWrite = 0;
        for (int kill = 0; kill < Kills; ++kill) {
            const int writes = kill % 2 ? random.bounded(1, 60) : 0;
            QProcess driver;
            driver.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--drive"), dir.path(), QString::number(kill), QString::number(writes)});
            // "ready" comes in one write, before any other line.
            QVERIFY2(driver.waitForReadyRead(20000), driver.readAllStandardError().constData());
            QByteArray out = driver.readAllStandardOutput();
            if (writes == 0) {
                QThread::msleep(random.bounded(20, 151));
                ::kill(pid_t(driver.processId()), SIGKILL);
            }
            QVERIFY(driver.waitForFinished(20000));
            QVERIFY2(driver.exitStatus() == QProcess::CrashExit, driver.readAllStandardError().constData());

            // Only whole lines count: each was said after its Save returned.
            out += driver.readAllStandardOutput();
            for (const QByteArray& line : out.first(out.lastIndexOf('\n')).split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                if (words[0] == "saved")
                    confirmed[QString::fromUtf8(words[1])] = words[2].toInt();
            }
            midWrite += QFileInfo(file + QStringLiteral("-journal")).size() > 0;
            QCOMPARE(integrityCheck(file), QStringLiteral("ok"));
            std::map<QString, std::vector<int>> stored;
            for (const StoredRow& row : readAllRows(file)) {
                int version = Edits; // the one the row is wholly made of
                while (version >= 0 && row != crashRecord(row[0].value_or("NULL"), version))
                    --version;
                QVERIFY2(version >= 0, qPrintable(row[0].value_or("NULL") + " mixes versions"));
                stored[*row[0]].push_back(version);
            }
            for (const auto& [name, version] : confirmed) {
                // A kill between the commit and the saying may leave one later edit stored, never an earlier one.
                const std::vector<int>& versions = stored[name];
                QVERIFY2(versions.size() == 1 && versions[0] >= version && versions[0] <= version + 1,
                         qPrintable(QStringLiteral("kill %1: %2 confirmed at v%3").arg(kill).arg(name).arg(version)));
            }
        }
        qInfo("%d kills, %d mid-write, %zu records confirmed", Kills, midWrite, confirmed.size());
        QVERIFY(midWrite >= Kills / 2); // the aimed kills at least
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--drive") == 0)
        return drive(QString::fromLocal8Bit(argv[2]), QString::fromLatin1(argv[3]), std::atoi(argv[4]));
    TestCrashSaves test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_crash_saves.moc"
