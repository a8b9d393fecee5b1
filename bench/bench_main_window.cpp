// The main window's start-up, filter change and one-record actions against floors measured in the same run.
#include "app/clock.h"
#include "app/messages.h"
#include "benchdata.h"
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "records/datasource.h"
#include "records/listorder.h"
#include "records/program.h"
#include "records/storefile.h"
#include "shutdown/frmclosing.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

using namespace kestrella;

namespace {

void paintNow(QWidget& window)
{
    window.show();
    window.repaint();
    QCoreApplication::processEvents();
}

// The main window on the benchmark's file of the state's size, loaded and painted as a person first sees it.
struct LoadedWindow : frmMain
{
    explicit LoadedWindow(const benchmark::State& state)
        : frmMain(bench::applicationFolderWith(int(state.range(0))))
    {
        Form_Load();
        paintNow(*this);
    }
};

std::vector<QString> readNames(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    std::vector<QString> names;
    while (sqlite3_step(st) == SQLITE_ROW)
        names.push_back(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), sqlite3_column_bytes(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return names;
}

void sortInListOrder(std::vector<QString>& names)
{
    const ListCollation& collation = ListCollation::current();
    std::stable_sort(names.begin(), names.end(),
                     [&](const QString& a, const QString& b) { return collation.compare(a, b) < 0; });
}

// Times every round of a one-record action and reports its tenth percentile as the counter "quick_ms". A round
// counts its wall time less what it spent waiting for a CPU while other processes held both (Linux's schedstat),
// so a busy machine leaves it alone, while a slowdown planted in the program, a sleep or work, stays in every round.
class RoundTimes
{
public:
    explicit RoundTimes(benchmark::State& state)
        : m_state(state)
        , m_schedstat(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC))
    {
    }
    ~RoundTimes()
    {
        if (m_schedstat >= 0)
            ::close(m_schedstat);
        if (m_ms.empty())
            return;
        auto tenth = m_ms.begin() + std::ptrdiff_t(m_ms.size() / 10);
        std::nth_element(m_ms.begin(), tenth, m_ms.end());
        m_state.counters["quick_ms"] = *tenth;
    }
    void start()
    {
        m_waited = waitedForCpuNs();
        m_start = std::chrono::steady_clock::now();
    }
    void stop()
    {
        const auto wall = std::chrono::steady_clock::now() - m_start;
        const auto waited = std::chrono::nanoseconds(waitedForCpuNs() - m_waited);
        m_ms.push_back(std::chrono::duration<double, std::milli>(wall - waited).count());
    }

private:
    // The second field of schedstat: nanoseconds spent runnable but not running. 0 where the kernel does not say.
    long long waitedForCpuNs() const
    {
        char text[96] = {};
        if (m_schedstat < 0 || ::pread(m_schedstat, text, sizeof text - 1, 0) <= 0)
            return 0;
        long long running = 0, waiting = 0;
        return std::sscanf(text, "%lld %lld", &running, &waiting) == 2 ? waiting : 0;
    }

    benchmark::State& m_state;
    const int m_schedstat;
    std::vector<double> m_ms;
    std::chrono::steady_clock::time_point m_start;
    long long m_waited = 0;
};

void chooseFilter(frmMain& window, const QString& entry)
{
    auto* sort = window.findChild<QComboBox*>(QStringLiteral("cboSort"));
    sort->setCurrentIndex(sort->findText(entry));
    emit sort->activated(sort->currentIndex());
    window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"))->repaint();
}

void click(frmMain& window, const char* command)
{
    window.findChild<QAbstractButton*>(QString::fromLatin1(command))->click();
}

// Picks the entry in this row, as a click on it does; rows are taken far apart, so each pick reads a part of the file
// the last one did not.
void pickAnother(frmMain& window, int& row)
{
    row = (row + 7919) % window.programList().count();
    window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"))
        ->setCurrentIndex(window.programList().index(row));
}

} // namespace

// Floor: the same window with nothing loaded, shown and painted.
static void BM_BareWindowShown(benchmark::State& state)
{
    for (auto _ : state) {
        frmMain window(QStringLiteral("/nonexistent"));
        paintNow(window);
    }
}

static void BM_StartUpToPaintedList(benchmark::State& state)
{
    const QString folder = bench::applicationFolderWith(int(state.range(0)));
    for (auto _ : state) {
        frmMain window(folder);
        window.Form_Load();
        paintNow(window);
    }
}

