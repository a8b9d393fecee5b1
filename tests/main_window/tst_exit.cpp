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
        QTest::addColumn<QString>("comments");   // empty: no value
        const char* const Label = "label";
        const char* const rows[][6] = {
            {"view state writes nothing", "", "", "", "", ""},
            {"addition, nothing typed, labelled", "cmdAdd", "", "", "", Label},
            {"addition, user name typed, labelled", "cmdAdd", "", "me", "", Label},
            {"addition, the typed name beats the label", "cmdAdd", "Mine", "", "Mine", Label},
            {"edit, stored without the label", "cmdModify", "", "me", "Old", "notes"},
            {"title-bar close: no closing window, no label", "close", "Unsaved", "", "Unsaved", ""},
        };
        for (const auto& [row, start, name, user, stored, comments] : rows) {
            const bool labelled = comments == Label;
            QTest::newRow(row) << start << name << user << (labelled && !*stored ? BlankRecordName : stored)
                               << (labelled ? BlankRecordComment : comments);
        }
    }
    void exitStoresWhatIsPending()
    {
        QFETCH(QString, start);
        QFETCH(QString, typedName);
        QFETCH(QString, typedUser);
        QFETCH(QString, storedName);
        QFETCH(QString, comments);
        MainWindowFixture f;
        QVERIFY(f.start({{"Old", "Other", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "notes"}}));
        f.pick("Old");
        const QByteArray before = fileBytes(f.dataFile());
        if (!start.isEmpty()) {
            f.click(start == "close" ? "cmdAdd" : qPrintable(start));
            if (!typedName.isEmpty())
                f.type("txtProName", typedName);
            f.type("txtProUserName", typedUser);
        }
        if (start == "close") {
            f.window->close();
            QVERIFY(!topLevelWindow<frmClosing>());
        } else {
            f.click("cmdExit");
            QPointer<frmClosing> closing = topLevelWindow<frmClosing>();
            QVERIFY(closing);
            QTRY_VERIFY(!closing);
        }
        QVERIFY(!f.window->isVisible());
        if (storedName.isEmpty()) {
            QCOMPARE(fileBytes(f.dataFile()), before);
            return;
        }
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(start == "cmdModify" ? 1 : 2));
        QCOMPARE(f.stored(storedName, F::UserName), typedUser.isEmpty() ? std::optional<QString>() : typedUser);
        QCOMPARE(f.stored(storedName, F::Comments), comments.isEmpty() ? std::optional<QString>() : comments);
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
};

QTEST_MAIN(TestExit)
#include "tst_exit.moc"
