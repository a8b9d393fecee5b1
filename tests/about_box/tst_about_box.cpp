#include "about_box/frmabout.h"
#include "support/testsupport.h"
#include "web_open/fakeshell.h"

#include <QLabel>
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

    void loadFillsCaptionTitleAndVersion()
    {
        frmAbout* box = frmAbout::showInstance();
        QCOMPARE(box->objectName(), QStringLiteral("frmAbout"));
        QCOMPARE(box->windowTitle(), QStringLiteral("About Kestrella"));
        QCOMPARE(box->findChild<QLabel*>("lblTitle")->text(), QStringLiteral("Kestrella"));
        QCOMPARE(box->findChild<QLabel*>("lblVersion")->text(), QStringLiteral("Version 1.0.2"));
        QVERIFY(!box->isModal());
        QVERIFY(!box->windowIcon().isNull());
        QVERIFY(!box->findChild<QLabel*>("Picture1")->pixmap().isNull());
    }

    void aSecondShowingIsTheSameBoxWithoutReloading()
    {
        frmAbout* first = frmAbout::showInstance();
        auto* title = first->findChild<QLabel*>("lblTitle");
        title->setText(QStringLiteral("changed"));
        first->hide();

        QCOMPARE(frmAbout::showInstance(), first);
        QVERIFY(first->isVisible());
        QCOMPARE(title->text(), QStringLiteral("changed"));
    }

    void enterAndEscapeCloseIt_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void enterAndEscapeCloseIt()
    {
        QFETCH(int, key);
        QPointer<frmAbout> box = frmAbout::showInstance();
        QVERIFY(QTest::qWaitForWindowActive(box));
        QCOMPARE(QApplication::focusWidget(), box->findChild<QPushButton*>("cmdOK"));
        QTest::keyClick(box, Qt::Key(key));
        QVERIFY(!frmAbout::instance());
        QTRY_VERIFY(box.isNull());
        // Closed means gone: the next showing builds and loads a new box.
        QCOMPARE(frmAbout::showInstance()->findChild<QLabel*>("lblTitle")->text(), QStringLiteral("Kestrella"));
    }

    void visitMySiteOpensTheHomeSiteAndStaysOpen()
    {
        test::ScriptedMessages messages;
        test::FakeShell shell;
        frmAbout* box = frmAbout::showInstance();
        QTest::mouseClick(box->findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);

        QCOMPARE(shell.starts.size(), 1);
        QCOMPARE(shell.starts[0].kind, test::FakeShell::Kind::Browser);
        QCOMPARE(shell.starts[0].argument, QStringLiteral("http://kestrella.example"));
        QVERIFY(messages.shown.isEmpty());
        QVERIFY(box->isVisible());
        QCOMPARE(frmAbout::instance(), box);
    }

    void controlsSitWhereTheLayoutPutsThem()
    {
        frmAbout* box = frmAbout::showInstance();
        QCOMPARE(box->size(), QSize(489, 325));
        QCOMPARE(box->findChild<QWidget*>("Picture1")->geometry(), QRect(8, 16, 105, 305));
        QCOMPARE(box->findChild<QWidget*>("lblDescription")->geometry(), QRect(128, 59, 339, 190));
        QCOMPARE(box->findChild<QWidget*>("cmdOK")->geometry(), QRect(400, 264, 84, 23));
        QCOMPARE(box->findChild<QWidget*>("cmdSysInfo")->geometry(), QRect(400, 296, 83, 23));
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_about_box.moc"
