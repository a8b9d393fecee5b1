// Files the program cannot write: every write the user asks for shows the store's number and text, keeps what was
// typed, leaves the file as it was, and succeeds once the fault is lifted.
#include "mainwindowfixture.h"
#include "shutdown/frmclosing.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

enum class Fault
{
    ReadOnlyFile,
    ReadOnlyFolder,
    Locked,
    FullDisk
};
enum class Action
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

struct FaultInfo
{
    const char* name;
    int code;
    const char* text;
};
const FaultInfo Faults[] = {
    {"read-only file", SQLITE_READONLY, "attempt to write a readonly database"},
    // SQLite names the folder's refusal (no journal can be made there) as it names a read-only file.
    {"writable file in a read-only folder", SQLITE_READONLY, "attempt to write a readonly database"},
    {"locked by another connection", SQLITE_BUSY, "database is locked"},
    {"full disk", SQLITE_FULL, "database or disk is full"},
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

void setMode(const QString& path, mode_t mode)
{
    if (::chmod(QFile::encodeName(path).constData(), mode) != 0)
        qFatal("chmod failed: %s", std::strerror(errno));
}

// Holds one fault in place in the folder of the data file, and lifts it again.
class FaultInPlace
{
public:
    FaultInPlace(Fault fault, const QString& folder)
        : m_fault(fault)
        , m_folder(folder)
        , m_file(folder + '/' + DataFileName)
    {
        if (fault == Fault::FullDisk &&
            ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m,mode=0700") != 0)
            qFatal("mounting a tmpfs failed: %s", std::strerror(errno));
    }
    ~FaultInPlace()
    {
        lift();
        (void)::seteuid(0);
        (void)::setegid(0);
        if (m_fault == Fault::FullDisk)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }

    // Root writes through any permission: as root the test acts as an unprivileged user owning the folder and the
    // file, so that permissions stop it as they stop a user.
    void takeOver()
    {
        if (::geteuid() != 0 || (m_fault != Fault::ReadOnlyFile && m_fault != Fault::ReadOnlyFolder))
            return;
        for (const QString& path : {m_folder, m_file}) {
            if (::chown(QFile::encodeName(path).constData(), Nobody, Nobody) != 0)
                qFatal("chown failed: %s", std::strerror(errno));
        }
        if (::setegid(Nobody) != 0 || ::seteuid(Nobody) != 0)
            qFatal("cannot act as an unprivileged user: %s", std::strerror(errno));
    }

    bool appliesBeforeStart() const { return m_fault == Fault::ReadOnlyFile; }

    void apply(bool readersMayPass)
    {
        if (m_fault == Fault::ReadOnlyFile)
            setMode(m_file, 0444);
        else if (m_fault == Fault::ReadOnlyFolder)
            setMode(m_folder, 0555);
        else if (m_fault == Fault::Locked)
            m_lock.emplace(m_file, readersMayPass); // the closing walk must read to reach its deletion
        else {
            QFile filler(m_folder + QStringLiteral("/filler"));
            filler.open(QIODevice::WriteOnly);
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
    }

    void lift()
    {
        if (m_fault == Fault::ReadOnlyFile)
            setMode(m_file, 0600);
        else if (m_fault == Fault::ReadOnlyFolder)
            setMode(m_folder, 0700);
        m_lock.reset();
        QFile::remove(m_folder + QStringLiteral("/filler"));
    }

private:
    Fault m_fault;
    QString m_folder;
    QString m_file;
    std::optional<FileLock> m_lock;
};

QString boxText(const MainWindowFixture& f, const char* box)
{
    if (auto* comments = f.window->findChild<QPlainTextEdit*>(QString::fromLatin1(box)))
        return comments->toPlainText();
    return f.box(box)->text();
}

void typeEverything(MainWindowFixture& f)
{
    for (const TypedText& typed : Typed)
        typeInto(f.control<QWidget>(typed.box), typed.text);
}

QStringList shownTexts(const MainWindowFixture& f)
{
    QStringList texts;
    for (const TypedText& typed : Typed)
        texts << boxText(f, typed.box);
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
    if (action == Action::Add)
        f.click("cmdAdd");
    else if (action == Action::SaveAdding || action == Action::SaveEditing)
        f.click("cmdSave");
    else if (action == Action::Delete) {
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.click("cmdDelete");
    } else if (action == Action::ResetLastLogin)
        f.button("cmdResetLogin")->click();
    else if (action == Action::ExitAdding || action == Action::ExitEditing)
        f.click("cmdExit");
    else {
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
        QTest::addColumn<int>("faultIndex");
        QTest::addColumn<int>("actionIndex");
        for (int fault = 0; fault <= int(Fault::FullDisk); ++fault) {
            for (int a = 0; a <= int(Action::ClosingWalk); ++a) {
                // A read-only file refuses Add itself, so there is no adding state to save or exit from.
                const bool adding = a == int(Action::SaveAdding) || a == int(Action::ExitAdding);
                if (fault == int(Fault::ReadOnlyFile) ? adding : a == int(Action::Add))
                    continue;
                QTest::addRow("%s / %s", Faults[fault].name, ActionNames[a]) << fault << a;
            }
        }
    }
    void aRefusedWriteIsShownAndNothingIsLost()
    {
        QFETCH(int, faultIndex);
        QFETCH(int, actionIndex);
        const auto fault = Fault(faultIndex);
        const auto action = Action(actionIndex);
        if (fault == Fault::FullDisk && !mountRefusal.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no tmpfs can be mounted here (%1)").arg(mountRefusal)));
        const FaultInfo& info = Faults[faultIndex];
        const QString refusal = QStringLiteral("Error %1: %2").arg(info.code).arg(QLatin1String(info.text));
        const bool adding = action == Action::Add || action == Action::SaveAdding || action == Action::ExitAdding;
        const bool editing = action == Action::SaveEditing || action == Action::ExitEditing;

        MainWindowFixture f;
        FaultInPlace inPlace(fault, f.dir.path());
        createDatabase(f.dataFile(), {{"Alpha", "Other"}, {std::nullopt}});
        inPlace.takeOver();
        if (inPlace.appliesBeforeStart())
            inPlace.apply(false);
        QVERIFY(f.startOnExistingFile());
        if (action != Action::ClosingWalk && !adding)
            f.pick("Alpha");
        if (adding && action != Action::Add)
            f.click("cmdAdd");
        if (editing)
            f.click("cmdModify");
        if (adding || editing)
            typeEverything(f);
        const QStringList listed = f.listed(), shown = shownTexts(f);
        const QString count = f.count();
        const bool pendingBefore = f.window->changePending(), editingBefore = f.window->editingExisting();
        const std::vector<StoredRow> before = readAllRows(f.dataFile());
        if (!inPlace.appliesBeforeStart())
            inPlace.apply(action == Action::ClosingWalk);

        // Said once, with the store's own number and text. Delete asks first; the closing walk never shows a box.
        const qsizetype question = action == Action::Delete ? 1 : 0;
        qsizetype messages = f.messages.shown.size();
        const QString status = act(f, action);
        if (action == Action::ClosingWalk) {
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
        QVERIFY(action != Action::ResetLastLogin || f.box("txtLastLogin")->text() == Today);
        inPlace.lift();
        QVERIFY2(readAllRows(f.dataFile()) == before, "the refused action changed the file");

        // The fault lifted, the same action goes through.
        const QString statusAfter = act(f, action);
        if (action == Action::Add) {
            QVERIFY(f.window->changePending());
            typeEverything(f);
            f.click("cmdSave");
        }
        QCOMPARE(f.messages.shown.size(), messages + question);
        if (action == Action::Delete) {
            QVERIFY(!findRow(f.dataFile(), "Alpha"));
            QVERIFY(!f.listed().contains("Alpha"));
        } else if (action == Action::ResetLastLogin) {
            QCOMPARE(findRow(f.dataFile(), "Alpha")->at(Col::LastLogin), Today);
        } else if (action == Action::ClosingWalk) {
            QCOMPARE(statusAfter, QStringLiteral("Cleaning Data"));
            QCOMPARE(readAllRows(f.dataFile()).size(), size_t(1));
        } else {
            QVERIFY2(storedAsTyped(f.dataFile()), "what was typed did not reach the file once the fault was lifted");
            const bool exited = action == Action::ExitAdding || action == Action::ExitEditing;
            QCOMPARE(f.window->isVisible(), !exited);
            QVERIFY(exited || !f.window->changePending());
        }
        f.window.reset(); // lets go of the file before the fault's folder goes
    }

    // The window's thread waits on the lock; another looks at the cursor, then lets the lock go well within the
    // store's busy timeout.
    void aWaitOnALockedFileShowsTheWaitCursor()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Alpha", "Other"}}));
        f.click("cmdAdd");
        typeInto(f.box("txtProName"), Typed[0].text);
        FileLock lock(f.dataFile(), false);
        std::atomic<int> cursorWhileWaiting = -1;
        std::thread holder([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const QCursor* cursor = QGuiApplication::overrideCursor();
            cursorWhileWaiting = cursor ? int(cursor->shape()) : int(Qt::ArrowCursor);
            lock.release();
        });
        f.click("cmdSave");
        holder.join();
        QCOMPARE(cursorWhileWaiting.load(), int(Qt::WaitCursor));
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(f.messages.shown.isEmpty()); // the wait ended in time and the action went through
        QVERIFY(findRow(f.dataFile(), Typed[0].text));
    }
};

QTEST_MAIN(TestWriteFaults)
#include "tst_write_faults.moc"
