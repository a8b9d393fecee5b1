// Exit in each state, what reaches the file, and how the program comes to its end.
#include "about_box/frmabout.h"
#include "mainwindowfixture.h"
#include "shutdown/exitcheck.h"
#include "shutdown/frmclosing.h"

#include <QTimer>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

const int Name = 0, UserName = 1, LastLogin = 6, Comments = 9;

QPointer<frmClosing> closingWindow()
{
    return topLevelWindow<frmClosing>();
}

} // namespace

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

    void exitInTheViewStateWritesNothing()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Kept", "Other"}}));
        f.pick("Kept");
        const QByteArray before = fileBytes(f.dataFile());
        f.click("cmdExit");
        QVERIFY(!f.window->isVisible());
        QPointer<frmClosing> closing = closingWindow();
        QVERIFY(closing);
        QTRY_VERIFY(!closing); // "Done!" closes it at the first tick
        QCOMPARE(fileBytes(f.dataFile()), before);
    }

    void anAdditionLeftUnsavedIsLabelled_data()
    {
        QTest::addColumn<QString>("typedName");
        QTest::addColumn<QString>("typedUser");
        QTest::newRow("nothing typed") << ""
                                       << "";
        QTest::newRow("user name typed") << ""
                                         << "me";
        QTest::newRow("name typed") << "Mine"
                                    << "";
    }
    void anAdditionLeftUnsavedIsLabelled()
    {
        QFETCH(QString, typedName);
        QFETCH(QString, typedUser);
        MainWindowFixture f;
        QVERIFY(f.start({{"Old"}}));
        f.click("cmdAdd");
        f.box("txtProName")->setText(typedName);
        f.box("txtProUserName")->setText(typedUser);
        f.click("cmdExit");
        const auto rows = readAllRows(f.dataFile());
        QCOMPARE(rows.size(), size_t(2));
        const StoredRow& added = rows[1];
        QCOMPARE(added[Name], typedName.isEmpty() ? BlankRecordName : typedName); // what was typed wins
        QCOMPARE(added[Comments], BlankRecordComment);
        QCOMPARE(added[LastLogin], QStringLiteral("03/05/26"));
        QCOMPARE(added[UserName], typedUser.isEmpty() ? std::optional<QString>() : typedUser);
        QVERIFY(BlankRecordComment.contains(QStringLiteral("Name.  Remove")));
        QVERIFY(!f.window->isVisible());
    }

    void anEditInProgressIsStoredWithoutTheLabel()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Edited", "Other", "Good", std::nullopt, std::nullopt, std::nullopt, "my notes"}}));
        f.pick("Edited");
        f.click("cmdModify");
        f.box("txtProUserName")->setText(QStringLiteral("changed"));
        f.click("cmdExit");
        const StoredRow row = readAllRows(f.dataFile()).at(0);
        QCOMPARE(row[Name], QStringLiteral("Edited"));
        QCOMPARE(row[UserName], QStringLiteral("changed"));
        QCOMPARE(row[Comments], QStringLiteral("my notes"));
    }

    void aPendingRecordThatCannotBeStoredKeepsTheWindow()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Old"}}));
        f.click("cmdAdd");
        f.box("txtProUserName")->setText(QStringLiteral("typed"));
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(f.dataFile()).constData(), &db);
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        f.click("cmdExit");
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QCOMPARE(f.messages.shown.size(), 1);
        QVERIFY(f.messages.shown[0].prompt.startsWith(QStringLiteral("Error 5:")));
        QVERIFY(f.window->isVisible() && f.window->changePending());
        QVERIFY(!closingWindow());
        QCOMPARE(f.box("txtProUserName")->text(), QStringLiteral("typed"));

        // The label went with the Exit that failed: a Save once the file is free stores only what was typed.
        f.box("txtProName")->setText(QStringLiteral("Mine"));
        f.click("cmdSave");
        const auto saved = findRow(f.dataFile(), "Mine");
        QVERIFY(saved.has_value());
        QCOMPARE(saved->at(UserName), QStringLiteral("typed"));
        QVERIFY(!saved->at(Comments).has_value());
    }

    void theProgramEndsWithItsLastWindow()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"One"}}));
        bool runningAfterTheClosingWindow = false;
        bool timedOut = false;
        QTimer::singleShot(0, [&] {
            f.click("cmdAbout");
            f.click("cmdExit");
        });
        // The About box left open keeps the program running after the closing window has gone.
        QTimer::singleShot(500, [&] {
            runningAfterTheClosingWindow = !closingWindow() && frmAbout::instance();
            frmAbout::instance()->close();
        });
        QTimer::singleShot(10000, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(runningAfterTheClosingWindow);
        QVERIFY(!timedOut);
    }

    void theTitleBarCloseSkipsExitButStoresWhatIsPending()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"One"}}));
        f.click("cmdAdd");
        f.box("txtProName")->setText(QStringLiteral("Unsaved"));
        f.window->close();
        QVERIFY(!closingWindow());
        QCOMPARE(readAllRows(f.dataFile()).at(1)[Name], QStringLiteral("Unsaved"));
        QVERIFY(!readAllRows(f.dataFile()).at(1)[Comments].has_value());
    }
};

QTEST_MAIN(TestExit)
#include "tst_exit.moc"
