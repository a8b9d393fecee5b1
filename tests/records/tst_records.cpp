#include "main_window/boundtext.h"
#include "main_window/frmmain.h"
#include "records/datasource.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

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

QStringList storedNames(const QString& path)
{
    QStringList names;
    for (const StoredRow& row : readAllRows(path))
        names << row[Col::Name].value_or("(none)");
    return names;
}

int fileMode(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
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

    // Spliced text stays one value, compared exactly; indexes never reorder what a source selects.
    void sourceSelectsExactlyItsRecordsInStoreOrder_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("apostrophe") << selectByNameStatement("Bob's") << QStringList{"Bob's"};
        QTest::newRow("SQL text") << selectByNameStatement("' OR '1'='1") << QStringList{"' OR '1'='1"};
        QTest::newRow("statement break") << selectByNameStatement("x'); DROP TABLE Programs;--")
                                         << QStringList{"x'); DROP TABLE Programs;--"};
        QTest::newRow("NUL") << selectByNameStatement(QStringLiteral("a") + QChar(0) + "b")
                             << QStringList{QStringLiteral("a") + QChar(0) + "b"};
        QTest::newRow("type in its exact case") << selectByTypeStatement("Other") << QStringList{"Zed", "bob's"};
        const QStringList all = {"Zed",   "(none)",
                                 "Bob's", "' OR '1'='1",
                                 "bob's", "x'); DROP TABLE Programs;--",
                                 "a",     QStringLiteral("a") + QChar(0) + "b"};
        QTest::newRow("all, in store order") << selectAllStatement() << all;
        QTest::newRow("table, in store order") << ProgramsTable << all;
    }
    void sourceSelectsExactlyItsRecordsInStoreOrder()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, expected);
        QFile::remove(m_path);
        createDatabase(m_path, {{"Zed", "Other"},
                                {std::nullopt, "other"},
                                {"Bob's"},
                                {"' OR '1'='1"},
                                {"bob's", "Other"},
                                {"x'); DROP TABLE Programs;--"},
                                {"a"},
                                {QStringLiteral("a") + QChar(0) + "b"}});
        DataSource s;
        s.setDatabaseName(m_path);
        s.setRecordSource(source);
        s.refresh(); // the first open adds the indexes
        s.refresh();
        QCOMPARE(namesInStoreOrder(s), expected);
        QCOMPARE(readAllRows(m_path).size(), size_t(8));
    }

    void implicitSavingStoresOnEachTriggerAndNotBefore_data()
    {
        QTest::addColumn<QString>("trigger");
        for (const char* t : {"moveNext", "moveFirst", "moveLast", "bookmark", "refresh", "newSource", "close"})
            QTest::newRow(t) << QString::fromLatin1(t);
    }
    void implicitSavingStoresOnEachTriggerAndNotBefore()
    {
        QFETCH(QString, trigger);
        auto s = std::make_unique<BoundStore>(m_path);
        s->rs().moveNext();
        const Bookmark beta = s->rs().bookmark();
        s->rs().moveFirst();
        s->name.setText(QStringLiteral("Alpha 2"));
        s->rs().fields(ProgramFields::Comments).setValue(QStringLiteral("written"));
        QCOMPARE(readAllRows(m_path)[0][Col::Name], "Alpha"); // not yet

        if (trigger == "moveNext")
            s->rs().moveNext();
        else if (trigger == "moveFirst")
            s->rs().moveFirst();
        else if (trigger == "moveLast")
            s->rs().moveLast();
        else if (trigger == "bookmark")
            s->rs().setBookmark(beta);
        else if (trigger == "refresh")
            s->store.refresh();
        else if (trigger == "newSource") {
            s->store.setRecordSource(selectByNameStatement("Gamma"));
            s->store.refresh();
        } else
            s.reset();

        const auto rows = readAllRows(m_path);
        QCOMPARE(rows[0][Col::Name], "Alpha 2");
        QCOMPARE(rows[0][Col::Comments], "written");
        QCOMPARE(rows[1][Col::Name], "Beta");
    }

    // No value stays no value, empty text stays empty text, and typed text beats a value the program wrote.
    void additionStoresWhatWasTyped_data()
    {
        QTest::addColumn<QString>("typedName");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("typedComments");
        QTest::addColumn<StoredRow>("stored");
        const StoredRow nothing(10);
        StoredRow typedWins = nothing;
        typedWins[Col::Name] = "written";
        typedWins[Col::Comments] = "typed";
        QTest::newRow("nothing typed: no value") << QString() << QString() << QString() << nothing;
        QTest::newRow("name typed and cleared: no value") << "x\b" << QString() << QString() << nothing;
        QTest::newRow("typed text beats a written value") << QString() << "written"
                                                          << "typed" << typedWins;
    }
    void additionStoresWhatWasTyped()
    {
        QFETCH(QString, typedName);
        QFETCH(QString, written);
        QFETCH(QString, typedComments);
        QFETCH(StoredRow, stored);
        BoundStore s(m_path);
        s.rs().addNew();
        QCOMPARE(s.name.text(), QString());
        QTest::keyClicks(&s.name, typedName);
        if (!written.isNull()) {
            s.rs().fields(ProgramFields::Name).setValue(written);
            s.rs().fields(ProgramFields::Comments).setValue(written);
        }
        QTest::keyClicks(&s.comments, typedComments);
        s.rs().update();
        QCOMPARE(s.rs().recordCount(), 4); // stored at once, and current
        QVERIFY(readAllRows(m_path).back() == stored);
        s.rs().moveFirst(); // nothing more to store
        QCOMPARE(readAllRows(m_path).size(), size_t(4));
    }

    void noValueShownIsNotSavedBackAsEmptyText()
    {
        createDatabase(m_path = m_dir.filePath("n.mdb"), {{std::nullopt}, {QString("")}});
        BoundStore s(m_path);
        QVERIFY(!s.rs().fields(ProgramFields::Name).value().has_value());
        s.rs().moveNext();
        QCOMPARE(s.rs().fields(ProgramFields::Name).value(), QString(""));
        s.store.refresh();
        QVERIFY(readAllRows(m_path) ==
                (std::vector<StoredRow>{StoredRow(10), {QString(""), {}, {}, {}, {}, {}, {}, {}, {}, {}}}));
        QFile::remove(m_path);
    }

    void cancelDropsTypedAndWrittenChanges()
    {
        BoundStore s(m_path);
        s.name.setText(QStringLiteral("Renamed"));
        s.rs().fields(ProgramFields::Comments).setValue(QStringLiteral("written"));
        s.store.updateControls();
        QCOMPARE(s.name.text(), "Alpha");
        s.rs().moveNext();
        QCOMPARE(readAllRows(m_path)[0], (StoredRow{"Alpha", {}, {}, {}, {}, {}, {}, {}, {}, {}}));
    }

    void typedTextReachesOnlyTheRecordShown()
    {
        BoundStore s(m_path);
        {
            DataSource::DisplayFreeze freeze(s.store);
            s.rs().moveNext(); // the fields still show Alpha
            s.name.setText(QStringLiteral("stamp"));
            s.rs().moveNext();
        }
        QCOMPARE(s.name.text(), "Gamma");
        BoundStore none(m_path, selectByNameStatement("nobody"));
        QVERIFY(!none.rs().hasCurrentRecord());
        QVERIFY_THROWS_EXCEPTION(StoreError, none.rs().deleteCurrent());
        none.name.setText(QStringLiteral("typed with nothing shown"));
        none.rs().update();
        none.store.refresh();
        QCOMPARE(storedNames(m_path), (QStringList{"Alpha", "Beta", "Gamma"}));
    }

    void deleteRemovesTheCurrentRecordAtOnce()
    {
        BoundStore main(m_path);
        DataSource closing; // another store on the same file, as at Exit
        closing.setDatabaseName(m_path);
        closing.refresh();
        closing.recordset().moveNext();
        closing.recordset().deleteCurrent();
        QCOMPARE(storedNames(m_path), (QStringList{"Alpha", "Gamma"}));
        closing.recordset().moveNext();
        QCOMPARE(closing.recordset().fields(ProgramFields::Name).value(), "Gamma");

        main.rs().moveNext(); // Beta's place: its row is gone, and a write cannot bring it back
        main.rs().fields(ProgramFields::Comments).setValue(QStringLiteral("late"));
        QVERIFY_THROWS_EXCEPTION(StoreError, main.rs().update());
        main.store.updateControls();
        main.rs().moveFirst();
        main.rs().deleteCurrent();
        QCOMPARE(main.name.text(), QString());
        main.store.refresh();
        QCOMPARE(namesInStoreOrder(main.store), QStringList{"Gamma"});
    }

    void deletingAPendingAdditionStoresNothing()
    {
        BoundStore s(m_path);
        s.rs().addNew();
        s.name.setText(QStringLiteral("never"));
        s.rs().deleteCurrent();
        s.store.refresh();
        QCOMPARE(readAllRows(m_path).size(), size_t(3));
    }

    // A refresh after the store's own writes gives what a fresh read of the source gives, whether the set followed
    // them (removals across a table of several thousand) or must read again.
    void refreshAfterOwnWritesGivesAFreshRead_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("write");
        QTest::newRow("removals far apart") << selectAllStatement() << "remove";
        QTest::newRow("addition a trigger doubles") << selectAllStatement() << "twice";
        QTest::newRow("addition outside the filter") << selectByTypeStatement("Other") << "add";
        QTest::newRow("change out of the filter") << selectByTypeStatement("Other") << "change";
    }
    void refreshAfterOwnWritesGivesAFreshRead()
    {
        QFETCH(QString, source);
        QFETCH(QString, write);
        // Alpha, Beta and Gamma hold rowids 1 to 3, P1 to P9000 the rowids 4 to 9003.
        runSql(m_path, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 9000) "
                       "insert into Programs (ProName, ProType) select 'P' || i, 'Other' from n");
        runSql(m_path, "create trigger twin after insert on Programs when new.ProName = 'twice' "
                       "begin insert into Programs (ProName) values ('twin'); end");
        DataSource s;
        s.setDatabaseName(m_path);
        s.setRecordSource(source);
        s.refresh();
        Recordset& rs = s.recordset();
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
        s.refresh();
        DataSource fresh;
        fresh.setDatabaseName(m_path);
        fresh.setRecordSource(source);
        fresh.refresh();
        QCOMPARE(namesInStoreOrder(s), namesInStoreOrder(fresh));
        if (write == "remove") {
            rs.setBookmark(9002);
            QCOMPARE(rs.fields(ProgramFields::Name).value(), "P8999");
        }
    }

    // A first run makes an owner-only file with an empty table; anything else unusable is refused once and left
    // byte for byte as it was, with nothing beside it.
    void startUpOnEachKindOfFile_data()
    {
        QTest::addColumn<QVariant>("file");
        QTest::addColumn<bool>("starts");
        const QByteArray made = databaseAfter("select 1");
        QByteArray header = made;
        header[16] = 3; // a page size that is no power of two
        QTest::newRow("missing: created owner-only") << QVariant() << true;
        QTest::newRow("zero bytes: made owner-only") << QVariant(QByteArray()) << true;
        QTest::newRow("text") << QVariant(QByteArray("My programs:\r\nAlpha  alpha-user  secret\r\n")) << false;
        QTest::newRow("old format header")
            << QVariant(QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(2000, 'x')) << false;
        QTest::newRow("damaged header") << QVariant(header) << false;
        QTest::newRow("cut short") << QVariant(made.left(100)) << false;
        QTest::newRow("no Programs table")
            << QVariant(databaseAfter("drop table Programs; create table Other (ProName TEXT)")) << false;
        QTest::newRow("missing a field") << QVariant(databaseAfter("alter table Programs drop column ProRate"))
                                         << false;
    }
    void startUpOnEachKindOfFile()
    {
        QFETCH(QVariant, file);
        QFETCH(bool, starts);
        QTemporaryDir dir;
        const QString path = dir.filePath(DataFileName);
        if (file.isValid()) {
            writeFileBytes(path, file.toByteArray());
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        }
        ScriptedMessages messages;
        {
            frmMain window(dir.path());
            QCOMPARE(window.Form_Load(), starts);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{DataFileName});
        if (starts) {
            QVERIFY(messages.shown.isEmpty());
            QCOMPARE(fileMode(path), 0600);
            QVERIFY(readAllRows(path).empty());
        } else {
            QCOMPARE(messages.shown.size(), 1);
            QVERIFY(QRegularExpression("^Error \\d+: .+").match(messages.shown[0].prompt).hasMatch());
            QCOMPARE(fileBytes(path), file.toByteArray());
        }
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
