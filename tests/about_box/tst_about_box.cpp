#include "about_box/frmabout.h"
#include "app/appinfo.h"
#include "support/testsupport.h"
#include "web_open/fakeshell.h"

#include <QPushButton>
#include <QTest>

using namespace kestrella;

class TestAboutBox : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        if (frmAbout* box = frmAbout::instance())
            box->close();
        QTRY_VERIFY(!frmAbout::instance());
    }

    void visitMySiteOpensTheHomeSiteInTheOneBox()
    {
        test::ScriptedMessages messages;
        test::FakeShell shell;
        frmAbout* box = frmAbout::showInstance();
        QTest::mouseClick(box->findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);

        QCOMPARE(shell.starts.size(), 1);
        QCOMPARE(shell.starts[0].kind, test::FakeShell::Kind::Browser);
        QCOMPARE(shell.starts[0].argument, HomeSiteAddress);
        QVERIFY(messages.shown.isEmpty());
        QVERIFY(box->isVisible());
        QCOMPARE(frmAbout::showInstance(), box);
        QCOMPARE(test::topLevelWindow<frmAbout>().data(), box);
    }

    void everyWayOfClosingLeavesNoBoxBehind_data()
    {
        QTest::addColumn<int>("key"); // 0: a click on OK
        QTest::newRow("OK") << 0;
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void everyWayOfClosingLeavesNoBoxBehind()
    {
        QFETCH(int, key);
        QPointer<frmAbout> box = frmAbout::showInstance();
        QVERIFY(QTest::qWaitForWindowActive(box));
        if (key)
            QTest::keyClick(box, Qt::Key(key));
        else
            QTest::mouseClick(box->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QVERIFY(!frmAbout::instance());
        QTRY_VERIFY(box.isNull());
        QVERIFY(frmAbout::showInstance()->isVisible());
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_about_box.moc"
