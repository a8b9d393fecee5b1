// The Open, Help and Check List buttons, Reset Last Login and the About box, seen from the main window.
#include "about_box/frmabout.h"
#include "mainwindowfixture.h"
#include "web_open/fakeshell.h"

using namespace kestrella;
using namespace kestrella::test;

class TestLinks : public QObject
{
    Q_OBJECT

private slots:
    void eachButtonHandsOverItsAddress()
    {
        MainWindowFixture f;
        FakeShell shell(&f.messages);
        QVERIFY(f.start({{"Site", "Other", "Good", "http://login.example/a b", "http://ref.example", "-start"}}));
        f.pick("Site");
        f.click("cmdHelp");
        f.click("cmdCheckList");
        f.button("cmdLoginOpen")->click();
        f.button("cmdRefOpen")->click();
        QCOMPARE(shell.starts.size(), 4);
        QCOMPARE(shell.starts[0].argument, QStringLiteral("http://kestrella.example/kestrella/index.html"));
        QCOMPARE(shell.starts[1].argument, QStringLiteral("http://kestrella.example/zv/mylist/software.php"));
        QCOMPARE(shell.starts[2].argument, QStringLiteral("http://login.example/a b"));
        QCOMPARE(shell.starts[3].argument, QStringLiteral("http://ref.example"));
        QVERIFY(f.messages.shown.isEmpty());

        f.button("cmdStartOpen")->click(); // an address that would pass for an option is never handed over
        QCOMPARE(shell.starts.size(), 4);
        QCOMPARE(f.messages.shown.last().prompt, QStringLiteral("Web page failed to be opened."));

        f.click("cmdModify"); // during an edit the typed address goes, not the stored one
        f.box("txtProUrlReferral")->setText(QStringLiteral("http://typed.example"));
        f.button("cmdRefOpen")->click();
        QCOMPARE(shell.starts.last().argument, QStringLiteral("http://typed.example"));
    }

    void resetLastLoginStampsTodayAndStoresIt()
    {
        MainWindowFixture f;
        f.clock.day = QDate(2026, 12, 31);
        QVERIFY(f.start({{"Site", "Other"}, {"Other"}}));
        f.pick("Site");
        f.button("cmdResetLogin")->click();
        QCOMPARE(f.box("txtLastLogin")->text(), QStringLiteral("12/31/26"));
        QCOMPARE(findRow(f.dataFile(), "Site")->at(6), QStringLiteral("12/31/26"));
        f.clock.day = QDate(2027, 1, 1);
        f.button("cmdResetLogin")->click();
        QCOMPARE(findRow(f.dataFile(), "Site")->at(6), QStringLiteral("01/01/27"));
        QVERIFY(!findRow(f.dataFile(), "Other")->at(6).has_value());

        f.chooseFilter("Start Exchange"); // no record on show: nothing stored, shown or said
        f.button("cmdResetLogin")->click();
        QCOMPARE(f.box("txtLastLogin")->text(), QString());
        f.chooseFilter("List ALL");
        QVERIFY(!findRow(f.dataFile(), "Other")->at(6).has_value());
        QVERIFY(f.messages.shown.isEmpty());
    }

    void theAboutBoxIsOneAndHandsTheActivationBack()
    {
        MainWindowFixture f;
        FakeShell shell(&f.messages);
        QVERIFY(f.start({{"First", "Other"}, {"Second", "Other"}}));
        f.chooseFilter("Other");
        f.click("cmdAbout");
        QPointer<frmAbout> about = frmAbout::instance();
        QVERIFY(about && about->isVisible());
        f.click("cmdAbout");
        QCOMPARE(frmAbout::instance(), about.data());
        about->close();
        QTRY_VERIFY(!about);
        QCOMPARE(f.shownName(), QStringLiteral("First")); // the view state takes the first record again
        QCOMPARE(f.window->focusWidget(), f.command("cmdAdd"));

        f.click("cmdAdd"); // during an addition the hand-back changes nothing
        f.box("txtProName")->setText(QStringLiteral("Typing"));
        f.click("cmdAbout");
        about = frmAbout::instance();
        about->close();
        QTRY_VERIFY(!about);
        QCOMPARE(f.shownName(), QStringLiteral("Typing"));
        QVERIFY(f.window->changePending());
    }
};

QTEST_MAIN(TestLinks)
#include "tst_links.moc"
