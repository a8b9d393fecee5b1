// Files the program cannot write: every write the user asks for shows the store's number and text, keeps what was
// typed, leaves the file and the list as they were, and goes through once the fault is lifted.
#include "mainwindowfixture.h"
#include "shutdown/frmclosing.h"

#include <QScopeGuard>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

enum Fault
{
    ReadOnlyFile,
    ReadOnlyFolder,
    Locked,
    FullDisk
};
const char* const FaultNames[] = {"read-only file", "writable file in a read-only folder",
                                  "locked by another connection", "full disk"};

// What the window is doing when the command comes; no command: the closing walk.
const std::tuple<const char*, QString, QString> Actions[] = {{"Add", "", "cmdAdd"},
                                                             {"Save while adding", "adding", "cmdSave"},
                                                             {"Save while editing", "editing", "cmdSave"},
                                                             {"Delete", "picked", "cmdDelete"},
                                                             {"Reset Last Login", "picked", "cmdResetLogin"},
                                                             {"Exit while adding", "adding", "cmdExit"},
                                                             {"Exit while editing", "editing", "cmdExit"},
                                                             {"closing walk", "", ""}};

const QString TypedName = QStringLiteral("Typed name"), TypedComments = QStringLiteral("typed\ncomments");
constexpr uid_t Nobody = 65534;

// What the user sees: the typed text, the count, the list, and whether a change is pending.
QStringList seen(const MainWindowFixture& f)
{
    return QStringList{f.shownName(), f.control<QPlainTextEdit>("txtComments")->toPlainText(), f.count(),
                       QString::number(f.window->changePending()), QString::number(f.window->editingExisting())} +
           f.listed();
}

// Runs the command, or the closing walk, and returns what the walk left in its status.
QString act(MainWindowFixture& f, const QString& command)
{
    if (command.isEmpty()) {
        frmClosing closing(f.dir.path());
        closing.ClosingWalk();
        return closing.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
    }
    if (command == "cmdDelete")
        f.messages.queueAnswer(MessageAnswer::Yes);
    f.control<QAbstractButton>(qPrintable(command))->click();
    return {};
}

} // namespace

class TestWriteFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { frmClosing::setTickInterval(10); }
    void cleanup() { delete topLevelWindow<frmClosing>().data(); }

    void aRefusedWriteIsShownAndNothingIsLost_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("command");
        for (const int fault : {ReadOnlyFile, ReadOnlyFolder, Locked, FullDisk}) {
            for (const auto& [name, state, command] : Actions) {
                // A read-only file refuses Add itself, so there is no adding state to save or exit from.
                if (fault == ReadOnlyFile ? state != "adding" : command != "cmdAdd")
                    QTest::addRow("%s / %s", FaultNames[fault], name) << fault << state << command;
            }
        }
    }
    void aRefusedWriteIsShownAndNothingIsLost()
    {
        QFETCH(int, fault);
        QFETCH(QString, state);
        QFETCH(QString, command);
        // SQLite names the folder's refusal (no journal can be made there) as it names a read-only file.
        const int code = fault == Locked ? SQLITE_BUSY : fault == FullDisk ? SQLITE_FULL : SQLITE_READONLY;
        const QString refusal = QStringLiteral("Error %1: %2").arg(code).arg(QLatin1String(sqlite3_errstr(code)));
        const bool typing = state == "adding" || state == "editing";

        MainWindowFixture f;
        const QByteArray folder = QFile::encodeName(f.dir.path()), file = QFile::encodeName(f.dataFile());
        const QString filler = f.dir.filePath(QStringLiteral("filler"));
        // A mount made in a namespace of the test's own vanishes with it, whatever becomes of the test.
        if (fault == FullDisk &&
            (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=1m,mode=0700") != 0))
            QSKIP(qPrintable(QStringLiteral("no tmpfs can be mounted here: ") + std::strerror(errno)));
        std::optional<FileLock> lock;
        const auto lift = [&] {
            ::chmod(file.constData(), 0600);
            ::chmod(folder.constData(), 0700);
            lock.reset();
            QFile::remove(filler);
        };
        const auto restore = qScopeGuard([&] {
            f.window.reset(); // lets go of the file before the fault's folder goes
            lift();
            (void)::seteuid(0);
            (void)::setegid(0);
            if (fault == FullDisk)
                ::umount2(folder.constData(), MNT_DETACH);
        });
        createDatabase(f.dataFile(), {{"Alpha", "Other"}, {std::nullopt}});
        // Root writes through any permission: as root the test acts as an unprivileged user owning the folder and
        // the file, so that permissions stop it as they stop a user.
        if (::geteuid() == 0 && fault <= ReadOnlyFolder)
            QVERIFY(::chown(folder.constData(), Nobody, Nobody) == 0 &&
                    ::chown(file.constData(), Nobody, Nobody) == 0 && ::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0);
        const auto apply = [&] {
            if (fault == ReadOnlyFile)
                ::chmod(file.constData(), 0444);
            else if (fault == ReadOnlyFolder)
                ::chmod(folder.constData(), 0555);
            else if (fault == Locked)
                lock.emplace(f.dataFile(), command.isEmpty()); // the closing walk reads to reach its deletion
            else
                writeFileBytes(filler, QByteArray(1 << 20, 'x')); // as much as fits: the disk is full
        };

        if (fault == ReadOnlyFile)
            apply();
        QVERIFY(f.startOnExistingFile());
        if (state == "picked" || state == "editing")
            f.pick("Alpha");
        if (typing) {
            f.click(state == "adding" ? "cmdAdd" : "cmdModify");
            f.type("txtProName", TypedName);
            f.type("txtComments", TypedComments);
        }
        const QStringList before = seen(f);
        const std::vector<StoredRow> stored = readAllRows(f.dataFile());
        if (fault != ReadOnlyFile)
            apply();

        // Said once, with the store's own number and text. Delete asks first; the closing walk never shows a box.
        const qsizetype question = command == "cmdDelete" ? 1 : 0, messages = f.messages.shown.size();
        const QString status = act(f, command);
        QCOMPARE(f.messages.shown.size(), messages + question + (command.isEmpty() ? 0 : 1));
        if (command.isEmpty())
            QCOMPARE(status, QStringLiteral("Cleaning failed. ") + refusal);
        else
            QCOMPARE(f.messages.shown.last().prompt, refusal);
        QVERIFY(f.window->isVisible() && !topLevelWindow<frmClosing>());
        QCOMPARE(seen(f), before);
        QVERIFY(!QGuiApplication::overrideCursor());
        lift();
        QVERIFY2(readAllRows(f.dataFile()) == stored, "the refused action changed the file");

        // The fault lifted, the same action goes through.
        const QString statusAfter = act(f, command);
        QCOMPARE(f.messages.shown.size(), messages + 2 * question + (command.isEmpty() ? 0 : 1));
        if (command == "cmdAdd")
            QVERIFY(f.window->changePending());
        else if (typing)
            QVERIFY2(findRow(f.dataFile(), TypedName).value_or(StoredRow(10))[Col::Comments] == TypedComments,
                     "what was typed did not reach the file once the fault was lifted");
        else
            QVERIFY2(readAllRows(f.dataFile()) != stored, "the action did not go through once the fault was lifted");
        QCOMPARE(f.window->isVisible(), command != "cmdExit");
        QVERIFY(!command.isEmpty() || statusAfter == QStringLiteral("Cleaning Data"));
    }
};

QTEST_MAIN(TestWriteFaults)
#include "tst_write_faults.moc"
