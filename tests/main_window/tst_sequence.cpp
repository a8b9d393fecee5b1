// Seeded runs of what a person does in the main window, each step checked against a small model of what the file,
// the list, the count, the fields on show and the commands must be. A failing run names its seed and step; its row
// ("seed 7") replays it alone.
#include "mainwindowfixture.h"
#include "records/listorder.h"
#include "shutdown/exitcheck.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <map>

using namespace kestrella;
using namespace kestrella::test;

namespace {

const QList<SeedRecord> Seeds = {
    {"beta", "Surf Exchange", "fair"},
    {"Alpha", "Other", "Good", "http://alpha.example"},
    {std::nullopt, "Other"},
    {"alpha", "other", "so-so", std::nullopt, std::nullopt, std::nullopt, "lower-case type"},
    {"beta", "Weird type", std::nullopt, std::nullopt, "http://beta.example", std::nullopt, "second"},
    {"", "Surf Exchange"},
    {"x' OR '1'='1", "Other", "Bad"},
    {"\u00e9clair", "Weird type"},
};
const QStringList TypedNames = {"beta", "Beta", "b'c", "\u00c9clair", "Zed", "   ", ""};
const QStringList TypedTexts = {"", "me", "o'neil"};
const QStringList Filters = {ListAllEntry, "Other", "Surf Exchange", "Start Exchange"};
const std::pair<const char*, size_t> Boxes[] = {{"txtProName", Col::Name},
                                                {"txtProUserName", Col::UserName},
                                                {"txtComments", Col::Comments},
                                                {"txtLastLogin", Col::LastLogin},
                                                {"txtType", Col::Type}};
const int Steps = 40;                             // the last one ends the program
const QString Today = QStringLiteral("03/05/26"); // the fixture's day

// The actions that lead from each state towards viewing, adding or editing at the end.
const QStringList Endings[3][3] = {{{"filter", "pick"}, {"Save", "Cancel"}, {"Save", "Cancel"}},
                                   {{"Add"}, {"type"}, {"Save", "Cancel"}},
                                   {{"pick", "Edit"}, {"Save", "Cancel"}, {"type"}}};
constexpr int Viewing = 0, Adding = 1, Editing = 2;
constexpr size_t AllRows = Col::Comments + 1; // a record source without a condition
constexpr auto CaseFree = QRegularExpression::CaseInsensitiveOption;

// What the window must hold after each step, and how each step changes it.
struct Model
{
    using Row = std::vector<StoredRow>::iterator;
    std::vector<StoredRow> rows; // the file, in store order
    int shownRow = -1;
    size_t setColumn = AllRows; // the record source: the records whose column holds setValue
    std::optional<QString> setValue;
    int state = Viewing;
    std::map<size_t, QString> typed;
    std::map<size_t, QString> picks; // the type and rating choosers' entries; empty: nothing picked
    QStringList list;
    int selected = -1;
    int count = 0;
    int messages = 0;