// Floor: the scan of every name plus a sort in the list's order.
static void BM_ScanAndSortNames(benchmark::State& state)
{
    const QString path = bench::databaseWith(int(state.range(0)));
    for (auto _ : state) {
        auto names = readNames(path, "select ProName from [Programs];");
        sortInListOrder(names);
        benchmark::DoNotOptimize(names.data());
    }
}

// Floor: the filtered query for one type plus the sort of its names.
static void BM_FilteredQueryAndSort(benchmark::State& state)
{
    const QString path = bench::databaseWith(int(state.range(0)));
    for (auto _ : state) {
        auto names = readNames(path, "select ProName from [Programs] where[ProType] = 'Other';");
        sortInListOrder(names);
        benchmark::DoNotOptimize(names.data());
    }
}

// Floor of what every change to the list ends with: a repaint of the same list, nothing in it changed.
static void BM_ListRepaint(benchmark::State& state)
{
    LoadedWindow window(state);
    auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"));
    for (auto _ : state) {
        list->viewport()->update();
        list->repaint();
    }
}

static void BM_FilterToOneType(benchmark::State& state)
{
    LoadedWindow window(state);
    for (auto _ : state) {
        chooseFilter(window, QStringLiteral("Other"));
        state.PauseTiming();
        chooseFilter(window, ListAllEntry);
        state.ResumeTiming();
    }
}

static void BM_FilterBackToListAll(benchmark::State& state)
{
    LoadedWindow window(state);
    for (auto _ : state) {
        state.PauseTiming();
        chooseFilter(window, QStringLiteral("Other"));
        state.ResumeTiming();
        chooseFilter(window, ListAllEntry);
    }
}

static void BM_PickAName(benchmark::State& state)
{
    LoadedWindow window(state);
    int row = 0;
    RoundTimes rounds(state);
    for (auto _ : state) {
        rounds.start();
        pickAnother(window, row);
        window.repaint();
        rounds.stop();
    }
}

// Floor of a pick: the picked name's record read with a one-row select, and the same window repainted.
static void BM_SelectOneRowAndRepaint(benchmark::State& state)
{
    LoadedWindow window(state);
    sqlite3* db = openReadWrite(QFile::encodeName(bench::databaseWith(int(state.range(0)))));
    const int rows = window.programList().count();
    int row = 0;
    RoundTimes rounds(state);
    for (auto _ : state) {
        row = (row + 7919) % rows;
        rounds.start();
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, selectByNameStatement(window.programList().at(row)).toUtf8().constData(), -1, &select,
                           nullptr);
        while (sqlite3_step(select) == SQLITE_ROW)
            benchmark::DoNotOptimize(sqlite3_column_text(select, 0));
        sqlite3_finalize(select);
        window.repaint();
        rounds.stop();
    }
    sqlite3_close(db);
}

