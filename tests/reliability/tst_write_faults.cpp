// Files the program cannot write: every write the user asks for shows the store's number and text, keeps what was
// typed, leaves the file as it was, and succeeds once the fault is lifted.
#include "mainwindowfixture.h"
#include "shutdown/frmclosing.h"

#include <atomic>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
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
// SQLite names the folder's refusal (no journal can be made there) as it names a read-only file.
const int FaultCodes[] = {SQLITE_READONLY, SQLITE_READONLY, SQLITE_BUSY, SQLITE_FULL};

enum Action
{
    Add,
    SaveAdding,
    SaveEditing,
    Delete,
    ResetLastLogin,
    ExitAdding,
    ExitEditing,
    ClosingWalk
};
const char* const ActionNames[] = {"Add",
                                   "Save while adding",
                                   "Save while editing",
                                   "Delete",
                                   "Reset Last Login",
                                   "Exit while adding",
                                   "Exit while editing",
                                   "closing walk"};

struct TypedText
{
    const char* box;
    size_t column;
    QString text;
};
const TypedText Typed[] = {{"txtProName", Col::Name, "Typed name"},
                           {"txtProPassword", Col::Password, "typed 'password\""},
                           {"txtComments", Col::Comments, "typed\ncomments"}};
const QString Today = QStringLiteral("03/05/26"); // the fixture's clock
constexpr uid_t Nobody = 65534;

QString mountRefusal; // why no file system can be mounted here; empty when one can

// Holds one fault in place in the folder of the data file, and lifts it again.
class FaultInPlace
{
public:
    FaultInPlace(Fault fault, const QString& folder)
        : m_fault(fault)
        , m_folder(QFile::encodeName(folder))
        , m_file(QFile::encodeName(folder + '/' + DataFileName))
    {
        if (fault == FullDisk && ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, "size=1m,mode=0700") != 0)
            qFatal("mounting a tmpfs failed: %s", std::strerror(errno));
    }
    ~FaultInPlace()
    {
        lift();
        (void)::seteuid(0);
        (void)::setegid(0);
        if (m_fault == FullDisk)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }

    // Root writes through any permission: as root the test acts as an unprivileged user owning the folder and the
    // file, so that permissions stop it as they stop a user.
    void takeOver()
    {
        if (::geteuid() != 0 || m_fault > ReadOnlyFolder)
            return;
        if (::chown(m_folder.constData(), Nobody, Nobody) != 0 || ::chown(m_file.constData(), Nobody, Nobody) != 0 ||
            ::setegid(Nobody) != 0 || ::seteuid(Nobody) != 0)
            qFatal("cannot act as an unprivileged user: %s", std::strerror(errno));
    }

    void apply(bool readersMayPass)
    {
        if (m_fault == ReadOnlyFile)
            ::chmod(m_file.constData(), 0444);
        else if (m_fault == ReadOnlyFolder)
            ::chmod(m_folder.constData(), 0555);
        else if (m_fault == Locked)
            m_lock.emplace(QFile::decodeName(m_file), readersMayPass); // the closing walk reads to reach its deletion
        else {
            QFile filler(QFile::decodeName(m_folder + "/filler"));
            filler.open(QIODevice::WriteOnly);
            while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
            }
        }
    }

    void lift()
    {
        ::chmod(m_file.constData(), 0600);
        ::chmod(m_folder.constData(), 0700);
        m_lock.reset();
        QFile::remove(QFile::decodeName(m_folder + "/filler"));
    }

private:
    Fault m_fault;
    QByteArray m_folder;
    QByteArray m_file;
    std::optional<FileLock> m_lock;
};

void typeEverything(MainWindowFixture& f)
{
    for (const TypedText& typed : Typed)
        typeInto(f.control<QWidget>(typed.box), typed.text);
}

QStringList shownTexts(const MainWindowFixture& f)
{
    QStringList texts;
    for (const TypedText& typed : Typed) {
        const QWidget* box = f.control<QWidget>(typed.box);
        texts << box->property(qobject_cast<const QLineEdit*>(box) ? "text" : "plainText").toString();
    }
    return texts;
}

bool storedAsTyped(const QString& file)
{
    const auto row = findRow(file, Typed[0].text);
    return row && std::all_of(std::begin(Typed), std::end(Typed),
                              [&](const TypedText& typed) { return (*row)[typed.column] == typed.text; });
}

// Runs the action and returns what the closing walk left in its status (empty for the other actions).
QString act(MainWindowFixture& f, Action action)
{
    switch (action) {
    case Add:
        f.click("cmdAdd");
        break;
    case SaveAdding:
    case SaveEditing:
        f.click("cmdSave");
        break;
    case Delete:
        f.answerAndClick(MessageAnswer::Yes, "cmdDelete");
        break;
    case ResetLastLogin:
        f.button("cmdResetLogin")->click();
        break;
    case ExitAdding:
    case ExitEditing:
        f.click("cmdExit");
        break;
    case ClosingWalk:
        frmClosing closing(f.dir.path());
        closing.ClosingWalk();
        return closing.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
    }
    return {};
}

} // namespace

class TestWriteFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        frmClosing::setTickInterval(10);
        // Mounts made in a namespace of our own vanish with the process, whatever becomes of the test.
        QTemporaryDir probe;
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", QFile::encodeName(probe.path()).constData(), "tmpfs", 0, "size=64k") != 0)
            mountRefusal = QString::fromLocal8Bit(std::strerror(errno));
        else
            ::umount2(QFile::encodeName(probe.path()).constData(), MNT_DETACH);
    }

    void cleanup() { delete topLevelWindow<frmClosing>().data(); }

    void aRefusedWriteIsShownAndNothingIsLost_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Action>("action");
        for (const Fault fault : {ReadOnlyFile, ReadOnlyFolder, Locked, FullDisk}) {
            for (int action = Add; action <= ClosingWalk; ++action) {
                // A read-only file refuses Add itself, so there is no adding state to save or exit from.
                const bool adding = action == SaveAdding || action == ExitAdding;
                if (fault == ReadOnlyFile ? !adding : action != Add)
                    QTest::addRow("%s / %s", FaultNames[fault], ActionNames[action]) << fault << Action(action);
            }
        }
    }
    void aRefusedWriteIsShownAndNothingIsLost()
    {
        QFETCH(Fault, fault);
        QFETCH(Action, action);
        if (fault == FullDisk && !mountRefusal.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no tmpfs can be mounted here (%1)").arg(mountRefusal)));
        const QString refusal =
            QStringLiteral("Error %1: %2").arg(FaultCodes[fault]).arg(QLatin1String(sqlite3_errstr(FaultCodes[fault])));
        const bool adding = action == Add || action == SaveAdding || action == ExitAdding;
        const bool editing = action == SaveEditing || action == ExitEditing;

        MainWindowFixture f;
        FaultInPlace inPlace(fault, f.dir.path());
        createDatabase(f.dataFile(), {{"Alpha", "Other"}, {std::nullopt}});
        inPlace.takeOver();
        if (fault == ReadOnlyFile)
            inPlace.apply(false);
        QVERIFY(f.startOnExistingFile());
        if (action != ClosingWalk && !adding)
            f.pick("Alpha");
        if (adding && action != Add)
            f.click("cmdAdd");
        if (editing)
            f.click("cmdModify");
        if (adding || editing)
            typeEverything(f);
        const QStringList listed = f.listed(), shown = shownTexts(f);
        const QString count = f.count();
        const bool pendingBefore = f.window->changePending(), editingBefore = f.window->editingExisting();
        const std::vector<StoredRow> before = readAllRows(f.dataFile());
        if (fault != ReadOnlyFile)
            inPlace.apply(action == ClosingWalk);

        // Said once, with the store's own number and text. Delete asks first; the closing walk never shows a box.
        const qsizetype question = action == Delete ? 1 : 0;
        qsizetype messages = f.messages.shown.size();
        const QString status = act(f, action);
        if (action == ClosingWalk) {
            QCOMPARE(status, QStringLiteral("Cleaning failed. ") + refusal);
            QCOMPARE(f.messages.shown.size(), messages);
        } else {
            QCOMPARE(f.messages.shown.size(), messages + question + 1);
            QCOMPARE(f.messages.shown.last().prompt, refusal);
        }
        messages = f.messages.shown.size();
        QVERIFY(f.window->isVisible() && !topLevelWindow<frmClosing>());
        QCOMPARE(f.window->changePending(), pendingBefore);
        QCOMPARE(f.window->editingExisting(), editingBefore);
        QCOMPARE(shownTexts(f), shown);
        QCOMPARE(f.listed(), listed);
        QCOMPARE(f.count(), count);
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(action != ResetLastLogin || f.box("txtLastLogin")->text() == Today);
        inPlace.lift();
        QVERIFY2(readAllRows(f.dataFile()) == before, "the refused action changed the file");

        // The fault lifted, the same action goes through.
        const QString statusAfter = act(f, action);
        if (action == Add) {
            typeEverything(f);
            f.click("cmdSave");
        }
        QCOMPARE(f.messages.shown.size(), messages + question);
        if (action == Delete)
            QVERIFY(!findRow(f.dataFile(), "Alpha") && !f.listed().contains("Alpha"));
        else if (action == ResetLastLogin)
            QCOMPARE(findRow(f.dataFile(), "Alpha")->at(Col::LastLogin), Today);
        else if (action == ClosingWalk)
            QVERIFY(statusAfter == QStringLiteral("Cleaning Data") && readAllRows(f.dataFile()).size() == 1);
        else {
            QVERIFY2(storedAsTyped(f.dataFile()), "what was typed did not reach the file once the fault was lifted");
            const bool exited = action == ExitAdding || action == ExitEditing;
            QCOMPARE(f.window->isVisible(), !exited);
            QVERIFY(exited || !f.window->changePending());
        }
        f.window.reset(); // lets go of the file before the fault's folder goes
    }

    // The window's thread waits on the lock; another looks at the cursor, then lets the lock go well within the
    // store's busy timeout, and the Save goes through.
    void aWaitOnALockedFileShowsTheWaitCursor()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Alpha", "Other"}}));
        f.click("cmdAdd");
        typeEverything(f);
        FileLock lock(f.dataFile(), false);
        std::atomic<int> cursorWhileWaiting = -1;
        std::thread holder([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const QCursor* cursor = QGuiApplication::overrideCursor();
            cursorWhileWaiting = cursor ? int(cursor->shape()) : -1;
            lock.release();
        });
        f.click("cmdSave");
        holder.join();
        QCOMPARE(cursorWhileWaiting.load(), int(Qt::WaitCursor));
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(f.messages.shown.isEmpty() && storedAsTyped(f.dataFile()));
    }
};

QTEST_MAIN(TestWriteFaults)
#include "tst_write_faults.moc"
