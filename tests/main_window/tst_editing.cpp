// Adding, saving, editing, cancelling and deleting through the main window, checked on the file.
#include "mainwindowfixture.h"

#include <sqlite3.h>

using namespace kestrella;
using namespace kestrella::test;

namespace {

const int Name = 0, UserName = 1, Password = 2, LastLogin = 6, Type = 7, Rate = 8, Comments = 9;
const QColor Yellow(255, 255, 192);

// Holds the file locked against writers, as another program could.
struct WriteLock
{
    explicit WriteLock(const QString& path)
    {
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    }
    ~WriteLock() { release(); }
    void release()
    {
        if (db) {
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            db = nullptr;
        }
    }
    sqlite3* db = nullptr;
};

void type(QWidget* box, const QString& text)
{
    if (auto* line = qobject_cast<QLineEdit*>(box))
        line->clear();
    QTest::keyClicks(box, text);
}

} // namespace

class TestEditing : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void addAndSaveStoresTheRecordAtOnce()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Existing", "Other", std::nullopt, "http://existing.example"}}));
        f.pick("Existing");
        f.click("cmdAdd");
        QVERIFY(f.window->changePending() && !f.window->editingExisting());
        QCOMPARE(f.chooser("cboType")->currentIndex(), -1); // nothing picked right after start-up
        QCOMPARE(f.box("txtLastLogin")->text(), QStringLiteral("03/05/26"));
        QCOMPARE(QApplication::focusWidget(), f.box("txtProName"));
        QVERIFY(f.chooser("cboType")->isVisible() && !f.box("txtType")->isVisible());
        for (const char* off : {"cmdAdd", "cmdDelete", "cmdModify"})
            QVERIFY2(!f.command(off)->isEnabled(), off);
        QVERIFY(f.command("cmdSave")->isEnabled() && f.command("cmdCancel")->isEnabled());
        QVERIFY(!f.list()->isEnabled() && !f.chooser("cboSort")->isEnabled());
        QVERIFY(!f.button("cmdResetLogin")->isEnabled() && !f.button("cmdLoginOpen")->isEnabled());
        QVERIFY(!f.box("txtProName")->isReadOnly() && f.box("txtLastLogin")->isReadOnly());
        QCOMPARE(f.box("txtProName")->palette().color(QPalette::Base), Yellow);
        QCOMPARE(f.selectedRow(), 0); // the entry picked before Add stays selected

        type(f.box("txtProName"), "Bob's Exchange");
        type(f.box("txtProUserName"), "o'neil");
        type(f.control<QPlainTextEdit>("txtComments"), "it's fine");
        f.chooser("cboType")->setCurrentText("Banner Exchange");
        f.chooser("cboRateit")->setCurrentText("Good");
        f.click("cmdSave");

        const auto row = findRow(f.dataFile(), "Bob`s Exchange"); // stored before anything moves
        QVERIFY(row.has_value());
        QCOMPARE((*row)[UserName], QStringLiteral("o'neil"));
        QCOMPARE((*row)[Comments], QStringLiteral("it's fine"));
        QCOMPARE((*row)[LastLogin], QStringLiteral("03/05/26"));
        QCOMPARE((*row)[Type], QStringLiteral("Banner Exchange"));
        QCOMPARE((*row)[Rate], QStringLiteral("Good"));
        QVERIFY(!(*row)[Password].has_value());

        QCOMPARE(f.listed(), QStringList({"Bob`s Exchange", "Existing"}));
        QCOMPARE(f.count(), QStringLiteral("2"));
        QCOMPARE(f.shownName(), QStringLiteral("Bob`s Exchange"));
        QCOMPARE(f.box("txtType")->text(), QStringLiteral("Banner Exchange"));
        QVERIFY(!f.window->changePending());
        QVERIFY(f.command("cmdAdd")->isEnabled() && !f.command("cmdSave")->isEnabled());
        QVERIFY(f.list()->isEnabled() && f.box("txtProName")->isReadOnly());
        QVERIFY(!f.button("cmdResetLogin")->isEnabled()); // until the next pick
        QCOMPARE(QApplication::focusWidget(), f.command("cmdAdd"));
        QCOMPARE(f.box("txtProName")->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(f.selectedRow(), 1); // "Existing" moved down and stays selected

        f.pick("Existing");
        f.pick("Bob`s Exchange");
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(2));
        QCOMPARE(f.box("txtRateit")->text(), QStringLiteral("Good"));
    }

    void namesAreCleanedButNeverTrimmed_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("blanks") << "   "
                                << "   ";
        QTest::newRow("apostrophes") << "'''"
                                     << "```";
        QTest::newRow("padded") << " a'b "
                                << " a`b ";
    }
    void namesAreCleanedButNeverTrimmed()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        MainWindowFixture f;
        QVERIFY(f.start({}));
        f.click("cmdAdd");
        type(f.box("txtProName"), typed);
        f.click("cmdSave");
        QCOMPARE(readAllRows(f.dataFile()).at(0)[Name], stored);
        QCOMPARE(f.listed(), QStringList({stored}));
    }

    void anEmptyNameIsRefusedAndNothingChanges()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"One"}}));
        f.click("cmdAdd");
        type(f.box("txtProUserName"), "kept");
        f.command("cmdSave")->setFocus();
        f.click("cmdSave");
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown[0].prompt, QStringLiteral(" Please Enter A Program Name ! "));
        QCOMPARE(f.messages.shown[0].caption, QStringLiteral("Kestrella"));
        QCOMPARE(QApplication::focusWidget(), f.box("txtProName"));
        QVERIFY(f.window->changePending() && f.command("cmdSave")->isEnabled());
        QCOMPARE(f.box("txtProUserName")->text(), QStringLiteral("kept"));
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(1));
        QCOMPARE(f.count(), QStringLiteral("1"));
    }

    void theDateStampUsesTheClockAndTheLocaleSeparator()
    {
        MainWindowFixture f;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        f.clock.day = QDate(2026, 12, 31);
        QVERIFY(f.start({}));
        f.click("cmdAdd");
        QCOMPARE(f.box("txtLastLogin")->text(), QStringLiteral("12.31.26"));
        f.clock.day = QDate(2027, 1, 1); // past midnight
        type(f.box("txtProName"), "Late");
        f.click("cmdSave");
        f.click("cmdAdd");
        QCOMPARE(f.box("txtLastLogin")->text(), QStringLiteral("01.01.27"));
        QCOMPARE(findRow(f.dataFile(), "Late")->at(LastLogin), QStringLiteral("12.31.26"));
    }

    void addWithoutAnOpenRecordSetReportsAndStaysInTheViewState()
    {
        MainWindowFixture f;
        f.window = std::make_unique<frmMain>(f.dir.path()); // never loaded: no record set
        f.click("cmdAdd");
        QCOMPARE(f.messages.shown.size(), 1);
        QVERIFY(!f.window->changePending());
        QVERIFY(f.command("cmdAdd")->isEnabled() && f.box("txtProName")->isReadOnly());
    }

    void editShowsTheStoredPicksAndSaveReplacesTheEntry()
    {
        MainWindowFixture f;
        // Another tool stored Alpha's type and rating in other case: they still pick their entries.
        QVERIFY(f.start({{"Alpha", "surf EXCHANGE", "fair"}, {"Mid", "Weird type", std::nullopt}, {"Zed"}}));
        f.click("cmdAdd"); // an earlier addition leaves other picks in the choosers
        type(f.box("txtProName"), "New");
        f.chooser("cboType")->setCurrentText("Banner Exchange");
        f.chooser("cboRateit")->setCurrentText("Good");
        f.click("cmdSave");

        f.pick("Alpha");
        f.click("cmdModify");
        QVERIFY(f.window->changePending() && f.window->editingExisting());
        QCOMPARE(f.chooser("cboType")->currentText(), QStringLiteral("Surf Exchange"));
        QCOMPARE(f.chooser("cboRateit")->currentText(), QStringLiteral("Fair"));
        QVERIFY(f.command("cmdCancel")->isEnabled() && !f.command("cmdAdd")->isEnabled());
        QVERIFY(!f.button("cmdResetLogin")->isEnabled() && !f.list()->isEnabled());
        type(f.box("txtProName"), "Zulu");
        f.click("cmdSave");
        QCOMPARE(f.listed(), QStringList({"Mid", "New", "Zed", "Zulu"}));
        QCOMPARE(f.count(), QStringLiteral("4"));
        QCOMPARE(f.selectedRow(), -1);
        QVERIFY(!f.window->editingExisting());
        QVERIFY(!findRow(f.dataFile(), "Alpha"));
        QCOMPARE(findRow(f.dataFile(), "Zulu")->at(Type), QStringLiteral("Surf Exchange"));
        QCOMPARE(findRow(f.dataFile(), "Zulu")->at(Rate), QStringLiteral("Fair"));

        // A type that is not an entry shows nothing picked, and an untouched chooser leaves it stored as it was.
        f.pick("Mid");
        f.click("cmdModify");
        QCOMPARE(f.chooser("cboType")->currentIndex(), -1);
        QCOMPARE(f.chooser("cboRateit")->currentIndex(), -1);
        f.click("cmdSave");
        QCOMPARE(findRow(f.dataFile(), "Mid")->at(Type), QStringLiteral("Weird type"));
        QVERIFY(!findRow(f.dataFile(), "Mid")->at(Rate).has_value());
        QCOMPARE(f.listed(), QStringList({"Mid", "New", "Zed", "Zulu"}));
    }

    void editOfAnEmptyNameIsRefused()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"", "Other"}}));
        f.pick("");
        f.click("cmdModify");
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown[0].prompt, QStringLiteral("Sorry! Nothing to Edit!"));
        QVERIFY(!f.window->changePending() && !f.window->editingExisting());
        QVERIFY(f.command("cmdModify")->isEnabled() && f.box("txtProName")->isReadOnly());
    }

    void cancelAskedAndAnsweredOtherwiseKeepsTheChange_data()
    {
        QTest::addColumn<bool>("adding");
        QTest::addColumn<int>("answer");
        for (bool adding : {false, true}) {
            const char* change = adding ? "addition" : "edit";
            QTest::addRow("%s / No", change) << adding << int(MessageAnswer::No);
            QTest::addRow("%s / Cancel or closed", change) << adding << int(MessageAnswer::Cancel);
        }
    }
    void cancelAskedAndAnsweredOtherwiseKeepsTheChange()
    {
        QFETCH(bool, adding);
        QFETCH(int, answer);
        MainWindowFixture f;
        QVERIFY(f.start({{"Keep", "Other"}}));
        f.pick("Keep");
        f.click(adding ? "cmdAdd" : "cmdModify");
        type(f.box("txtProName"), "Typed");
        const QByteArray before = fileBytes(f.dataFile());
        f.messages.queueAnswer(MessageAnswer(answer));
        f.click("cmdCancel");
        const Message& asked = f.messages.shown.last();
        QCOMPARE(asked.prompt, QStringLiteral("Are you Sure you want to Cancel ?"));
        QCOMPARE(asked.caption, QStringLiteral("Cancel this Record?"));
        QCOMPARE(asked.icon, MessageIcon::Critical);
        QCOMPARE(asked.buttons, MessageButtons::YesNoCancel);
        QCOMPARE(asked.defaultButton, 2);
        QVERIFY(f.window->changePending());
        QCOMPARE(f.window->editingExisting(), !adding);
        QCOMPARE(f.shownName(), QStringLiteral("Typed"));
        QCOMPARE(f.box("txtProName")->palette().color(QPalette::Base), Yellow);
        QVERIFY(f.command("cmdSave")->isEnabled() && f.command("cmdCancel")->isEnabled());
        QCOMPARE(fileBytes(f.dataFile()), before);
    }

    void aConfirmedCancelDropsEverythingTyped()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Old", "Other"}, {"Other one"}}));
        f.pick("Old");
        f.click("cmdModify");
        type(f.box("txtProName"), "Renamed");
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.click("cmdCancel");
        QCOMPARE(f.shownName(), QStringLiteral("Old"));
        QVERIFY(!f.window->changePending() && !f.window->editingExisting());
        QCOMPARE(f.selectedRow(), 0);
        QVERIFY(f.command("cmdModify")->isEnabled() && f.command("cmdDelete")->isEnabled());
        QVERIFY(!f.button("cmdResetLogin")->isEnabled());
        QCOMPARE(QApplication::focusWidget(), f.command("cmdAdd"));
        f.pick("Other one");
        QCOMPARE(f.listed(), QStringList({"Old", "Other one"}));
        QVERIFY(findRow(f.dataFile(), "Old").has_value());
        QVERIFY(!findRow(f.dataFile(), "Renamed").has_value());
    }

    void aCancelledAdditionLeavesNoTraceAndDeleteFollowsTheFile_data()
    {
        QTest::addColumn<QString>("pickedBefore");
        QTest::addColumn<QString>("shownAfter");
        QTest::newRow("a record picked before Add") << "Second"
                                                    << "Second";
        QTest::newRow("a filter chosen before Add, nothing picked") << ""
                                                                    << "First";
    }
    void aCancelledAdditionLeavesNoTraceAndDeleteFollowsTheFile()
    {
        QFETCH(QString, pickedBefore);
        QFETCH(QString, shownAfter);
        MainWindowFixture f;
        QVERIFY(f.start({{"First", "Other"}, {"Second", "Other"}}));
        if (pickedBefore.isEmpty())
            f.chooseFilter("Other");
        else
            f.pick(pickedBefore);
        const QByteArray before = fileBytes(f.dataFile());
        f.click("cmdAdd");
        type(f.box("txtProName"), "Unwanted");
        type(f.box("txtProUserName"), "typed");
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.click("cmdCancel");
        QCOMPARE(fileBytes(f.dataFile()), before);
        QCOMPARE(f.shownName(), shownAfter); // the first record of the set
        QVERIFY(!f.window->changePending() && !f.window->editingExisting());
        QVERIFY(f.command("cmdAdd")->isEnabled() && f.command("cmdDelete")->isEnabled());
        for (const char* off : {"cmdModify", "cmdSave", "cmdCancel"})
            QVERIFY2(!f.command(off)->isEnabled(), off);
        QVERIFY(f.list()->isEnabled() && f.box("txtProName")->isReadOnly() && !f.chooser("cboType")->isVisible());
        QCOMPARE(QApplication::focusWidget(), f.command("cmdAdd"));

        f.messages.queueAnswer(MessageAnswer::Yes);
        f.click("cmdDelete");
        QCOMPARE(f.messages.shown.last().prompt,
                 QStringLiteral("Are you sure you want to delete this record for %1 ?").arg(shownAfter));
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(1));
        QVERIFY(!findRow(f.dataFile(), shownAfter));
        QVERIFY(!f.listed().contains(shownAfter));
        QCOMPARE(f.listed().size(), 1);
        QCOMPARE(f.count(), QStringLiteral("1"));
    }

    void deleteAnsweredOtherwiseChangesNothing()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Bob`s Exchange"}}));
        f.pick("Bob`s Exchange");
        for (MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Cancel}) {
            f.messages.queueAnswer(answer);
            f.click("cmdDelete");
        }
        QCOMPARE(f.messages.shown.size(), 2);
        QCOMPARE(f.messages.shown[0].prompt,
                 QStringLiteral("Are you sure you want to delete this record for Bob`s Exchange ?"));
        QCOMPARE(f.messages.shown[0].caption, QStringLiteral("Delete this Record?"));
        QCOMPARE(f.messages.shown[0].defaultButton, 2);
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(1));
        QCOMPARE(f.count(), QStringLiteral("1"));
        QVERIFY(f.command("cmdDelete")->isEnabled());
    }

    void deletingOneOfTwoEqualNamesShowsTheOther()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Twin", "Other"}, {"Twin", "Surf Exchange"}, {"Solo"}}));
        f.pick("Twin", 1);
        QCOMPARE(f.box("txtType")->text(), QStringLiteral("Other"));
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.click("cmdDelete");
        QCOMPARE(f.listed(), QStringList({"Solo", "Twin"}));
        QCOMPARE(f.count(), QStringLiteral("2"));
        QCOMPARE(f.box("txtType")->text(), QStringLiteral("Surf Exchange"));
        QVERIFY(!f.command("cmdModify")->isEnabled() && !f.command("cmdDelete")->isEnabled());
        QCOMPARE(readAllRows(f.dataFile()).size(), size_t(2));
        QCOMPARE(findRow(f.dataFile(), "Twin")->at(Type), QStringLiteral("Surf Exchange"));
    }

    void deletingTheOnlyRecordLeavesAnEmptyWindowThatCanStillAdd()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Only", "Other"}}));
        f.pick("Only");
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.click("cmdDelete");
        QVERIFY(f.listed().isEmpty());
        QCOMPARE(f.count(), QStringLiteral("0"));
        QCOMPARE(f.shownName(), QString());
        QVERIFY(readAllRows(f.dataFile()).empty());
        QCOMPARE(QApplication::focusWidget(), f.command("cmdAdd"));
        f.click("cmdAdd");
        type(f.box("txtProName"), "Again");
        f.click("cmdSave");
        QCOMPARE(f.listed(), QStringList({"Again"}));
    }

    void refusedWritesAreShownAndNothingIsLost()
    {
        MainWindowFixture f;
        QVERIFY(f.start({{"Locked", "Other"}}));
        f.pick("Locked");
        {
            WriteLock lock(f.dataFile());
            f.messages.queueAnswer(MessageAnswer::Yes);
            f.click("cmdDelete");
            QCOMPARE(f.messages.shown.size(), 2); // the question, then the refusal with its number
            QVERIFY(f.messages.shown[1].prompt.startsWith(QStringLiteral("Error 5:")));
            QCOMPARE(f.listed(), QStringList({"Locked"}));
            QCOMPARE(f.count(), QStringLiteral("1"));

            f.click("cmdModify");
            type(f.box("txtProName"), "Changed");
            f.click("cmdSave");
            QCOMPARE(f.messages.shown.size(), 3);
            QVERIFY(f.messages.shown[2].prompt.startsWith(QStringLiteral("Error 5:")));
            QVERIFY(f.window->editingExisting() && f.command("cmdSave")->isEnabled());
            QCOMPARE(f.shownName(), QStringLiteral("Changed"));
            QCOMPARE(f.listed(), QStringList({"Locked"}));
        }
        f.click("cmdSave"); // the file is free again
        QCOMPARE(f.listed(), QStringList({"Changed"}));
        QCOMPARE(readAllRows(f.dataFile()).at(0)[Name], QStringLiteral("Changed"));
    }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
