#include "records/datasource.h"
#include "records/program.h"
#include "shutdown/frmclosing.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

QLabel* label(QWidget* window, const char* name)
{
    return window->findChild<QLabel*>(QString::fromLatin1(name));
}

QList<std::optional<QString>> column(const QString& path, const QString& field)
{
    QList<std::optional<QString>> values;
    for (const StoredRow& row : readAllRows(path))
        values.append(row[size_t(fieldColumn(field))]);
    return values;
}

// Shows a closing window the way Exit does and watches it to the end.
struct ClosingRun
{
    explicit ClosingRun(const QString& folder)
        : window(new frmClosing(folder))
    {
        // Connected after the window's own handler, so each entry is the count a tick left behind.
        QObject::connect(window->findChild<QTimer*>(QStringLiteral("Timer1")), &QTimer::timeout, window,
                         [this] { counts.append(label(window, "lblcount")->text()); });
    }
    ~ClosingRun() { delete window; }

    // The status the walk leaves behind, or why there is none.
    QString showAndWalk()
    {
        window->show();
        if (label(window, "lblStatus")->text() != QLatin1String("Closing...."))
            return QStringLiteral("walked before the window was on the screen");
        if (!QTest::qWaitForWindowExposed(window))
            return QStringLiteral("never on the screen");
        QCoreApplication::sendPostedEvents(window, QEvent::MetaCall); // the walk, queued behind the exposure
        return window ? label(window, "lblStatus")->text() : QStringLiteral("closed");
    }

    QPointer<frmClosing> window;
    QStringList counts;
};

const QStringList CountUpToTen = {"2", "3", "4", "5", "6", "7", "8", "9", "10"};

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

