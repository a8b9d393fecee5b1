#include "main_window/boundtext.h"
#include "main_window/frmmain.h"
#include "records/datasource.h"
#include "records/listorder.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// A data source on a file with its name and comments bound to two boxes, like the main window's.
struct BoundStore
{
    explicit BoundStore(const QString& path, const QString& source = selectAllStatement())
    {
        store.setDatabaseName(path);
        store.setRecordSource(source);
        store.setPrefetchedField(ProgramFields::Name); // as the main window reads its list
        bindText(store, &name, ProgramFields::Name);
        bindText(store, &comments, ProgramFields::Comments);
        store.refresh();
    }
    Recordset& rs() { return store.recordset(); }
    // The boxes outlive the store, as a window's controls outlive its data source's closing.
    QLineEdit name;
    QPlainTextEdit comments;
    DataSource store;
};

QStringList namesInStoreOrder(DataSource& store)
{
    QStringList names;
    for (store.recordset().moveFirst(); !store.recordset().eof(); store.recordset().moveNext())
        names << store.recordset().fields(ProgramFields::Name).value().value_or("(none)");
    return names;
}

QByteArray databaseAfter(const QString& sql)
{
    QTemporaryDir dir;
    createDatabase(dir.filePath("x.mdb"), {{"Alpha"}});
    runSql(dir.filePath("x.mdb"), sql);
    return fileBytes(dir.filePath("x.mdb"));
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.filePath(DataFileName);
        QFile::remove(m_path);
        createDatabase(m_path, {{"Alpha"}, {"Beta"}, {"Gamma"}});
    }

    // The indexes the first open adds never reorder what a source selects, nor widen it to other cases.
    void sourceSelectsItsRecordsInStoreOrder_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all") << selectAllStatement() << QStringList{"Zed", "(none)", "Bob's", "a"};
        QTest::newRow("a type, in its exact case") << selectByTypeStatement("Other") << QStringList{"Zed", "Bob's"};
    }
    void sourceSelectsItsRecordsInStoreOrder()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, expected);
        QFile::remove(m_path);
        createDatabase(m_path, {{"Zed", "Other"}, {std::nullopt, "other"}, {"Bob's", "Other"}, {"a"}});
        for (const QString& index : programsIndexes())
            runSql(m_path, index);
        BoundStore s(m_path, source);
        QCOMPARE(namesInStoreOrder(s.store), expected);
    }

    void implicitSavingStoresOnEachTriggerAndNotBefore_data()
    {
        QTest::addColumn<QString>("trigger");
        for (const char* t : {"moveNext", "bookmark", "refresh", "close"})
            QTest::newRow(t) << QString::fromLatin1(t);
        QTest::newRow("dropped by updateControls, then a move") << QString("updateControls");
    }
    void implicitSavingStoresOnEachTriggerAndNotBefore()
    {
        QFETCH(QString, trigger);
        auto s = std::make_unique<BoundStore>(m_path);
        s->rs().fields(ProgramFields::Name).setValue(QStringLiteral("written")); // typing beats it
        s->name.setText(QStringLiteral("Alpha 2"));
        s->rs().fields(ProgramFields::Comments).setValue(QStringLiteral("written"));
        QCOMPARE(readAllRows(m_path)[0][Col::Name], "Alpha"); // not yet

        if (trigger == "moveNext")
            s->rs().moveNext();
        else if (trigger == "bookmark")
            s->rs().setBookmark(2); // Beta's rowid
        else if (trigger == "refresh")
            s->store.refresh();
        else if (trigger == "updateControls") {
            s->store.updateControls();
            s->rs().moveNext();
        } else
            s.reset();

        const bool dropped = trigger == "updateControls";
        const auto rows = readAllRows(m_path);
        QCOMPARE(rows[0][Col::Name], dropped ? "Alpha" : "Alpha 2");
        QCOMPARE(rows[0][Col::Comments], dropped ? std::nullopt : std::optional<QString>("written"));
        QCOMPARE(rows[1][Col::Name], "Beta");
    }

    // Typed text belongs to the record the boxes showed as it was typed, and to none when they showed none.
    void typedTextReachesOnlyTheRecordShown()
    {
        const auto before = readAllRows(m_path);
        BoundStore s(m_path);
        {
            DataSource::DisplayFreeze freeze(s.store);
            s.rs().moveNext(); // the fields still show Alpha
            s.name.setText(QStringLiteral("stamp"));
            s.rs().moveNext();
        }
        QCOMPARE(s.name.text(), "Gamma");
        BoundStore none(m_path, selectByNameStatement("nobody"));
        none.name.setText(QStringLiteral("typed with nothing shown"));
        none.rs().update();
        none.store.refresh();
        QVERIFY(readAllRows(m_path) == before);
    }

    // A refresh after the store's own writes gives what a fresh read of the source gives, whether the set followed
    // them (removals across a table of several thousand) or must read again.
    void refreshAfterOwnWritesGivesAFreshRead_data()
    {
        QTest::addColumn<QString>("write");
        QTest::newRow("removals far apart") << "remove";
        QTest::newRow("addition outside the filter") << "add";
        QTest::newRow("change out of the filter") << "change";
    }
    void refreshAfterOwnWritesGivesAFreshRead()
    {
        QFETCH(QString, write);
        const QString source = selectByTypeStatement("Other");
        // Alpha, Beta and Gamma hold rowids 1 to 3, P1 to P9000 the rowids 4 to 9003.
        runSql(m_path, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 9000) "
                       "insert into Programs (ProName, ProType) select 'P' || i, 'Other' from n");
        BoundStore s(m_path, source);
        Recordset& rs = s.rs();
        if (write == "remove") {
            for (const Bookmark key : {9003, 4100, 5, 8000}) {
                rs.setBookmark(key);
                rs.deleteCurrent();
            }
        } else if (write == "change") {
            rs.update({{ProgramFields::Type, "Games"}});
        } else {
            rs.addNew();
            rs.update({{ProgramFields::Name, write}, {ProgramFields::Type, "Games"}});
        }
        s.store.refresh();
        BoundStore fresh(m_path, source);
        QCOMPARE(namesInStoreOrder(s.store), namesInStoreOrder(fresh.store));
        if (write == "remove") {
            rs.setBookmark(9002);
            QCOMPARE(rs.fields(ProgramFields::Name).value(), "P8999");
        }
    }

    // A long list is read by two connections, each half of it; it must be the list one reader gives, also when the
    // second cannot open the file (here: renamed under the store) and the first reads on alone.
    void aLongListReadInTwoHalvesIsWhatOneReaderGives_data()
    {
        QTest::addColumn<bool>("secondCanOpen");
        QTest::newRow("two readers") << true;
        QTest::newRow("the second cannot open the file") << false;
    }
    void aLongListReadInTwoHalvesIsWhatOneReaderGives()
    {
        QFETCH(bool, secondCanOpen);
        // 70,000 names: NULLs, empty ones, blobs, names alike but for accent, and where the halves part, many
        // equal to each other but for case.
        runSql(m_path, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 70000) "
                       "insert into Programs (ProName) select case when i % 997 = 0 then null "
                       "when i % 1009 = 0 then '' when i % 4999 = 0 then x'6d00ff' when i % 10 < 5 then "
                       "char(97 + i % 12) || i when i % 10 < 7 then 'M' when i % 10 = 7 then 'm' "
                       "when i % 10 = 8 then 'É' || (i % 300) else 'e' || (i % 300) end from n");
        for (const QString& index : programsIndexes())
            runSql(m_path, index);
        BoundStore s(m_path);
        QString path = m_path;
        if (!secondCanOpen) {
            path = m_dir.filePath("renamed.mdb");
            QVERIFY(QFile::rename(m_path, path));
            runSql(path, "update Programs set ProComments = 'read again' where rowid = 1");
            s.store.refresh();
        }
        QStringList expected;
        for (const StoredRow& row : readAllRows(path)) {
            if (row[Col::Name])
                expected << *row[Col::Name];
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const QString& a, const QString& b) { return listsBefore(a.toUtf8(), b.toUtf8()); });
        const PackedTexts list = s.rs().walkInListOrder(ProgramFields::Name);
        QStringList names;
        for (qsizetype i = 0; i < list.size(); ++i)
            names << list.at(i);
        QCOMPARE(s.rs().recordCount(), 70003);
        QCOMPARE(names, expected);
        QFile::rename(path, m_path);
    }

    // A first run makes an owner-only file with an empty table; anything else unusable is refused once and left
    // byte for byte as it was, with nothing beside it.
    void startUpOnEachKindOfFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("starts");
        QTest::newRow("zero bytes: made owner-only") << QByteArray() << true;
        QTest::newRow("text") << QByteArray("My programs:\r\nAlpha  alpha-user  secret\r\n") << false;
        QTest::newRow("cut short") << databaseAfter("select 1").left(100) << false;
        QTest::newRow("no Programs table")
            << databaseAfter("drop table Programs; create table Other (ProName TEXT)") << false;
        QTest::newRow("missing a field") << databaseAfter("alter table Programs drop column ProRate") << false;
    }
    void startUpOnEachKindOfFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, starts);
        QTemporaryDir dir;
        const QString path = dir.filePath(DataFileName);
        writeFileBytes(path, file);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        ScriptedMessages messages;
        {
            frmMain window(dir.path());
            QCOMPARE(window.Form_Load(), starts);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{DataFileName});
        if (starts) {
            QVERIFY(messages.shown.isEmpty());
            QCOMPARE(QFile::permissions(path),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
            QVERIFY(readAllRows(path).empty());
        } else {
            QCOMPARE(messages.shown.size(), 1);
            QCOMPARE(fileBytes(path), file);
        }
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
