#include "main_window/boundtext.h"
#include "records/datasource.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

const int NameCol = 0;
const int CommentsCol = 9;

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
    // The boxes outlive the store, as a window's controls outlive its data source's closing.
    QLineEdit name;
    QPlainTextEdit comments;
    DataSource store;
};

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
        m_path = m_dir.filePath(QStringLiteral("datReferral.mdb"));
        QFile::remove(m_path);
        createDatabase(m_path, {{QStringLiteral("Alpha")}, {QStringLiteral("Beta")}, {QStringLiteral("Gamma")}});
    }

    void statementsQuoteSplicedTextAsOneValue_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("possessive") << QStringLiteral("Bob's Exchange");
        QTest::newRow("sql injection") << QStringLiteral("' OR '1'='1");
        QTest::newRow("statement break") << QStringLiteral("x'); DROP TABLE Programs;--");
        QTest::newRow("only apostrophes") << QStringLiteral("'''");
        QTest::newRow("wildcards") << QStringLiteral("%_");
    }
    void statementsQuoteSplicedTextAsOneValue()
    {
        QFETCH(QString, name);
        createDatabase(m_dir.filePath("q.mdb"), {{name}, {QStringLiteral("Other")}, {name + QStringLiteral("x")}});
        for (const QString& source : {selectByNameStatement(name)}) {
            DataSource s;
            s.setDatabaseName(m_dir.filePath("q.mdb"));
            s.setRecordSource(source);
            s.refresh();
            QCOMPARE(s.recordset().recordCount(), 1);
            QCOMPARE(s.recordset().fields(ProgramFields::Name).value(), name);
        }
        QCOMPARE(readAllRows(m_dir.filePath("q.mdb")).size(), size_t(3));
        QFile::remove(m_dir.filePath("q.mdb"));
    }

    void statementTextsAreTheOnesStoredFilesExpect()
    {
        QCOMPARE(selectAllStatement(), QStringLiteral("select * from [Programs];"));
        QCOMPARE(selectByTypeStatement("Other"), QStringLiteral("select * from [Programs] where[ProType] = 'Other';"));
        QCOMPARE(selectByNameStatement("Bob's"), QStringLiteral("select * from [Programs] where[ProName] = 'Bob''s';"));
        QCOMPARE(cleanProgramName("Bob's 'x'"), QStringLiteral("Bob`s `x`"));
        QCOMPARE(sortFilterEntries().size(), 11);
        QCOMPARE(sortFilterEntries().last(), QStringLiteral("List ALL"));
    }

    void typeFilterSelectsExactlyThatType()
    {
        createDatabase(m_dir.filePath("t.mdb"),
                       {{"A", "Other"}, {"B", "other"}, {"C", "Surf Exchange"}, {"D", "Other"}});
        DataSource s;
        s.setDatabaseName(m_dir.filePath("t.mdb"));
        s.setRecordSource(selectByTypeStatement("Other"));
        s.refresh();
        QCOMPARE(s.recordset().recordCount(), 2); // exact comparison: "other" is another type
        QCOMPARE(s.recordset().fields("ProName").value(), QStringLiteral("A"));
        s.recordset().moveNext();
        QCOMPARE(s.recordset().fields("ProName").value(), QStringLiteral("D"));
        QFile::remove(m_dir.filePath("t.mdb"));
    }

    void moveReadsEveryRecordInStoreOrder()
    {
        DataSource s;
        s.setDatabaseName(m_path);
        s.setRecordSource(QStringLiteral("Programs"));
        s.refresh();
        s.recordset().moveLast();
        QCOMPARE(s.recordset().recordCount(), 3);
        s.recordset().moveFirst();
        QStringList names;
        while (!s.recordset().eof()) {
            names << *s.recordset().fields("ProName").value();
            s.recordset().moveNext();
        }
        QCOMPARE(names, QStringList({"Alpha", "Beta", "Gamma"}));
        QVERIFY_THROWS_EXCEPTION(StoreError, s.recordset().moveNext());
        QVERIFY_THROWS_EXCEPTION(StoreError, s.recordset().fields("ProName").value());
    }

    void indexesNeverChangeTheStoresOwnOrder()
    {
        const QString path = m_dir.filePath("order.mdb");
        createDatabase(path, {{"Zed"}, {std::nullopt}, {"alpha"}, {"Mid"}});
        for (const QString& source : {QString(ProgramsTable), selectAllStatement()}) {
            DataSource s;
            s.setDatabaseName(path);
            s.setRecordSource(source);
            s.refresh(); // the first open adds the indexes
            s.refresh();
            QStringList names;
            for (s.recordset().moveFirst(); !s.recordset().eof(); s.recordset().moveNext())
                names << s.recordset().fields("ProName").value().value_or("(none)");
            QCOMPARE(names, QStringList({"Zed", "(none)", "alpha", "Mid"}));
        }
        QFile::remove(path);
    }

    void walkFollowsTheKeysetAcrossGaps()
    {
        // Holes in the rowids, read through a filtered source, the names read with the set as the windows read them.
        const QString path = m_dir.filePath("big.mdb");
        QList<SeedRecord> seed;
        for (int i = 0; i < 1000; ++i)
            seed.append({QStringLiteral("P%1").arg(i), i % 3 ? "Other" : "Paid Sponsors"});
        createDatabase(path, seed);
        DataSource s;
        s.setDatabaseName(path);
        s.setRecordSource(selectByTypeStatement("Other"));
        s.setPrefetchedField(ProgramFields::Name);
        s.refresh();
        s.recordset().moveLast();
        QCOMPARE(s.recordset().recordCount(), 666);
        s.recordset().moveFirst();
        int i = 0;
        for (; !s.recordset().eof(); s.recordset().moveNext(), ++i) {
            while (i % 3 == 0)
                ++i;
            QCOMPARE(*s.recordset().fields("ProName").value(), QStringLiteral("P%1").arg(i));
        }
        QFile::remove(path);
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
        const Bookmark beta = [&] {
            s->store.recordset().moveNext();
            return s->store.recordset().bookmark();
        }();
        s->store.recordset().moveFirst();
        s->name.setText(QStringLiteral("Alpha 2"));
        s->store.recordset().fields("ProComments").setValue(QStringLiteral("written"));
        QCOMPARE(*readAllRows(m_path)[0][NameCol], QStringLiteral("Alpha")); // not yet

        if (trigger == "moveNext")
            s->store.recordset().moveNext();
        else if (trigger == "moveFirst")
            s->store.recordset().moveFirst();
        else if (trigger == "moveLast")
            s->store.recordset().moveLast();
        else if (trigger == "bookmark")
            s->store.recordset().setBookmark(beta);
        else if (trigger == "refresh")
            s->store.refresh();
        else if (trigger == "newSource") {
            s->store.setRecordSource(selectByNameStatement("Gamma"));
            s->store.refresh();
        } else
            s.reset();

        const auto rows = readAllRows(m_path);
        QCOMPARE(*rows[0][NameCol], QStringLiteral("Alpha 2"));
        QCOMPARE(*rows[0][CommentsCol], QStringLiteral("written"));
        QCOMPARE(*rows[1][NameCol], QStringLiteral("Beta"));
    }

    void addNewWithNothingTypedStoresNoValueAndTypedTextWins()
    {
        {
            BoundStore s(m_path);
            s.store.recordset().addNew();
            QCOMPARE(s.name.text(), QString());
            s.store.recordset().moveFirst();
        }
        auto rows = readAllRows(m_path);
        QCOMPARE(rows.size(), size_t(4));
        for (const auto& field : rows[3])
            QVERIFY(!field.has_value()); // no value, not empty text

        {
            BoundStore s(m_path);
            s.store.recordset().addNew();
            s.comments.setPlainText(QStringLiteral("typed"));
            s.store.recordset().fields("ProName").setValue(QStringLiteral("WARNING"));
            s.store.recordset().fields("ProComments").setValue(QStringLiteral("WARNING TOO"));
            s.store.refresh();
        }
        rows = readAllRows(m_path);
        QCOMPARE(rows.size(), size_t(5));
        QCOMPARE(rows[4][NameCol], QStringLiteral("WARNING"));
        QCOMPARE(rows[4][CommentsCol], QStringLiteral("typed"));
    }

    void typedThenClearedNameOfANewRecordIsNoValue()
    {
        BoundStore s(m_path);
        s.store.recordset().addNew();
        s.name.setText(QStringLiteral("x"));
        s.name.clear();
        s.store.recordset().update();
        QVERIFY(!readAllRows(m_path).back()[NameCol].has_value());
    }

    void updateStoresAtOnceAndKeepsTheNewRecordCurrent()
    {
        BoundStore s(m_path);
        s.store.recordset().addNew();
        s.name.setText(QStringLiteral("Delta"));
        s.store.recordset().update();
        QCOMPARE(readAllRows(m_path).back()[NameCol], QStringLiteral("Delta"));
        QCOMPARE(s.store.recordset().fields("ProName").value(), QStringLiteral("Delta"));
        QCOMPARE(s.name.text(), QStringLiteral("Delta"));
        QCOMPARE(s.store.recordset().recordCount(), 4);
        s.store.recordset().moveFirst(); // nothing more to store
        QCOMPARE(readAllRows(m_path).size(), size_t(4));
    }

    void updateControlsDropsTypedAndWrittenChanges()
    {
        BoundStore s(m_path);
        s.name.setText(QStringLiteral("Renamed"));
        s.store.recordset().fields("ProComments").setValue(QStringLiteral("written"));
        s.store.updateControls();
        QCOMPARE(s.name.text(), QStringLiteral("Alpha"));
        s.store.recordset().moveNext();
        s.store.refresh();
        const auto rows = readAllRows(m_path);
        QCOMPARE(rows[0][NameCol], QStringLiteral("Alpha"));
        QVERIFY(!rows[0][CommentsCol].has_value());
    }

    void typedTextNeverReachesARecordTheFieldsDoNotShow()
    {
        BoundStore s(m_path);
        {
            DataSource::DisplayFreeze freeze(s.store);
            s.store.recordset().moveNext(); // fields still show Alpha
            s.name.setText(QStringLiteral("stamp"));
            s.store.recordset().moveNext();
        }
        const auto rows = readAllRows(m_path);
        QCOMPARE(rows[0][NameCol], QStringLiteral("Alpha"));
        QCOMPARE(rows[1][NameCol], QStringLiteral("Beta"));
        QCOMPARE(s.name.text(), QStringLiteral("Gamma"));
    }

    void noCurrentRecordMeansNothingStoredAndNothingSaid()
    {
        BoundStore s(m_path, selectByNameStatement("nobody"));
        QCOMPARE(s.store.recordset().recordCount(), 0);
        QVERIFY(!s.store.recordset().hasCurrentRecord());
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().moveFirst());
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().moveLast());
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().bookmark());
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().deleteCurrent());
        s.name.setText(QStringLiteral("typed with nothing shown"));
        s.store.recordset().update();
        s.store.refresh();
        QCOMPARE(readAllRows(m_path).size(), size_t(3));
    }

    void bookmarksSurviveOtherRecordsChanging()
    {
        DataSource s;
        s.setDatabaseName(m_path);
        s.refresh();
        s.recordset().moveLast();
        const Bookmark gamma = s.recordset().bookmark();
        s.recordset().moveFirst();
        s.recordset().deleteCurrent();
        s.recordset().moveNext();
        s.recordset().fields("ProName").setValue(QStringLiteral("Beta 2"));
        s.recordset().setBookmark(gamma);
        QCOMPARE(s.recordset().fields("ProName").value(), QStringLiteral("Gamma"));
        s.refresh();
        s.recordset().setBookmark(gamma);
        QCOMPARE(s.recordset().fields("ProName").value(), QStringLiteral("Gamma"));
        QVERIFY_THROWS_EXCEPTION(StoreError, s.recordset().setBookmark(9999));
    }

    void deleteRemovesAtOnceAndAnotherStoreSeesIt()
    {
        BoundStore main(m_path);
        DataSource closing;
        closing.setDatabaseName(m_path);
        closing.setRecordSource(ProgramsTable);
        closing.refresh();
        closing.recordset().moveNext();
        closing.recordset().deleteCurrent(); // Beta, while the other store is open
        QVERIFY(!closing.recordset().hasCurrentRecord());
        QCOMPARE(readAllRows(m_path).size(), size_t(2));
        closing.recordset().moveNext();
        QCOMPARE(closing.recordset().fields("ProName").value(), QStringLiteral("Gamma"));

        main.store.recordset().moveNext(); // Beta's place: its row is gone, and a write cannot bring it back
        main.store.recordset().fields("ProComments").setValue(QStringLiteral("late"));
        QVERIFY_THROWS_EXCEPTION(StoreError, main.store.recordset().update());
        QCOMPARE(readAllRows(main.store.databaseName()).size(), size_t(2));
        main.store.updateControls();
        main.store.recordset().moveFirst();
        main.store.recordset().deleteCurrent();
        QCOMPARE(main.name.text(), QString());
        main.store.refresh();
        QCOMPARE(main.store.recordset().recordCount(), 1);
        QCOMPARE(main.name.text(), QStringLiteral("Gamma"));
    }

    void deletingAPendingAdditionStoresNothing()
    {
        BoundStore s(m_path);
        s.store.recordset().addNew();
        s.name.setText(QStringLiteral("never"));
        s.store.recordset().deleteCurrent();
        s.store.refresh();
        QCOMPARE(readAllRows(m_path).size(), size_t(3));
    }

    void noValueIsKeptApartFromEmptyText()
    {
        createDatabase(m_dir.filePath("n.mdb"), {{std::nullopt}, {QString("")}});
        BoundStore s(m_dir.filePath("n.mdb"));
        QVERIFY(!s.store.recordset().fields("ProName").value().has_value());
        s.store.recordset().moveNext();
        QCOMPARE(s.store.recordset().fields("proname").value(), QString(""));
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().fields("NoSuchField"));
        s.store.refresh(); // showing a NULL as an empty box must not store empty text
        QVERIFY(!readAllRows(m_dir.filePath("n.mdb"))[0][NameCol].has_value());
        QFile::remove(m_dir.filePath("n.mdb"));
    }

    void longAndMultiLineTextRoundTrips()
    {
        BoundStore s(m_path);
        const QString longName(100000, QLatin1Char('n'));
        const QString comment = QStringLiteral("line one\nline two\t\u200f\U0001F600");
        s.name.setText(longName);
        s.comments.setPlainText(comment);
        s.store.recordset().update();
        const auto row = readAllRows(m_path)[0];
        QCOMPARE(row[NameCol], longName);
        QCOMPARE(row[CommentsCol], comment);
    }

    void firstRunCreatesAnOwnerOnlyEmptyTable()
    {
        for (bool zeroBytes : {false, true}) {
            const QString path = m_dir.filePath(QStringLiteral("new%1.mdb").arg(zeroBytes));
            if (zeroBytes) {
                writeFileBytes(path, {});
                QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
            }
            DataSource s;
            s.setDatabaseName(path);
            s.setRecordSource(selectAllStatement());
            s.refresh();
            QCOMPARE(s.recordset().recordCount(), 0);
            struct stat st
            {
            };
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
            s.recordset().addNew();
            s.recordset().fields("ProName").setValue(QStringLiteral("first"));
            s.recordset().update();
            QCOMPARE(readAllRows(path).size(), size_t(1));
        }
    }

    void aFileThatIsNotAUsableDatabaseIsRefusedAndLeftUntouched_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray random(4096, '\0');
        QRandomGenerator gen(7);
        for (char& c : random)
            c = char(gen.bounded(256));
        QTest::newRow("text") << QByteArray("Hello, this is my list of programs\n");
        QTest::newRow("random") << random;
        QTest::newRow("jet header") << QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(2000, 'x');
        QByteArray noTable;
        {
            QTemporaryDir d;
            const QString p = d.filePath("x.db");
            createDatabase(p);
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(p).constData(), &db);
            sqlite3_exec(db, "drop table Programs; create table Other(a)", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            noTable = fileBytes(p);
            createDatabase(d.filePath("y.db"));
            sqlite3_open(QFile::encodeName(d.filePath("y.db")).constData(), &db);
            sqlite3_exec(db, "alter table Programs drop column ProRate", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            QTest::newRow("missing field") << fileBytes(d.filePath("y.db"));
        }
        QTest::newRow("no Programs table") << noTable;
    }
    void aFileThatIsNotAUsableDatabaseIsRefusedAndLeftUntouched()
    {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath("bad.mdb");
        writeFileBytes(path, bytes);
        DataSource s;
        s.setDatabaseName(path);
        s.setRecordSource(selectAllStatement());
        try {
            s.refresh();
            QFAIL("refresh should fail");
        } catch (const StoreError& e) {
            QVERIFY(e.number() != 0);
            QVERIFY(!e.text().isEmpty());
        }
        QVERIFY(!s.isOpen());
        s.close();
        QCOMPARE(fileBytes(path), bytes);
        QVERIFY(!QFile::exists(path + "-journal"));
        QFile::remove(path);
    }

    void aReadOnlyFileRefusesWritesWithTheStoreError()
    {
        if (::geteuid() == 0)
            QSKIP("root writes through file permissions; the reliability suite covers read-only files");
        QFile::setPermissions(m_path, QFileDevice::ReadOwner);
        BoundStore s(m_path);
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().addNew());
        s.name.setText(QStringLiteral("changed"));
        QVERIFY_THROWS_EXCEPTION(StoreError, s.store.recordset().update());
        QCOMPARE(s.name.text(), QStringLiteral("changed")); // nothing typed is dropped
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        s.store.recordset().update();
        QCOMPARE(readAllRows(m_path)[0][NameCol], QStringLiteral("changed"));
    }

    void aLockedFileFailsTheSaveAndKeepsItPending()
    {
        BoundStore s(m_path);
        sqlite3* other = nullptr;
        sqlite3_open(QFile::encodeName(m_path).constData(), &other);
        sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        s.name.setText(QStringLiteral("while locked"));
        try {
            s.store.recordset().update();
            QFAIL("update should fail while another holds the file");
        } catch (const StoreError& e) {
            QCOMPARE(e.number(), SQLITE_BUSY);
        }
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        s.store.recordset().moveNext();
        QCOMPARE(readAllRows(m_path)[0][NameCol], QStringLiteral("while locked"));
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