    Row shown() { return shownRow < 0 ? rows.end() : rows.begin() + shownRow; }
    bool inSet(const StoredRow& row) const { return setColumn == AllRows || row[setColumn] == setValue; }
    void showFirstOfSet()
    {
        const Row it = std::find_if(rows.begin(), rows.end(), [&](const StoredRow& r) { return inSet(r); });
        shownRow = it == rows.end() ? -1 : int(it - rows.begin());
    }
    QString shownText(size_t column)
    {
        if (state != Viewing && typed.count(column))
            return typed[column];
        return state == Adding || shown() == rows.end() ? QString() : shown()->at(column).value_or(QString());
    }
    int insert(const QString& name)
    {
        int row = 0;
        while (row < list.size() && !listsBefore(name.toUtf8(), list[row].toUtf8()))
            ++row;
        list.insert(row, name);
        return row;
    }
    void fill(const QString& filter)
    {
        std::tie(setColumn, setValue) = std::pair(filter == ListAllEntry ? AllRows : Col::Type, filter);
        list.clear();
        count = 0;
        for (const StoredRow& row : rows) {
            count += inSet(row);
            if (inSet(row) && row[Col::Name])
                insert(*row[Col::Name]);
        }
        shownRow = selected = -1;
    }
    void pick(int row)
    {
        std::tie(setColumn, setValue, selected) = std::tuple(Col::Name, list[row], row);
        showFirstOfSet();
    }
    // Typed text changes a field only where it differs from what the field showed.
    void storePending(const std::map<size_t, QString>& texts)
    {
        if (state == Adding) {
            rows.push_back(StoredRow(10));
            shownRow = int(rows.size()) - 1;
        }
        for (const auto& [column, text] : texts) {
            if (text != (state == Adding ? QString() : shown()->at(column).value_or(QString())))
                shown()->at(column) = text;
        }
        state = Viewing;
        typed.clear();
    }
    void save()
    {
        typed[Col::Name] = shownText(Col::Name).replace('\'', '`');
        if (typed[Col::Name].isEmpty()) {
            ++messages;
            return;
        }
        auto texts = typed;
        for (const auto& [column, pick] : picks) {
            if (!pick.isEmpty())
                texts[column] = pick;
        }
        const bool adding = state == Adding;
        storePending(texts);
        if (insert(*shown()->at(Col::Name)) <= selected)
            ++selected;
        if (adding)
            ++count;
        else if (selected >= 0)
            list.removeAt(std::exchange(selected, -1));
    }
    void edit()
    {
        if (shownText(Col::Name).isEmpty()) {
            ++messages;
            return;
        }
        state = Editing;
        for (const auto& [column, entries] : {std::pair(Col::Type, programTypes()), {Col::Rate, programRatings()}}) {
            const QString stored = QRegularExpression::escape(shown()->at(column).value_or(QString()));
            picks[column] = entries.value(entries.indexOf(QRegularExpression("^" + stored + "$", CaseFree)));
        }
    }
    void cancel(bool yes)
    {
        ++messages;
        if (!yes)
            return;
        if (state == Adding) {
            showFirstOfSet();
            const auto name = shown() == rows.end() ? std::nullopt : shown()->at(Col::Name);
            if (!name || selected < 0 || list[selected] != *name)
                selected = name ? int(list.indexOf(*name)) : -1;
        }
        state = Viewing;
        typed.clear();
    }
    void remove(bool yes)
    {
        if (shown() == rows.end())
            return;
        ++messages;
        if (!yes)
            return;
        rows.erase(shown());
        if (selected >= 0)
            list.removeAt(std::exchange(selected, -1));
        --count;
        showFirstOfSet();
    }
    void exit(bool byTitleBar)
    {
        if (state == Adding && !byTitleBar) {
            for (auto [column, label] : {std::pair(Col::Name, BlankRecordName), {Col::Comments, BlankRecordComment}}) {
                if (typed[column].isEmpty()) // what was typed stays
                    typed[column] = label;
            }
        }
        if (state != Viewing)
            storePending(typed);
        const auto nameless = std::find_if(rows.begin(), rows.end(), [](const StoredRow& r) { return !r[Col::Name]; });
        if (!byTitleBar && nameless != rows.end())
            rows.erase(nameless);
    }
};

// The first difference between the window and the model, if any.
QString difference(MainWindowFixture& f, Model& m, bool ended)
{
    if (readAllRows(f.dataFile()) != m.rows)
        return QStringLiteral("the file");
    if (ended)
        return {};
    if (f.listed() != m.list || f.selectedRow() != m.selected || f.count() != QString::number(m.count))
        return QStringLiteral("the list, its selection or the count: ") + f.listed().join('|');
    if (f.messages.shown.size() != m.messages)
        return QStringLiteral("the number of messages");
    for (const auto& [name, column] : Boxes) {
        const QWidget* box = f.control<QWidget>(name);
        const QString text = box->property(qobject_cast<const QLineEdit*>(box) ? "text" : "plainText").toString();
        if (text != m.shownText(column))
            return QStringLiteral("%1 shows '%2'").arg(name, text);
    }
    const bool viewing = m.state == Viewing;
    if (f.list()->isEnabled() != viewing || f.chooser("cboSort")->isEnabled() != viewing)
        return QStringLiteral("the list or the filter is on while a change is pending, or off without one");
    return {};
}

} // namespace