private slots:
    void initTestCase() { frmClosing::setTickInterval(10); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("datReferral.mdb"));
    }

    void layoutAsDrawnWithNoIconAndFixedSize()
    {
        QPixmap red(16, 16);
        red.fill(Qt::red);
        QApplication::setWindowIcon(QIcon(red));
        frmClosing window(m_dir->path());

        QCOMPARE(window.objectName(), QStringLiteral("frmClosing"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Closing Database"));
        QCOMPARE(window.size(), QSize(187, 38));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(window.isWindow());
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(flags & Qt::WindowCloseButtonHint);

        const QImage icon = window.windowIcon().pixmap(16).toImage();
        QVERIFY(!icon.isNull());
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                QCOMPARE(qAlpha(icon.pixel(x, y)), 0);
        QApplication::setWindowIcon(QIcon());

        QLabel* status = label(&window, "lblStatus");
        QLabel* count = label(&window, "lblcount");
        QCOMPARE(status->geometry(), QRect(0, 0, 313, 25));
        QCOMPARE(count->geometry(), QRect(0, 16, 33, 25));
        QVERIFY(!status->wordWrap());
        QCOMPARE(status->text(), QStringLiteral("Closing...."));
        QCOMPARE(count->text(), QStringLiteral("1"));
        QVERIFY(window.findChild<DataSource*>(QStringLiteral("datClose")));
        QVERIFY(!window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
    }

    // Only a name holding no value is missing: empty text and blanks are names too.
    void namedTableIsKeptAndWindowClosesAtFirstTick()
    {
        const QList<SeedRecord> seed = {{"Zeta Surf"}, {""}, {"   "}, {"BLANK RECORD DELETE IMMEDIATELY"}, {"Alpha"}};
        createDatabase(m_path, seed);
        const std::vector<StoredRow> before = readAllRows(m_path);
        ScriptedMessages messages;
        ClosingRun run(m_dir->path());

        QCOMPARE(run.showAndWalk(), QStringLiteral("Done!"));
        const QPoint offCentre =
            run.window->frameGeometry().center() - run.window->screen()->availableGeometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 1, "centred on the screen");

        QTRY_VERIFY(run.window.isNull());
        QCOMPARE(run.counts, QStringList{"1"});
        QVERIFY(readAllRows(m_path) == before);
        QVERIFY(messages.shown.isEmpty());
    }

    // The first nameless record in table order goes; the next waits for the next exit. As at Exit, the
    // main window's store still has the file open.
    void firstNamelessRecordIsRemovedWhileMainStoreIsOpen()
    {
        createDatabase(m_path, {{"Zeta"},
                                {std::nullopt, {}, {}, {}, {}, {}, "first nameless"},
                                {"Alpha"},
                                {std::nullopt, {}, {}, {}, {}, {}, "second nameless"}});
        DataSource mainStore;
        mainStore.setDatabaseName(m_path);
        mainStore.setRecordSource(selectAllStatement());
        mainStore.refresh();
        mainStore.recordset().moveLast();
        ScriptedMessages messages;
        ClosingRun run(m_dir->path());

        QCOMPARE(run.showAndWalk(), QStringLiteral("Cleaning Data"));
        QCOMPARE(column(m_path, ProgramFields::Comments),
                 (QList<std::optional<QString>>{std::nullopt, std::nullopt, "second nameless"}));

        QTRY_VERIFY(run.window.isNull());
        QCOMPARE(run.counts, CountUpToTen);
        QVERIFY(messages.shown.isEmpty());
    }

    void unusableDatabaseIsLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing file") << QByteArray() << false;
        QTest::newRow("empty file") << QByteArray() << true;
        QTest::newRow("not a database") << QByteArray("Program list\r\nAlpha\r\nBeta\r\n") << true;
    }
    void unusableDatabaseIsLeftAlone()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, exists);
        if (exists)
            writeFileBytes(m_path, contents);
        ScriptedMessages messages;
        ClosingRun run(m_dir->path());

        QCOMPARE(run.showAndWalk(), QStringLiteral("Cleaning Data"));
        QTRY_VERIFY(run.window.isNull());
        QCOMPARE(run.counts, CountUpToTen);
        QCOMPARE(QFile::exists(m_path), exists);
        QCOMPARE(fileBytes(m_path), contents);
        QVERIFY(messages.shown.isEmpty());
    }

    void emptyTableEndsTheWalk()
    {
        createDatabase(m_path);
        ScriptedMessages messages;
        ClosingRun run(m_dir->path());
        QCOMPARE(run.showAndWalk(), QStringLiteral("Cleaning Data"));
        QTRY_VERIFY(run.window.isNull());
        QCOMPARE(run.counts, CountUpToTen);
        QVERIFY(messages.shown.isEmpty());
    }

    // Another program holds the write lock: reading works, the deletion cannot.
    void failedDeletionIsShownInTheStatus()
    {
        createDatabase(m_path, {{"Alpha"}, {std::nullopt}});
        sqlite3* handle = nullptr;
        sqlite3_open(QFile::encodeName(m_path).constData(), &handle);
        std::unique_ptr<sqlite3, decltype(&sqlite3_close)> other(handle, &sqlite3_close);
        // The indexes first, or the walk's store would wait on the lock to add them too.
        for (const QString& index : programsIndexes())
            QCOMPARE(sqlite3_exec(handle, index.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(handle, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        ScriptedMessages messages;
        ClosingRun run(m_dir->path());

        const QString status = run.showAndWalk();
        other.reset();
        QVERIFY2(status.contains(QStringLiteral("Error %1").arg(SQLITE_BUSY)), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("database is locked")), qPrintable(status));
        QCOMPARE(readAllRows(m_path).size(), size_t(2));
        QTRY_VERIFY(run.window.isNull());
        QCOMPARE(run.counts, CountUpToTen);
        QVERIFY(messages.shown.isEmpty());
    }

    void walkHasNoSixteenBitLimit()
    {
        QList<SeedRecord> seed;
        for (int i = 0; i < 40000; ++i)
            seed.append({QStringLiteral("Program %1").arg(i)});
        seed[39990].name = std::nullopt;
        createDatabase(m_path, seed);
        ClosingRun run(m_dir->path());

        QCOMPARE(run.showAndWalk(), QStringLiteral("Cleaning Data"));
        const auto names = column(m_path, ProgramFields::Name);
        QCOMPARE(names.size(), 39999);
        QVERIFY(!names.contains(std::nullopt));
    }
};

QTEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
