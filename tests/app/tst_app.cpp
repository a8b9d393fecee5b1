#include "app/clock.h"

#include <QTest>

using namespace kestrella;

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    // Day-first locales still get month, day, year: only the separator is theirs.
    void lastLoginTextIsMonthDayYearWithTheLocaleSeparator_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("expected");
        QTest::newRow("German dots") << QLocale("de_DE") << QDate(2026, 12, 31) << "12.31.26";
        QTest::newRow("Dutch dashes") << QLocale("nl_NL") << QDate(2000, 1, 2) << "01-02-00";
    }
    void lastLoginTextIsMonthDayYearWithTheLocaleSeparator()
    {
        QFETCH(QLocale, locale);
        QFETCH(QDate, date);
        QFETCH(QString, expected);
        QCOMPARE(lastLoginText(date, locale), expected);
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
