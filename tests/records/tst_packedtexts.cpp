#include "records/datasource.h"
#include "records/packedtexts.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

QStringList listed(const PackedTexts& texts)
{
    QStringList names;
    for (qsizetype i = 0; i < texts.size(); ++i)
        names << texts.at(i);
    return names;
}

// Names from pieces that fold alike, fold differently outside ASCII, or are not letters at all.
QString randomName(QRandomGenerator& random)
{
    static const QStringList pieces = {
        "a",          "A",     "b",      "Z",      "z",      "0",      "_",      "`",
        "[",          " ",     "\u00e9", "\u00c9", "\u00df", "\u0130", "\ufeff", QString(QChar(0)),
        "\U0001F600", "\u00ff"};
    QString name;
    for (int n = int(random.bounded(5)); n > 0; --n)
        name += pieces.at(int(random.bounded(pieces.size())));
    return name;
}

} // namespace

class TestPackedTexts : public QObject
{
    Q_OBJECT

private slots:
    void storedTextsCompareAsTheListShowsThem()
    {
        QRandomGenerator random(20261206);
        for (int i = 0; i < 20000; ++i) {
            const QString a = randomName(random);
            const QString b = randomName(random);
            if (listsBeforeUtf8(a.toUtf8(), b.toUtf8()) != listsBefore(a, b))
                QFAIL(qPrintable(QStringLiteral("'%1' against '%2'").arg(a, b)));
        }
    }

    void editsKeepEveryOtherTextWhole_data()
    {
        QTest::addColumn<int>("blockBits");
        QTest::newRow("a block a text") << 0;
        QTest::newRow("blocks of four, split and emptied") << 2;
        QTest::newRow("one block") << PackedTexts::DefaultBlockBits;
    }
    void editsKeepEveryOtherTextWhole()
    {
        QFETCH(int, blockBits);
        QRandomGenerator random(7);
        PackedTexts texts(blockBits);
        QStringList expected;
        for (int i = 0; i < 30; ++i) { // as the store fills it
            expected << randomName(random);
            texts.append(expected.last().toUtf8());
        }
        for (const int insertsInFour : {3, 1}) { // grows, then shrinks to nothing
            for (int i = 0; i < 400; ++i) {
                const qsizetype at = random.bounded(int(expected.size()) + 1);
                if (expected.isEmpty() || int(random.bounded(4)) < insertsInFour) {
                    const QString name = randomName(random);
                    texts.insert(at, name.toUtf8());
                    expected.insert(at, name);
                } else {
                    texts.remove(at % expected.size());
                    expected.removeAt(at % expected.size());
                }
            }
            QCOMPARE(listed(texts), expected);
            QCOMPARE(texts.byteSize(), expected.join(QString()).toUtf8().size());
        }
    }

    void listOrderBreaksTiesByTheGivenKeys()
    {
        PackedTexts texts;
        for (const char* name : {"beta", "Alpha", "alpha", "ALPHA",
                                 "\xc3\x89"
                                 "clair",
                                 "Zed"})
            texts.append(name);
        const std::vector<qint64> storeOrder = {5, 30, 10, 20, 1, 2};
        QCOMPARE(listed(inListOrder(texts, storeOrder)),
                 QStringList({"alpha", "ALPHA", "Alpha", "beta", "Zed", "\u00c9clair"}));
        QCOMPARE(listed(inListOrder(texts)), QStringList({"Alpha", "alpha", "ALPHA", "beta", "Zed", "\u00c9clair"}));
    }

    // Names are read from the index in list order while the records keep rowid order, wherever the rowids lie.
    void namesReadWithTheKeysetKeepBothOrders_data()
    {
        QTest::addColumn<QList<qint64>>("rowids");
        QTest::newRow("close together") << QList<qint64>{3, 1, 2, 7, 5, 6};
        QTest::newRow("far apart") << QList<qint64>{std::numeric_limits<qint64>::max(), -5,        0,
                                                    std::numeric_limits<qint64>::min(), 1LL << 40, 9};
    }
    void namesReadWithTheKeysetKeepBothOrders()
    {
        QFETCH(QList<qint64>, rowids);
        const QList<std::optional<QString>> names = {"mid", "Zed", std::nullopt, "zed", "\u00e9t\u00e9", "Alpha"};
        QTemporaryDir dir;
        const QString path = dir.filePath("rowids.mdb");
        createDatabase(path);
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        for (int i = 0; i < rowids.size(); ++i) {
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(db, "insert into Programs (rowid, ProName) values (?1, ?2)", -1, &insert, nullptr);
            sqlite3_bind_int64(insert, 1, rowids[i]);
            if (names[i])
                sqlite3_bind_text(insert, 2, names[i]->toUtf8().constData(), -1, SQLITE_TRANSIENT);
            QCOMPARE(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_finalize(insert);
        }
        sqlite3_close(db);

        DataSource store;
        store.setDatabaseName(path);
        store.setRecordSource(selectAllStatement());
        store.setPrefetchedField(ProgramFields::Name);
        store.refresh();
        QList<std::pair<qint64, std::optional<QString>>> byRowid;
        for (int i = 0; i < rowids.size(); ++i)
            byRowid.append({rowids[i], names[i]});
        std::sort(byRowid.begin(), byRowid.end());
        Recordset& rs = store.recordset();
        rs.moveFirst();
        for (const auto& [rowid, name] : byRowid) {
            QCOMPARE(rs.bookmark(), rowid);
            QCOMPARE(rs.fields(ProgramFields::Name).value(), name);
            rs.moveNext();
        }
        QVERIFY(rs.eof());
        const auto inOrder = rs.takePrefetchedInListOrder();
        QVERIFY(inOrder);
        const bool zedFirst = rowids[1] < rowids[3];
        QCOMPARE(listed(*inOrder),
                 QStringList({"Alpha", "mid", zedFirst ? "Zed" : "zed", zedFirst ? "zed" : "Zed", "\u00e9t\u00e9"}));
    }
};

QTEST_GUILESS_MAIN(TestPackedTexts)
#include "tst_packedtexts.moc"
