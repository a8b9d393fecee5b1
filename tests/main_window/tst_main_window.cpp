// The main window's list, filter, picks, activation and links, seen as the user sees them.
#include "about_box/frmabout.h"
#include "mainwindowfixture.h"
#include "shutdown/frmclosing.h"

#include <QContextMenuEvent>
#include <QScrollBar>
#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

const QList<SeedRecord> Sample = {
    {"Zeta Surf", "Surf Exchange", "Good", "http://zeta.example/login", std::nullopt, ""},
    {"alpha", "Traffic Exchange", "Fair", "", "http://alpha.example/ref", std::nullopt},
    {"beta", "Surf Exchange", std::nullopt, std::nullopt, std::nullopt, "http://beta.example/start"},
    {std::nullopt, "Surf Exchange"},
    {"Alpha", "Other"},
    {"", "Other"},
    {"beta", "Banner Exchange", "Bad", "http://second-beta.example"},
    {"x' OR '1'='1", "other"},
};

const QStringList All = {"", "alpha", "Alpha", "beta", "beta", "x' OR '1'='1", "Zeta Surf"};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void listingsFollowTheFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("count");
        QTest::newRow("start-up: nameless counted not listed, empty name first, case-free order") << "" << All << "8";
        QTest::newRow("one type, matched exactly") << "Other" << QStringList{"", "Alpha"} << "2";
        QTest::newRow("a type nobody has") << "Start Exchange" << QStringList{} << "0";
        QTest::newRow("back to all") << "List ALL" << All << "8";
    }
    void listingsFollowTheFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, listed);
        QFETCH(QString, count);
        MainWindowFixture f;
        QVERIFY(f.start(Sample));
        f.pick("alpha");
        if (!filter.isEmpty()) {
            f.chooseFilter("Surf Exchange");
            f.chooseFilter(filter);
            QVERIFY(!f.command("cmdModify")->isEnabled() && !f.command("cmdDelete")->isEnabled());
        }
        QCOMPARE(f.listed(), listed);
        QCOMPARE(f.count(), count);
        QVERIFY(f.messages.shown.isEmpty());
    }

    void savedNamesLandWhereARebuildPutsThem()
    {
        // Case variants beyond ASCII are equal to the list but not to the database's own folding.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        MainWindowFixture f;
        QVERIFY(f.start({{"\u00e9clair"}, {"\u00c9clair"}, {"apple"}, {"Zed"}, {"zed"}}));
        for (const QString& name : {QStringLiteral("\u00c9CLAIR"), QStringLiteral("ZED"), QStringLiteral("b")})
            f.addAndSave(name);
        const QStringList expected = {"apple", "b", "\u00e9clair", "\u00c9clair", "\u00c9CLAIR", "Zed", "zed", "ZED"};
        QCOMPARE(f.listed(), expected);
        f.chooseFilter("List ALL");
        QCOMPARE(f.listed(), expected);
    }

    void aPickShowsThatRecord_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<int>("key"); // 0: a mouse click
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("opens"); // login, referral, start: 1 where the button is enabled
        QTest::newRow("mouse") << "Zeta Surf" << 0 << 0 << "Surf Exchange" << QString("100");
        QTest::newRow("mouse, a name equal but for case") << "Alpha" << 0 << 0 << "Other" << QString("000");
        QTest::newRow("mouse, apostrophe and SQL text") << "x' OR '1'='1" << 0 << 0 << "other" << QString("000");
        QTest::newRow("mouse, second of equal names shows the first stored")
            << "beta" << 1 << 0 << "Surf Exchange" << QString("001");
        QTest::newRow("key, type-ahead") << "Zeta Surf" << 0 << int(Qt::Key_Z) << "Surf Exchange" << QString("100");
        QTest::newRow("key, up onto the second of equal names")
            << "beta" << 0 << int(Qt::Key_Up) << "Surf Exchange" << QString("001");
    }
    void aPickShowsThatRecord()
    {
        QFETCH(QString, name);
        QFETCH(int, occurrence);
        QFETCH(int, key);
        QFETCH(QString, type);
        QFETCH(QString, opens);
        MainWindowFixture f;
        QVERIFY(f.start(Sample));
        if (key == Qt::Key_Up) {
            f.pick("Zeta Surf");
            QTest::keyClick(f.list(), Qt::Key_Up);
            QTest::keyClick(f.list(), Qt::Key_Up);
        } else if (key) {
            f.list()->setFocus();
            QTest::keyClick(f.list(), Qt::Key(key));
        } else {
            f.pick(name, occurrence);
        }
        QCOMPARE(f.shownName(), name);
        QCOMPARE(f.box("txtType")->text(), type);
        const QString enabled = QString::number(f.button("cmdLoginOpen")->isEnabled()) +
                                QString::number(f.button("cmdRefOpen")->isEnabled()) +
                                QString::number(f.button("cmdStartOpen")->isEnabled());
        QCOMPARE(enabled, opens);
        QVERIFY(f.command("cmdModify")->isEnabled() && f.command("cmdDelete")->isEnabled());
    }

    void nothingMovesWhileAChangeIsPending()
    {
        MainWindowFixture f;
        QVERIFY(f.start(Sample));
        f.pick("alpha");
        f.click("cmdModify");
        f.type("txtProName", "Typed");
        const QByteArray before = fileBytes(f.dataFile());
        f.list()->setCurrentIndex(f.window->programList().index(6)); // from code: the list is disabled
        f.window->chooseFilterWhilePendingForTests("Other");
        f.window->Form_Activate();
        QCOMPARE(f.shownName(), QStringLiteral("Typed"));
        QCOMPARE(fileBytes(f.dataFile()), before);
        f.window->chooseFilterWhilePendingForTests("List ALL"); // rebuilds the list, then says why nothing else moves
        QCOMPARE(f.messages.shown.size(), 3);
        QCOMPARE(f.listed().size(), All.size());
    }

    void activationShowsTheFirstRecordOfTheSet()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Named", "Other"}, {"", "Other"}}));
        f.pick("");
        f.window->Form_Activate(); // the record current again has an empty name: Edit goes
        QCOMPARE(f.box("txtType")->text(), QStringLiteral("Other"));
        QVERIFY(!f.command("cmdModify")->isEnabled());
        f.chooseFilter("Other"); // the walk leaves no record on show
        QCOMPARE(f.shownName(), QString());
        f.click("cmdAbout");
        std::unique_ptr<frmAbout> about(frmAbout::instance());
        QVERIFY(QTest::qWaitForWindowActive(about.get()));
        f.window->activateWindow();
        QTRY_COMPARE(f.shownName(), QStringLiteral("Named"));
    }

    void popupsOfTheWindowAreNoActivation_data()
    {
        QTest::addColumn<bool>("dropDown");
        QTest::newRow("a filter entry chosen in the drop-down list") << true;
        QTest::newRow("a context menu dismissed after a Save") << false;
    }
    void popupsOfTheWindowAreNoActivation()
    {
        QFETCH(bool, dropDown);
        MainWindowFixture f;
        QVERIFY(f.start(Sample));
        QString shown;
        std::unique_ptr<QWidget> menu;
        if (dropDown) {
            QComboBox* sort = f.chooser("cboSort");
            sort->setFocus();
            sort->showPopup();
            QTRY_VERIFY(QApplication::activePopupWidget());
            QTest::qWait(50);
            QAbstractItemView* entries = sort->view();
            const QModelIndex surf = entries->model()->index(sort->findText("Surf Exchange"), 0);
            QTest::mouseClick(entries->viewport(), Qt::LeftButton, {}, entries->visualRect(surf).center());
        } else {
            f.addAndSave(shown = QStringLiteral("Saved"));
            QLineEdit* name = f.box("txtProName");
            QContextMenuEvent open(QContextMenuEvent::Keyboard, QPoint(5, 5), name->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(name, &open);
            QTRY_VERIFY(QApplication::activePopupWidget());
            // The desktop hands the focus back while the menu still exists, before its deferred deletion.
            menu.reset(QApplication::activePopupWidget());
            menu->setAttribute(Qt::WA_DeleteOnClose, false);
            QTest::qWait(50);
            QTest::keyClick(menu.get(), Qt::Key_Escape);
            f.window->activateWindow();
        }
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QTest::qWait(50); // an activation would come back through the event loop
        QCOMPARE(f.shownName(), shown);
    }

    void aFailingReReadIsReportedAndTheProgramGoesOn_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("shownBefore");
        QTest::newRow("filter choice") << "filter" << QString("alpha");
        QTest::newRow("list pick, a record on show") << "pick" << QString("alpha");
        QTest::newRow("list pick, no record on show") << "pick" << QString();
        QTest::newRow("Delete's re-read") << "cmdDelete" << QString("alpha");
        QTest::newRow("Exit's refresh after the edit is stored") << "cmdExit" << QString("alpha");
    }
    void aFailingReReadIsReportedAndTheProgramGoesOn()
    {
        QFETCH(QString, action);
        QFETCH(QString, shownBefore);
        MainWindowFixture f;
        QVERIFY(f.start(Sample));
        if (shownBefore.isEmpty())
            f.chooseFilter("Surf Exchange");
        else
            f.pick(shownBefore);
        const QStringList listed = f.listed();
        const QString userName = f.box("txtProUserName")->text();
        const QString type = f.box("txtType")->text();
        if (action.startsWith("cmd")) {
            // The set's table goes, after the store has done its part.
            f.window->datProgram().setRecordSource(QStringLiteral("select * from [Gone];"));
        } else {
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(f.dataFile()).constData(), &db);
            sqlite3_exec(db, "drop table Programs", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        if (action == "filter")
            f.chooseFilter("Other");
        else if (action == "pick")
            f.pick("beta");
        else if (action == "cmdExit")
            f.click("cmdModify");
        if (action.startsWith("cmd"))
            f.answerAndClick(MessageAnswer::Yes, qPrintable(action));
        QCOMPARE(f.messages.shown.size(), action == "cmdDelete" ? 2 : 1); // Delete asks first
        QVERIFY(f.messages.shown.last().prompt.contains(QStringLiteral("no such table")));
        if (action == "filter") {
            QCOMPARE(f.chooser("cboSort")->currentText(), ListAllEntry); // the filter names the set listed
            QCOMPARE(f.listed(), listed);
        } else if (action == "pick") {
            // Nothing moved: the fields, the selection and the commands stay with the record on show.
            QCOMPARE(f.shownName(), shownBefore);
            QCOMPARE(f.box("txtType")->text(), type);
            QCOMPARE(f.box("txtProUserName")->text(), userName);
            QCOMPARE(f.selectedRow(), shownBefore.isEmpty() ? -1 : int(listed.indexOf(shownBefore)));
            QCOMPARE(f.command("cmdDelete")->isEnabled(), !shownBefore.isEmpty());
        } else if (action == "cmdDelete") {
            QVERIFY(!f.listed().contains(shownBefore));
        } else {
            QVERIFY(!f.window->isVisible());
            delete topLevelWindow<frmClosing>();
        }
    }

    void longListsShowSavedEntriesInTheirRowAndLongNamesInFull()
    {
        MainWindowFixture f;
        QList<SeedRecord> records;
        for (int i = 0; i < 300; ++i)
            records.append({QStringLiteral("Program %1").arg(i, 3, 10, QLatin1Char('0')), "Other"});
        const QString longName = QStringLiteral("Zz ") + QString(80, QLatin1Char('W')) + QStringLiteral(" end");
        records.append({longName, "Other"});
        QVERIFY(f.start(records));
        QAbstractItemView* list = f.list();
        f.pick("Program 150");
        f.addAndSave("Program 099b");
        QCOMPARE(f.selectedRow(), 151); // the picked entry stays selected
        const QModelIndex saved = f.window->programList().index(100);
        QCOMPARE(saved.data().toString(), QStringLiteral("Program 099b"));
        list->scrollTo(saved);
        QCOMPARE(list->indexAt(list->visualRect(saved).center()), saved);
        f.chooseFilter("Other"); // a refill keeps the long name reachable in full
        const QModelIndex index = f.window->programList().index(int(f.listed().indexOf(longName)));
        QScrollBar* sideways = list->horizontalScrollBar();
        list->scrollTo(index);
        QTRY_VERIFY(sideways->maximum() > 0);
        sideways->setValue(sideways->maximum());
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(index).topRight() + QPoint(-4, 2)));
        QVERIFY(list->visualRect(index).width() >= list->fontMetrics().horizontalAdvance(longName));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
