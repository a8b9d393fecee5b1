#include "records/datasource.h"
#include "records/program.h"
#include "shutdown/frmclosing.h"
#include "support/testsupport.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace kestrella;
using namespace kestrella::test;

namespace {

const QVariant Nameless;

QVariantList numberedNames(int count, int namelessAt)
{
    QVariantList names;
    for (int i = 0; i < count; ++i)
        names << (i == namelessAt ? Nameless : QVariant(QStringLiteral("Program %1").arg(i)));
    return names;
}

std::vector<StoredRow> withoutRow(std::vector<StoredRow> rows, int index)
{
    if (index >= 0)
        rows.erase(rows.begin() + index);
    return rows;
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { frmClosing::setTickInterval(10); }
    void cleanup() { delete topLevelWindow<frmClosing>().data(); } // a failed row leaves its window

    // The file: a list of names (a database holding them), bytes (written as they are), or nothing (no file).
    void walkRemovesOnlyTheFirstNamelessRecord_data()
    {
        QTest::addColumn<QVariant>("file");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("status");
        QTest::newRow("names kept, empty text and blanks included, closes at first tick")
            << QVariant(QVariantList{"Zeta", "", "   ", "BLANK RECORD DELETE IMMEDIATELY"}) << -1 << "Done!";
        QTest::newRow("first nameless of two removed")
            << QVariant(QVariantList{"Zeta", Nameless, "Alpha", Nameless}) << 1 << "Cleaning Data";
        QTest::newRow("empty table") << QVariant(QVariantList{}) << -1 << "Cleaning Data";
        QTest::newRow("past 65,535 records") << QVariant(numberedNames(70000, 69990)) << 69990 << "Cleaning Data";
        QTest::newRow("missing file not created") << QVariant() << -1 << "Cleaning Data";
        QTest::newRow("empty file left alone") << QVariant(QByteArray()) << -1 << "Cleaning Data";
        QTest::newRow("not a database left alone")
            << QVariant(QByteArray("Alpha\r\nBeta\r\n")) << -1 << "Cleaning Data";
    }
    void walkRemovesOnlyTheFirstNamelessRecord()
    {
        QFETCH(QVariant, file);
        QFETCH(int, removed);
        QFETCH(QString, status);
        QTemporaryDir dir;
        const QString path = dir.filePath(DataFileName);
        const bool isDatabase = file.typeId() == QMetaType::QVariantList;
        if (isDatabase) {
            QList<SeedRecord> seed;
            for (const QVariant& name : file.toList())
                seed.append({name.isNull() ? std::nullopt : std::optional(name.toString())});
            createDatabase(path, seed);
        } else if (file.isValid()) {
            writeFileBytes(path, file.toByteArray());
        }
        const std::vector<StoredRow> before = isDatabase ? readAllRows(path) : std::vector<StoredRow>{};
        // As at Exit, the main window's store still has the file open.
        DataSource mainStore;
        if (isDatabase) {
            mainStore.setDatabaseName(path);
            mainStore.refresh();
        }
        ScriptedMessages messages;
        QPointer<frmClosing> window = new frmClosing(dir.path());
        auto* count = window->findChild<QLabel*>(QStringLiteral("lblcount"));
        QStringList counts; // each tick's count, read after the window's own handler
        connect(window->findChild<QTimer*>(), &QTimer::timeout, window, [&] { counts << count->text(); });

        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCoreApplication::sendPostedEvents(window, QEvent::MetaCall); // the walk, queued behind the exposure
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("lblStatus"))->text(), status);
        QTRY_VERIFY(window.isNull());

        const QStringList countUpToTen = {"2", "3", "4", "5", "6", "7", "8", "9", "10"};
        QCOMPARE(counts, status == "Done!" ? QStringList{"1"} : countUpToTen);
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(QFile::exists(path), file.isValid());
        if (isDatabase)
            QVERIFY(readAllRows(path) == withoutRow(before, removed));
        else if (file.isValid())
            QCOMPARE(fileBytes(path), file.toByteArray());
    }
};

QTEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
