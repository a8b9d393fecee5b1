#include "records/datasource.h"
#include "records/listorder.h"
#include "records/packedtexts.h"
#include "records/program.h"
#include "support/testsupport.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

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

// Names from pieces that fold alike, fold differently outside ASCII, join into one letter in some language, carry
// combining marks, are ignored by the collation, or are not letters at all.
QString randomName(QRandomGenerator& random)
{
    static const QStringList pieces =
        QStringList{" ", QString(QChar(0))} +
        QStringLiteral("a A b Z z 0 _ ` [ { - aa Aa ch CH cs dzs ll y i s t \u00e9 \u00c9 \u00e4 \u00c5 \u00f8 \u00df "
                       "\u0130 \u0131 l\u00b7l \u0301 \u030a \ufeff \t \u200b \u0436 \u4ea4 \U0001F600")
            .split(' ');
    QString name;
    for (int n = int(random.bounded(6)); n > 0; --n)
        name += pieces.at(int(random.bounded(pieces.size())));
    return name;
}

} // namespace

class TestPackedTexts : public QObject
{
    Q_OBJECT

private slots:
    // Random names, many alike up to a point deep inside, against ICU's own comparison for the language; the list of a
    // store holding some of them, which it reads from a case-folding index that knows no language, in that order,
    // names that list alike (case alone among them) in the store's order.
    void listOrderIsTheCollators_data()
    {
        QTest::addColumn<QLocale>("locale");
        for (const char* name : {"en_US", "en_GB", "C", "sv_SE", "tr_TR", "da_DK", "cs_CZ", "lt_LT"})
            QTest::newRow(name) << QLocale(QString::fromLatin1(name));
    }
    void listOrderIsTheCollators()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        const ListCollation collation(locale);
        // ICU's own comparison for the language, without regard to case; C collates as American English.
        QCollator reference(locale.language() == QLocale::C ? QLocale("en_US") : locale);
        reference.setCaseSensitivity(Qt::CaseInsensitive);
        for (char16_t a = u' '; a <= u'~'; ++a) { // every printable ASCII character against every other
            for (char16_t b = u' '; b <= u'~'; ++b) {
                if (std::clamp(collation.compare({&a, 1}, {&b, 1}), -1, 1) !=
                    std::clamp(reference.compare(QStringView(&a, 1), QStringView(&b, 1)), -1, 1))
                    QFAIL(QByteArray("'") + char(a) + "' against '" + char(b) + "'");
            }
        }
        QRandomGenerator random(20261207);
        QStringList stored;
        for (int i = 0; i < 5000; ++i) {
            // Half the pairs share a beginning, so they differ deep inside; some differ only in case.
            const QString shared = random.bounded(2) ? randomName(random) : QString();
            const QString a = shared + randomName(random);
            const QString b = random.bounded(4) ? shared + randomName(random) : a.toUpper();
            const int expected = std::clamp(reference.compare(a, b), -1, 1);
            if (std::clamp(collation.compare(a, b), -1, 1) != expected ||
                std::clamp(collation.compareUtf8(a.toUtf8(), b.toUtf8()), -1, 1) != expected)
                QFAIL(a.toUtf8().toHex(' ') + " against " + b.toUtf8().toHex(' '));
            if (i % 20 == 0)
                stored << a << b;
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("names.mdb"));
        createDatabase(path, QList<SeedRecord>(stored.begin(), stored.end()));
        DataSource store;
        store.setDatabaseName(path);
        store.setRecordSource(selectAllStatement());
        store.setPrefetchedField(ProgramFields::Name);
        store.refresh();
        std::stable_sort(stored.begin(), stored.end(),
                         [&](const QString& a, const QString& b) { return reference.compare(a, b) < 0; });
        QCOMPARE(listed(store.recordset().walkInListOrder(ProgramFields::Name)), stored);
    }

    // A long list is checked and merged in two halves on two threads: where the halves meet out of order too.
    void aLongListIsOrderedInHalvesAsInOne()
    {
        QLocale::setDefault(QLocale("en_US"));
        QRandomGenerator random(7);
        QStringList names;
        for (int i = 0; i < 70000; ++i)
            names << QStringLiteral("k%1").arg(random.bounded(100000)) + (i % 50 ? QString() : randomName(random));
        std::sort(names.begin(), names.end());   // as the store's index reads them, nearly in list order
        names[34999] = QStringLiteral("zz");     // the last of the first half belongs at the end
        names[35000] = QStringLiteral("\u00c9"); // the first of the second half near the start
        PackedTexts texts;
        for (const QString& name : names)
            texts.append(name.toUtf8());
        std::stable_sort(names.begin(), names.end(),
                         [](const QString& a, const QString& b) { return listsBefore(a.toUtf8(), b.toUtf8()); });
        QCOMPARE(listed(inListOrder(std::move(texts))), names);
    }

    // Blocks of four, so that insertions split them and removals empty them.
    void editsKeepEveryOtherTextWhole()
    {
        QRandomGenerator random(7);
        PackedTexts texts(2);
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
        }
    }
};

QTEST_GUILESS_MAIN(TestPackedTexts)
#include "tst_packedtexts.moc"
