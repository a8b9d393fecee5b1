// Exit in each state, what reaches the file, and how the program comes to its end.
#include "about_box/frmabout.h"
#include "mainwindowfixture.h"
#include "shutdown/exitcheck.h"
#include "shutdown/frmclosing.h"

#include <QTimer>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;
namespace F = kestrella::ProgramFields;

class TestExit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { frmClosing::setTickInterval(10); }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<frmClosing*>(w) || qobject_cast<frmAbout*>(w))
                delete w;
        }
    }

    void exitStoresWhatIsPending_data()
    {
        QTest::addColumn<QString>("start"); // empty: the view state
        QTest::addColumn<QString>("typedName");
        QTest::addColumn<QString>("typedUser");
        QTest::addColumn<QString>("storedName"); // empty: nothing stored
        QTest::addColumn<bool>("labelled");
        QTest::newRow("view state writes nothing") << ""
                                                   << ""
                                                   << ""
                                                   << "" << false;
        QTest::newRow("addition, nothing typed, labelled") << "cmdAdd"
                                                           << ""
                                                           << "" << BlankRecordName << true;
        QTest::newRow("addition, user name typed, labelled") << "cmdAdd"
                                                             << ""
                                                             << "me" << BlankRecordName << true;
        QTest::newRow("addition, the typed name beats the label") << "cmdAdd"
                                                                  << "Mine"
                                                                  << ""
                                                                  << "Mine" << true;
        QTest::newRow("edit, stored without the label") << "cmdModify"
                                                        << ""
                                                        << "me"
                                                        << "Old" << false;
    }
    void exitStoresWhatIsPending()
    {
        QFETCH(QString, start);
        QFETCH(QString, typedName);
        QFETCH(QString, typedUser);
        QFETCH(QString, storedName);
        QFETCH(bool, labelled);
        MainWindowFixture f;
        QVERIFY(f.start({{"Old", "Other", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "notes"}}));
        f.pick("Old");
        const QByteArray before = fileBytes(f.dataFile());
        if (!start.isEmpty()) {
            f.click(qPrintable(start));
            if (!typedName.isEmpty())
                f.type("txtProName", typedName);
            f.type("txtProUserName", typedUser);
        }
        f.click("cmdExit");
        QVERIFY(!f.window->isVisible());
        QPointer<frmClosing> closing = topLevelWindow<frmClosing>();
        QVERIFY(closing);
        QTRY_VERIFY(!closing);
        if (storedName.isEmpty()) {
            QCOMPARE(fileBytes(f.dataFile()), before);
            return;
        }
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(start == "cmdAdd" ? 2 : 1));
        QCOMPARE(f.stored(storedName, F::UserName), typedUser.isEmpty() ? std::optional<QString>() : typedUser);
        QCOMPARE(f.stored(storedName, F::Comments),
                 std::optional<QString>(labelled ? BlankRecordComment : QStringLiteral("notes")));
    }

    void aFailedExitLeavesNoLabelForALaterSave()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Old"}}));
        f.click("cmdAdd");
        f.type("txtProUserName", "typed");
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(f.dataFile()).constData(), &db);
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        f.click("cmdExit");
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QCOMPARE(f.messages.shown.size(), 1);
        QVERIFY(f.window->isVisible() && !topLevelWindow<frmClosing>());
        f.type("txtProName", "Mine");
        f.click("cmdSave");
        QCOMPARE(f.stored("Mine", F::UserName), QStringLiteral("typed"));
        QCOMPARE(f.stored("Mine", F::Comments), std::optional<QString>());
    }

    void theProgramEndsWithItsLastWindow()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"One"}}));
        bool runningAfterTheClosingWindow = false;
        QTimer::singleShot(0, [&] {
            f.click("cmdAbout");
            f.click("cmdExit");
        });
        QTimer::singleShot(500, [&] {
            runningAfterTheClosingWindow = !topLevelWindow<frmClosing>() && frmAbout::instance();
            frmAbout::instance()->close();
        });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(runningAfterTheClosingWindow);
    }

    void theTitleBarCloseSkipsExitButStoresWhatIsPending()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"One"}}));
        f.click("cmdAdd");
        f.type("txtProName", "Unsaved");
        f.window->close();
        QVERIFY(!topLevelWindow<frmClosing>());
        QCOMPARE(f.stored("Unsaved", F::Comments), std::optional<QString>());
    }
};

QTEST_MAIN(TestExit)
#include "tst_exit.moc"
