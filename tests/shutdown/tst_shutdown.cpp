#include "records/datasource.h"
#include "records/program.h"
#include "shutdown/frmclosing.h"
#include "support/testsupport.h"

#include <QTest>

using namespace kestrella;
using namespace kestrella::test;

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { frmClosing::setTickInterval(10); }

    // The file: names (a database holding them, a null variant for a nameless record), bytes (written as they are),
    // or nothing (no file).
    void walkRemovesOnlyTheFirstNamelessRecord_data()
    {
        QTest::addColumn<QVariant>("file");
        QTest::addColumn<int>("removed"); // the index of the one row that goes; -1: none
        QVariantList many;
        for (int i = 0; i < 70000; ++i)
            many << (i == 69990 || i == 69995 ? QVariant() : QVariant(QString::number(i)));
        QTest::newRow("names kept, empty text and blanks included")
            << QVariant(QVariantList{"Zeta", "", "   ", "BLANK RECORD DELETE IMMEDIATELY"}) << -1;
        QTest::newRow("past 65,535 records, the first nameless of two removed") << QVariant(many) << 69990;
        QTest::newRow("missing file not created") << QVariant() << -1;
        QTest::newRow("empty file left alone") << QVariant(QByteArray()) << -1;
    }
    void walkRemovesOnlyTheFirstNamelessRecord()
    {
        QFETCH(QVariant, file);
        QFETCH(int, removed);
        QTemporaryDir dir;
        const QString path = dir.filePath(DataFileName);
        const bool isDatabase = file.typeId() == QMetaType::QVariantList;
        QList<SeedRecord> seed;
        for (const QVariant& name : file.toList())
            seed.append({name.isNull() ? std::nullopt : std::optional(name.toString())});
        if (isDatabase)
            createDatabase(path, seed);
        else if (file.isValid())
            writeFileBytes(path, file.toByteArray());
        std::vector<StoredRow> expected = isDatabase ? readAllRows(path) : std::vector<StoredRow>{};
        if (removed >= 0)
            expected.erase(expected.begin() + removed);
        DataSource mainStore; // as at Exit, the main window's store still has the file open
        if (isDatabase) {
            mainStore.setDatabaseName(path);
            mainStore.refresh();
        }
        ScriptedMessages messages;
        QPointer<frmClosing> window = new frmClosing(dir.path());
        window->show();
        QTRY_VERIFY(window.isNull()); // it walks once it shows, and its timer then closes it
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(QFile::exists(path), file.isValid());
        if (isDatabase)
            QVERIFY(readAllRows(path) == expected);
        else if (file.isValid())
            QCOMPARE(fileBytes(path), file.toByteArray());
    }
};

QTEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