// Floor of Save: what any Save does, whatever the list holds. One durable commit of a new row, made through a
// connection set up as the store sets up its own, and the same window repainted with its record fields back in the
// view colours.
static void BM_CommitAndRepaint(benchmark::State& state)
{
    LoadedWindow window(state);
    sqlite3* db = openReadWrite(QFile::encodeName(bench::databaseWith(int(state.range(0)))));
    RoundTimes rounds(state);
    for (auto _ : state) {
        state.PauseTiming();
        window.SetEditColors();
        window.repaint();
        state.ResumeTiming();
        rounds.start();
        sqlite3_exec(db,
                     "BEGIN IMMEDIATE; insert into Programs (ProName, ProLastLogin, ProType, ProRate) "
                     "values ('floor', '12/07/26', '', ''); COMMIT;",
                     nullptr, nullptr, nullptr);
        window.SetNormalColors();
        window.repaint();
        rounds.stop();
    }
    sqlite3_exec(db, "delete from Programs where ProName = 'floor'", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

static void BM_SaveAnAddition(benchmark::State& state)
{
    LoadedWindow window(state);
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("txtProName"));
    int n = 0;
    RoundTimes rounds(state);
    for (auto _ : state) {
        state.PauseTiming();
        click(window, "cmdAdd");
        name->setText(QStringLiteral("Bench %1").arg(++n));
        state.ResumeTiming();
        rounds.start();
        click(window, "cmdSave");
        window.repaint();
        rounds.stop();
        state.PauseTiming();
        window.datProgram().recordset().deleteCurrent(); // the file stays as it was for the figures after this one
        state.ResumeTiming();
    }
}

namespace {
// Answers every question Yes, so Delete goes ahead.
class AnswerYes : public MessageService
{
public:
    MessageAnswer show(QWidget*, const Message&) override { return MessageAnswer::Yes; }
};
} // namespace

static void BM_SaveAnEdit(benchmark::State& state)
{
    LoadedWindow window(state);
    auto* userName = window.findChild<QLineEdit*>(QStringLiteral("txtProUserName"));
    int row = 0;
    int n = 0;
    RoundTimes rounds(state);
    for (auto _ : state) {
        state.PauseTiming();
        pickAnother(window, row);
        click(window, "cmdModify");
        userName->setText(QStringLiteral("edited %1").arg(++n));
        state.ResumeTiming();
        rounds.start();
        click(window, "cmdSave");
        window.repaint();
        rounds.stop();
    }
}

namespace {
// A day later at every look, so that each Reset Last Login stamps a date the record does not hold yet and is stored.
class EveryDayAnother : public Clock
{
public:
    EveryDayAnother() { Clock::install(this); }
    ~EveryDayAnother() override { Clock::install(nullptr); }
    QDate today() const override { return m_day = m_day.addDays(1); }

private:
    mutable QDate m_day = QDate::currentDate();
};
} // namespace

static void BM_ResetLastLogin(benchmark::State& state)
{
    EveryDayAnother clock;
    LoadedWindow window(state);
    int row = 0;
    RoundTimes rounds(state);
    for (auto _ : state) {
        state.PauseTiming();
        pickAnother(window, row);
        state.ResumeTiming();
        rounds.start();
        click(window, "cmdResetLogin");
        window.repaint();
        rounds.stop();
    }
}

static void BM_DeleteAPickedRecord(benchmark::State& state)
{
    AnswerYes yes;
    MessageService::install(&yes);
    LoadedWindow window(state);
    auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"));
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("txtProName"));
    RoundTimes rounds(state);
    for (auto _ : state) {
        state.PauseTiming();
        click(window, "cmdAdd"); // each round deletes a record of its own making
        name->setText(QStringLiteral("zz delete me"));
        click(window, "cmdSave");
        for (int r = window.programList().count() - 1; r >= 0; --r) {
            if (window.programList().at(r) == QLatin1String("zz delete me")) {
                list->setCurrentIndex(window.programList().index(r));
                break;
            }
        }
        state.ResumeTiming();
        rounds.start();
        click(window, "cmdDelete");
        window.repaint();
        rounds.stop();
    }
    MessageService::install(nullptr);
}

// Delete with the whole table as the store's set: an addition given up shows the set's first record, and Delete takes
// that. The record then comes back at the table's end through the store, so the table keeps what it holds.
static void BM_DeleteAfterACancel(benchmark::State& state)
{
    AnswerYes yes;
    MessageService::install(&yes);
    LoadedWindow window(state);
    Recordset& rs = window.datProgram().recordset();
    RoundTimes rounds(state);
    for (auto _ : state) {
        state.PauseTiming();
        click(window, "cmdAdd");
        click(window, "cmdCancel");
        std::vector<std::pair<QString, FieldValue>> record;
        for (const QString& field : ProgramFields::all())
            record.emplace_back(field, rs.fields(field).value());
        state.ResumeTiming();
        rounds.start();
        click(window, "cmdDelete");
        window.repaint();
        rounds.stop();
        state.PauseTiming();
        rs.addNew();
        rs.update(record);
        state.ResumeTiming();
    }
    MessageService::install(nullptr);
}

static void BM_ClosingWalk(benchmark::State& state)
{
    const QString folder = bench::applicationFolderWith(int(state.range(0)));
    for (auto _ : state) {
        frmClosing closing(folder);
        closing.ClosingWalk();
    }
}

#define SIZES Arg(1000)->Arg(32767)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_BareWindowShown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartUpToPaintedList)->SIZES;
BENCHMARK(BM_ScanAndSortNames)->SIZES;
BENCHMARK(BM_FilteredQueryAndSort)->SIZES;
BENCHMARK(BM_ListRepaint)->SIZES;
BENCHMARK(BM_FilterToOneType)->SIZES;
BENCHMARK(BM_FilterBackToListAll)->SIZES;
BENCHMARK(BM_PickAName)->SIZES;
BENCHMARK(BM_SelectOneRowAndRepaint)->SIZES;
BENCHMARK(BM_CommitAndRepaint)->SIZES;
BENCHMARK(BM_SaveAnAddition)->SIZES;
BENCHMARK(BM_SaveAnEdit)->SIZES;
BENCHMARK(BM_ResetLastLogin)->SIZES;
BENCHMARK(BM_DeleteAPickedRecord)->SIZES;
BENCHMARK(BM_DeleteAfterACancel)->SIZES;
BENCHMARK(BM_ClosingWalk)->SIZES;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
