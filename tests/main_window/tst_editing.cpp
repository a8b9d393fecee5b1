// Adding, saving, editing, cancelling and deleting through the main window, checked on the file.
#include "mainwindowfixture.h"

using namespace kestrella;
using namespace kestrella::test;
namespace F = kestrella::ProgramFields;
const std::optional<QString> Null;

class TestEditing : public QObject
{
    Q_OBJECT

private slots:
    void saveStoresWhatWasTypedAtOnce()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Existing", "Other"}}));
        f.pick("Existing");
        f.click("cmdAdd");
        QCOMPARE(f.chooser("cboType")->currentIndex(), -1); // nothing is picked that the user did not see
        f.type("txtProName", "Bob's Exchange");
        f.type("txtProUserName", "o'neil");
        f.type("txtComments", "it's fine");
        f.chooser("cboType")->setCurrentText("Banner Exchange");
        f.click("cmdSave");
        const QString saved = QStringLiteral("Bob`s Exchange");
        QCOMPARE(f.stored(saved, F::UserName), QStringLiteral("o'neil")); // stored before anything moves
        QCOMPARE(f.stored(saved, F::Comments), QStringLiteral("it's fine"));
        QCOMPARE(f.stored(saved, F::LastLogin), QStringLiteral("03/05/26"));
        QCOMPARE(f.stored(saved, F::Type), QStringLiteral("Banner Exchange"));
        QCOMPARE(f.stored(saved, F::Rate), Null);
        QCOMPARE(f.stored(saved, F::Password), Null);
        QCOMPARE(f.listed(), QStringList({saved, "Existing"}));
        QCOMPARE(f.count(), QStringLiteral("2"));
        QCOMPARE(f.shownName(), saved);
        QCOMPARE(f.selectedRow(), 1); // the entry picked before Add moved down and stays selected
    }

    void namesAreCleanedButNeverTrimmed_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // empty: refused
        const char* const rows[][3] = {{"blanks kept", "   ", "   "},
                                       {"apostrophes become backquotes", " a'b''", " a`b``"},
                                       {"an empty name is refused", "", ""}};
        for (const auto& [row, typed, stored] : rows)
            QTest::newRow(row) << QString(typed) << QString(stored);
    }
    void namesAreCleanedButNeverTrimmed()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        MainWindowFixture f;
        QVERIFY(f.start({}));
        f.click("cmdAdd");
        f.type("txtProName", typed);
        f.type("txtProUserName", "kept");
        f.click("cmdSave");
        QCOMPARE(f.listed(), stored.isEmpty() ? QStringList() : QStringList{stored});
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(!stored.isEmpty()));
        QCOMPARE(f.window->changePending(), stored.isEmpty());
        QCOMPARE(f.messages.shown.size(), int(stored.isEmpty()));
        QCOMPARE(f.box("txtProUserName")->text(), QStringLiteral("kept"));
    }

    void theDateStampIsTheDayOfTheAddition()
    {
        MainWindowFixture f;
        f.clock.day = QDate(2026, 12, 31);
        QVERIFY(f.start({}));
        f.click("cmdAdd");
        f.clock.day = QDate(2027, 1, 1); // past midnight
        f.type("txtProName", "Late");
        f.click("cmdSave");
        f.click("cmdAdd");
        QCOMPARE(f.box("txtLastLogin")->text(), QStringLiteral("01/01/27"));
        QCOMPARE(f.stored("Late", F::LastLogin), QStringLiteral("12/31/26"));
    }

    void editShowsTheStoredPicksAndSaveReplacesTheEntry()
    {
        MainWindowFixture f;
        // Another tool stored Alpha's type and rating in other case: they still pick their entries.
        QVERIFY(f.start({{"Alpha", "surf EXCHANGE", "fair"}, {"Mid", "Weird type"}, {"Zed"}}));
        f.click("cmdAdd"); // an earlier addition leaves other picks in the choosers
        f.type("txtProName", "New");
        f.chooser("cboType")->setCurrentText("Banner Exchange");
        f.chooser("cboRateit")->setCurrentText("Good");
        f.click("cmdSave");
        f.pick("Alpha");
        f.click("cmdModify");
        QCOMPARE(f.chooser("cboType")->currentText(), QStringLiteral("Surf Exchange"));
        QCOMPARE(f.chooser("cboRateit")->currentText(), QStringLiteral("Fair"));
        f.type("txtProName", "Zulu");
        f.click("cmdSave");
        QCOMPARE(f.listed(), QStringList({"Mid", "New", "Zed", "Zulu"}));
        QCOMPARE(f.count(), QStringLiteral("4"));
        QCOMPARE(f.stored("Zulu", F::Type), QStringLiteral("Surf Exchange"));
        QVERIFY(!findRow(f.dataFile(), "Alpha"));
        // A type that is not an entry shows nothing picked, and an untouched chooser leaves it as stored.
        f.pick("Mid");
        f.click("cmdModify");
        QCOMPARE(f.chooser("cboType")->currentIndex(), -1);
        f.click("cmdSave");
        QCOMPARE(f.stored("Mid", F::Type), QStringLiteral("Weird type"));
        QCOMPARE(f.stored("Mid", F::Rate), Null);
    }

    void aQuestionAnsweredOtherwiseChangesNothing_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("answer");
        const std::pair<const char*, int> answers[] = {{"No", int(MessageAnswer::No)},
                                                       {"Cancel or closed", int(MessageAnswer::Cancel)}};
        for (const auto& [said, answer] : answers) {
            QTest::addRow("Cancel of an edit / %s", said) << "cmdModify"
                                                          << "cmdCancel" << answer;
            QTest::addRow("Cancel of an addition / %s", said) << "cmdAdd"
                                                              << "cmdCancel" << answer;
            QTest::addRow("Delete / %s", said) << ""
                                               << "cmdDelete" << answer;
        }
    }
    void aQuestionAnsweredOtherwiseChangesNothing()
    {
        QFETCH(QString, start);
        QFETCH(QString, command);
        QFETCH(int, answer);
        MainWindowFixture f;
        QVERIFY(f.start({{"Keep", "Other"}}));
        f.pick("Keep");
        if (!start.isEmpty()) {
            f.click(qPrintable(start));
            f.type("txtProName", "Typed");
        }
        const QByteArray before = fileBytes(f.dataFile());
        f.answerAndClick(MessageAnswer(answer), qPrintable(command));
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.window->changePending(), !start.isEmpty());
        QCOMPARE(f.shownName(), QString(start.isEmpty() ? "Keep" : "Typed"));
        QCOMPARE(fileBytes(f.dataFile()), before);
        QCOMPARE(f.count(), QStringLiteral("1"));
    }

    void aConfirmedCancelDropsEverythingTyped_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("pickedBefore");
        QTest::addColumn<QString>("shownAfter");
        const char* const rows[][4] = {
            {"an edit", "cmdModify", "Second", "Second"},
            {"an addition after a pick", "cmdAdd", "Second", "Second"},
            {"an addition with nothing picked shows the first of the set", "cmdAdd", "", "First"}};
        for (const auto& [row, start, picked, shown] : rows)
            QTest::newRow(row) << QString(start) << QString(picked) << QString(shown);
    }
    void aConfirmedCancelDropsEverythingTyped()
    {
        QFETCH(QString, start);
        QFETCH(QString, pickedBefore);
        QFETCH(QString, shownAfter);
        MainWindowFixture f;
        QVERIFY(f.start({{"First", "Other"}, {"Second", "Other"}}));
        if (pickedBefore.isEmpty())
            f.chooseFilter("Other");
        else
            f.pick(pickedBefore);
        const QByteArray before = fileBytes(f.dataFile());
        f.click(qPrintable(start));
        f.type("txtProName", "Unwanted");
        f.type("txtProUserName", "typed");
        f.answerAndClick(MessageAnswer::Yes, "cmdCancel");
        QCOMPARE(fileBytes(f.dataFile()), before);
        QCOMPARE(f.shownName(), shownAfter);
        QCOMPARE(f.box("txtProUserName")->text(), QString());
        QVERIFY(!f.window->changePending() && !f.window->editingExisting());
        // Delete then acts on the record on show.
        f.answerAndClick(MessageAnswer::Yes, "cmdDelete");
        QVERIFY(!findRow(f.dataFile(), shownAfter));
        QCOMPARE(f.listed(), QStringList({shownAfter == "First" ? "Second" : "First"}));
        QCOMPARE(f.count(), QStringLiteral("1"));
    }

    void deletingOneOfTwoEqualNamesKeepsTheOther()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Twin", "Other"}, {"Twin", "Surf Exchange"}, {"Solo"}}));
        f.pick("Twin", 1);
        f.answerAndClick(MessageAnswer::Yes, "cmdDelete");
        QCOMPARE(f.listed(), QStringList({"Solo", "Twin"}));
        QCOMPARE(f.count(), QStringLiteral("2"));
        QCOMPARE(f.box("txtType")->text(), QStringLiteral("Surf Exchange"));
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(2));
        QCOMPARE(f.stored("Twin", F::Type), QStringLiteral("Surf Exchange"));
    }

    void resetLastLoginStampsTheRecordOnShowOnly()
    {
        MainWindowFixture f;
        f.clock.day = QDate(2026, 12, 31);
        QVERIFY(f.start({{"Site", "Other"}, {"Other"}}));
        f.pick("Site");
        f.button("cmdResetLogin")->click();
        QCOMPARE(f.box("txtLastLogin")->text(), QStringLiteral("12/31/26"));
        QCOMPARE(f.stored("Site", F::LastLogin), QStringLiteral("12/31/26"));
        f.chooseFilter("Start Exchange"); // no record on show: nothing stored, shown or said
        f.button("cmdResetLogin")->click();
        QCOMPARE(f.box("txtLastLogin")->text(), QString());
        QCOMPARE(f.stored("Other", F::LastLogin), Null);
        QVERIFY(f.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
