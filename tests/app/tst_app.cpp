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
        QTest::addColumn<QString>("expected");
        QTest::newRow("German dots") << QLocale("de_DE") << "01.02.00";
        QTest::newRow("Dutch dashes") << QLocale("nl_NL") << "01-02-00";
    }
    void lastLoginTextIsMonthDayYearWithTheLocaleSeparator()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, expected);
        QCOMPARE(lastLoginText(QDate(2000, 1, 2), locale), expected);
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
