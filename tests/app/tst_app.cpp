#include "app/appinfo.h"
#include "app/clock.h"
#include "app/twips.h"
#include "support/testsupport.h"

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

    void theClockSeamReplacesTodayAndRestores()
    {
        {
            test::FakeClock fake(QDate(1999, 12, 31));
            QCOMPARE(Clock::current().today(), QDate(1999, 12, 31));
        }
        QCOMPARE(Clock::current().today(), QDate::currentDate());
    }

    void versionAndTwips()
    {
        QCOMPARE(AppInfo::title(), QStringLiteral("Kestrella"));
        QCOMPARE(AppInfo::versionText(), QStringLiteral("Version 1.0.2"));
        QCOMPARE(twipsToPixels(10080), 672);
        QCOMPARE(twipsToPixels(855), 57);
        QCOMPARE(twipsToPixels(7), 0);
        QCOMPARE(twipsToPixels(8), 1);
        QCOMPARE(twipsRect(120, 960, 3015, 5295), QRect(8, 64, 201, 353));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