class TestSequence : public QObject
{
    Q_OBJECT

private slots:
    void randomStepsKeepTheWindowAndTheFileInStep_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 20; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }
    void randomStepsKeepTheWindowAndTheFileInStep()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        const auto any = [&](const auto& list) {
            return list[random.bounded(int(std::size(list)))];
        };
        MainWindowFixture f;
        QVERIFY(f.start(Seeds));
        Model m;
        m.rows = readAllRows(f.dataFile());
        m.fill(ListAllEntry);
        m.shownRow = 0;
        QCOMPARE(difference(f, m, false), QString());
        for (int step = 1; step <= Steps; ++step) {
            QStringList actions = {"type", "type", "type", "Save", "Cancel", "a pick and an activation while pending"};
            if (m.state == Viewing) {
                actions = {"filter", "Add"};
                for (auto [on, action] : {std::pair(!m.list.isEmpty(), "pick"),
                                          {m.selected >= 0, "key"},
                                          {f.command("cmdModify")->isEnabled(), "Edit"},
                                          {f.command("cmdDelete")->isEnabled(), "Delete"},
                                          {f.control<QPushButton>("cmdResetLogin")->isEnabled(), "Reset"}}) {
                    if (on)
                        actions << action << action;
                }
            }
            if (step > Steps - 6) { // steer towards the ending state the seed stands for
                QStringList steered = Endings[seed % 3][m.state];
                steered.removeIf([&](const QString& a) { return !actions.contains(a); });
                actions = steered.isEmpty() ? actions : steered;
            }
            const QString action = step == Steps ? QStringLiteral("Exit") : any(actions);
            const bool yes = random.bounded(2);
            const MessageAnswer answer = yes                 ? MessageAnswer::Yes
                                         : random.bounded(2) ? MessageAnswer::No
                                                             : MessageAnswer::Cancel;
            const int row = m.list.isEmpty() ? 0 : random.bounded(int(m.list.size()));
            if (action == "pick") {
                f.pickRow(row);
                m.pick(row);
            } else if (action == "key") {
                const int to = std::clamp(m.selected + (yes ? 1 : -1), 0, int(m.list.size()) - 1);
                QTest::keyClick(f.list(), yes ? Qt::Key_Down : Qt::Key_Up);
                if (to != m.selected)
                    m.pick(to);
            } else if (action == "filter") {
                const QString filter = any(Filters);
                f.chooseFilter(filter);
                m.fill(filter);
            } else if (action == "Add") {
                f.click("cmdAdd");
                m.state = Adding;
                m.typed = {{Col::LastLogin, Today}};
            } else if (action == "Edit") {
                f.click("cmdModify");
                m.edit();
            } else if (action == "Delete") {
                if (m.shown() != m.rows.end()) // else nothing is asked
                    f.messages.queueAnswer(answer);
                f.click("cmdDelete");
                m.remove(yes);
            } else if (action == "Reset") {
                f.control<QPushButton>("cmdResetLogin")->click();
                if (m.shown() != m.rows.end())
                    m.shown()->at(Col::LastLogin) = Today;
            } else if (action == "type") {
                const auto [box, column] = Boxes[random.bounded(3)];
                const QString text = column == Col::Name ? any(TypedNames) : any(TypedTexts);
                f.type(box, text);
                m.typed[column] = text;
            } else if (action == "Save") {
                f.click("cmdSave");
                m.save();
            } else if (action == "Cancel") {
                f.messages.queueAnswer(answer);
                f.click("cmdCancel");
                m.cancel(yes);
            } else if (action == "Exit") {
                const bool byTitleBar = seed % 4 == 3;
                QPointer<frmClosing> closing;
                if (byTitleBar)
                    f.window->close(); // no closing window, no label
                else
                    f.click("cmdExit");
                QVERIFY(bool(closing = topLevelWindow<frmClosing>()) != byTitleBar);
                QTRY_VERIFY(!closing && !f.window->isVisible());
                m.exit(byTitleBar);
            } else {
                f.pickRow(row); // the list is off: nothing moves
                f.click("cmdAbout");
                delete frmAbout::instance(); // hands the activation back, which must not disturb what is pending
            }
            const QString wrong = difference(f, m, action == "Exit");
            if (!wrong.isEmpty())
                QFAIL(qPrintable(QStringLiteral("seed %1, step %2 (%3): %4").arg(seed).arg(step).arg(action, wrong)));
        }
    }
};

QTEST_MAIN(TestSequence)
#include "tst_sequence.moc"
