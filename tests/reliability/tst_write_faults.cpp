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
    {"locked by another process", SQLITE_BUSY, "database is locked"},
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

const char* const Boxes[] = {"txtProName",  "txtProUserName",    "txtProPassword",
                             "txtProLogin", "txtProUrlReferral", "txtStart"};
const QStringList Typed = {"Typed name",           "typed user",           "typed 'password\"",
                           "http://typed.example", "http://ref.example/x", "www.start.example"};
const QString TypedComments = QStringLiteral("typed\ncomments");
const QString Today = QStringLiteral("03/05/26"); // the fixture's clock
constexpr uid_t Nobody = 65534;

QString mountRefusal; // why no file system can be mounted here; empty when one can

// Holds one fault in place in the folder of the data file, and lifts it again.
class FaultInPlace
{
public:
    FaultInPlace(Fault fault, const QString& folder)
        : m_fault(fault)
        , m_folder(folder)
        , m_file(folder + QStringLiteral("/datReferral.mdb"))
    {
        if (m_fault == Fault::FullDisk) {
            m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m,mode=0700") == 0;
            if (!m_mounted)
                qFatal("mounting a tmpfs failed: %s", std::strerror(errno));
        }
    }
    ~FaultInPlace()
    {
        lift();
        if (m_actingAsNobody) {
            (void)::seteuid(0);
            (void)::setegid(0);
        }
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }

    // Root writes through any permission: as root the test acts as an unprivileged user owning the folder and the
    // file, so that permissions stop it as they stop a user.
    void takeOver()
    {
        if (m_fault != Fault::ReadOnlyFile && m_fault != Fault::ReadOnlyFolder)
            return;
        if (::geteuid() != 0)
            return;
        for (const QString& path : {m_folder, m_file}) {
            if (::chown(QFile::encodeName(path).constData(), Nobody, Nobody) != 0)
                qFatal("chown failed: %s", std::strerror(errno));
        }
        m_actingAsNobody = ::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0;
        if (!m_actingAsNobody)
            qFatal("cannot act as an unprivileged user: %s", std::strerror(errno));
    }

    bool appliesBeforeStart() const { return m_fault == Fault::ReadOnlyFile; }

    void apply(bool readersMayPass = false)
    {
        switch (m_fault) {
        case Fault::ReadOnlyFile:
            setMode(m_file, 0444);
            break;
        case Fault::ReadOnlyFolder:
            setMode(m_folder, 0555);
            break;
        case Fault::Locked: // the closing walk must read to reach its deletion
            m_lock.emplace(m_file, readersMayPass);
            break;
        case Fault::FullDisk: {
            QFile filler(m_folder + QStringLiteral("/filler"));
            filler.open(QIODevice::WriteOnly);
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            break;
        }
        }
    }

    void lift()
    {
        switch (m_fault) {
        case Fault::ReadOnlyFile:
            setMode(m_file, 0600);
            break;
        case Fault::ReadOnlyFolder:
            setMode(m_folder, 0700);
            break;
        case Fault::Locked:
            m_lock.reset();
            break;
        case Fault::FullDisk:
            QFile::remove(m_folder + QStringLiteral("/filler"));
            break;
        }
    }

private:
    static void setMode(const QString& path, mode_t mode)
    {
        if (::chmod(QFile::encodeName(path).constData(), mode) != 0)
            qFatal("chmod failed: %s", std::strerror(errno));
    }

    Fault m_fault;
    QString m_folder;
    QString m_file;
    bool m_mounted = false;
    bool m_actingAsNobody = false;
    std::optional<FileLock> m_lock;
};

QStringList shownTexts(const MainWindowFixture& f)
{
    QStringList texts;
    for (const char* box : Boxes)
        texts << f.box(box)->text();
    return texts << f.control<QPlainTextEdit>("txtComments")->toPlainText();
}

bool storedAsTyped(const QString& file)
{
    const auto row = findRow(file, Typed[0]);
    if (!row)
        return false;
    for (int i = 0; i < Typed.size(); ++i) {
        if ((*row)[size_t(i)] != Typed[i])
            return false;
    }
    return (*row)[Col::Comments] == TypedComments;
}

} // namespace

class TestWriteFaults : public QObject
{
    Q_OBJECT

