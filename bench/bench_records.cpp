// The record store's walk of every name against its floor, a bare SQLite step loop over the same column.
#include "benchdata.h"
#include "records/datasource.h"
#include "records/program.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

using namespace kestrella;

static void BM_BareStepLoopReadingNames(benchmark::State& state)
{
    const QString path = bench::databaseWith(int(state.range(0)));
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "select * from [Programs];", -1, &st, nullptr);
        qint64 count = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            benchmark::DoNotOptimize(QString::fromUtf8(text, sqlite3_column_bytes(st, 0)));
            ++count;
        }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(count);
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

static void BM_RefreshAndWalkNames(benchmark::State& state)
{
    const QString path = bench::databaseWith(int(state.range(0)));
    DataSource source;
    source.setDatabaseName(path);
    source.setRecordSource(selectAllStatement());
    source.setPrefetchedField(ProgramFields::Name); // as the list and the closing window read the names
    for (auto _ : state) {
        source.refresh();
        Recordset& rs = source.recordset();
        rs.moveLast();
        const qint64 count = rs.recordCount();
        rs.moveFirst();
        for (qint64 i = 0; i < count; ++i) {
            benchmark::DoNotOptimize(rs.fields(ProgramFields::Name).value());
            rs.moveNext();
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_BareStepLoopReadingNames)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshAndWalkNames)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
