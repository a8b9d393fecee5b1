#include "app/clock.h"

#include <QTest>

using namespace kestrella;

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void lastLoginTextIsMonthDayYearWithTheLocaleSeparator_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("expected");
        QTest::newRow("United States") << QLocale(QLocale::English, QLocale::UnitedStates) << QDate(2026, 3, 5)
                                       << "03/05/26";
        // Day-first locales still get month, day, year: only the separator is theirs.
        QTest::newRow("German dots") << QLocale(QLocale::German, QLocale::Germany) << QDate(2026, 12, 31) << "12.31.26";
        QTest::newRow("Dutch dashes") << QLocale(QLocale::Dutch, QLocale::Netherlands) << QDate(2000, 1, 2)
                                      << "01-02-00";
    }
    void lastLoginTextIsMonthDayYearWithTheLocaleSeparator()
    {
        QFETCH(QLocale, locale);
        QFETCH(QDate, date);
        QFETCH(QString, expected);
        QCOMPARE(lastLoginText(date, locale), expected);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