    // Runs the action and returns what the closing walk left in its status (empty for the other actions).
    QString act(MainWindowFixture& f, Action action)
    {
        switch (action) {
        case Action::Add:
            f.click("cmdAdd");
            break;
        case Action::SaveAdding:
        case Action::SaveEditing:
            f.click("cmdSave");
            break;
        case Action::Delete:
            f.messages.queueAnswer(MessageAnswer::Yes);
            f.click("cmdDelete");
            break;
        case Action::ResetLastLogin:
            f.button("cmdResetLogin")->click();
            break;
        case Action::ExitAdding:
        case Action::ExitEditing:
            f.click("cmdExit");
            break;
        case Action::ClosingWalk: {
            frmClosing closing(f.dir.path());
            closing.ClosingWalk();
            return closing.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
        }
        }
        return {};
    }

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

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<frmClosing*>(w))
                delete w;
        }
    }

    void aRefusedWriteIsShownAndNothingIsLost_data()
    {
        QTest::addColumn<int>("faultIndex");
        QTest::addColumn<int>("actionIndex");
        for (Fault fault : {Fault::ReadOnlyFile, Fault::ReadOnlyFolder, Fault::Locked, Fault::FullDisk}) {
            for (int a = 0; a <= int(Action::ClosingWalk); ++a) {
                const auto action = Action(a);
                // A read-only file refuses Add itself, so there is no adding state to save or exit from.
                const bool adding = action == Action::SaveAdding || action == Action::ExitAdding;
                if (fault == Fault::ReadOnlyFile ? adding : action == Action::Add)
                    continue;
                QTest::addRow("%s / %s", Faults[int(fault)].name, ActionNames[a]) << int(fault) << a;
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
        const FaultInfo& info = Faults[int(fault)];
        const QString refusal = QStringLiteral("Error %1: %2").arg(info.code).arg(QLatin1String(info.text));
        const bool adding = action == Action::Add || action == Action::SaveAdding || action == Action::ExitAdding;
        const bool editing = action == Action::SaveEditing || action == Action::ExitEditing;

        MainWindowFixture f;
        FaultInPlace inPlace(fault, f.dir.path());
        createDatabase(f.dataFile(), {{"Alpha", "Other"}, {std::nullopt}});
        inPlace.takeOver();
        if (inPlace.appliesBeforeStart())
            inPlace.apply();
        QVERIFY(f.startOnExistingFile());
        if (action != Action::ClosingWalk && action != Action::Add && !adding)
            f.pick("Alpha");
        auto typeEverything = [&] {
            for (int i = 0; i < Typed.size(); ++i)
                typeInto(f.box(Boxes[i]), Typed[i]);
            typeInto(f.control<QPlainTextEdit>("txtComments"), TypedComments);
        };
        if (adding && action != Action::Add)
            f.click("cmdAdd");
        if (editing)
            f.click("cmdModify");
        if (adding || editing)
            typeEverything();
        const QStringList listed = f.listed();
        const QString count = f.count();
        const QStringList shown = shownTexts(f);
        const bool pendingBefore = f.window->changePending(), editingBefore = f.window->editingExisting();
        const std::vector<StoredRow> before = readAllRows(f.dataFile());
        if (!inPlace.appliesBeforeStart())
            inPlace.apply(action == Action::ClosingWalk);

        // Refused: said once, with the store's own number and text, and nothing typed or listed is gone. Delete asks
        // first; the closing walk never shows a message box.
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
        const bool kept = f.window->isVisible() && !topLevelWindow<frmClosing>() &&
                          f.window->changePending() == pendingBefore && f.window->editingExisting() == editingBefore &&
                          shownTexts(f) == shown && f.listed() == listed && f.count() == count &&
                          !QGuiApplication::overrideCursor() &&
                          (action != Action::ResetLastLogin || f.box("txtLastLogin")->text() == Today);
        inPlace.lift();
        QVERIFY2(kept, "the refused action dropped what was typed or shown");
        QVERIFY2(readAllRows(f.dataFile()) == before, "the refused action changed the file");

        // The fault lifted, the same action goes through.
        const QString statusAfter = act(f, action);
        if (action == Action::Add) {
            QVERIFY(f.window->changePending());
            typeEverything();
            f.click("cmdSave");
        }
        QCOMPARE(f.messages.shown.size(), messages + question);
        const std::vector<StoredRow> after = readAllRows(f.dataFile());
        switch (action) {
        case Action::Delete:
            QVERIFY(!findRow(f.dataFile(), "Alpha"));
            QVERIFY(!f.listed().contains("Alpha"));
            break;
        case Action::ResetLastLogin:
            QCOMPARE(findRow(f.dataFile(), "Alpha")->at(Col::LastLogin), Today);
            break;
        case Action::ClosingWalk:
            QCOMPARE(statusAfter, QStringLiteral("Cleaning Data"));
            QCOMPARE(after.size(), size_t(1));
            break;
        default: {
            QVERIFY2(storedAsTyped(f.dataFile()), "what was typed did not reach the file once the fault was lifted");
            const bool exited = action == Action::ExitAdding || action == Action::ExitEditing;
            QCOMPARE(f.window->isVisible(), !exited);
            QVERIFY(exited || !f.window->changePending());
        }
        }
        f.window.reset(); // lets go of the file before the fault's folder goes
    }

    void aWaitOnALockedFileShowsTheWaitCursor_data()
    {
        QTest::addColumn<QString>("action");
        for (const char* action : {"Save", "Exit", "pick"})
            QTest::newRow(action) << QString::fromLatin1(action);
    }
    void aWaitOnALockedFileShowsTheWaitCursor()
    {
        QFETCH(QString, action);
        MainWindowFixture f;
        QVERIFY(f.start({{"Alpha", "Other"}, {"Beta", "Other"}}));
        if (action != "pick") {
            f.click("cmdAdd");
            typeInto(f.box("txtProName"), Typed[0]);
        }
        FileLock lock(f.dataFile(), false);
        // The window's thread waits on the lock meanwhile: this one looks at the cursor, then lets the lock go
        // well within the busy timeout.
        std::atomic<int> cursorWhileWaiting = -1;
        std::thread holder([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const QCursor* cursor = QGuiApplication::overrideCursor();
            cursorWhileWaiting = cursor ? int(cursor->shape()) : int(Qt::ArrowCursor);
            lock.release();
        });
        if (action == "Save")
            f.click("cmdSave");
        else if (action == "Exit")
            f.click("cmdExit");
        else
            f.pick("Beta");
        holder.join();
        QCOMPARE(cursorWhileWaiting.load(), int(Qt::WaitCursor));
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(f.messages.shown.isEmpty()); // the wait ended in time and the action went through
        if (action == "pick")
            QCOMPARE(f.shownName(), QStringLiteral("Beta"));
        else
            QVERIFY(findRow(f.dataFile(), Typed[0]).has_value());
    }
};

QTEST_MAIN(TestWriteFaults)
#include "tst_write_faults.moc"
