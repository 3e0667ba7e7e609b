// PerformRegistryUpdate on the stand-in over growing key lists: time per key and platform calls
// per key. Two shapes: every key its own Registry row (the table grows with the list), and the
// list cycling over a fixed table of 100 rows (only the list grows).
#include <benchmark/benchmark.h>

#include "UpdateRegistry.h"
#include "hostplatform/control.h"
#include "sources/stdInstallLib.h"

namespace {

const hostctl::Text kPath = u"Software\\Bench";

hostctl::Text Number(int64_t n) { return msistd::ToDecimal(static_cast<int32_t>(n)); }

// A session whose ZYB_UPDATE_REG_KEYS lists `keys` keys naming rows of a `rows`-row table.
MSIHANDLE Package(int64_t keys, int64_t rows) {
  hostctl::Reset();
  MSIHANDLE session = hostctl::CreateSession();
  hostctl::DatabaseId database = hostctl::CreateDatabase();
  hostctl::AddRegistryTable(database);
  hostctl::SetActiveDatabase(session, database);
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath);
  for (int64_t i = 0; i < rows; ++i)
    hostctl::AddRegistryRow(database, u"K" + Number(i), 1, kPath, u"v" + Number(i),
                            u"#" + Number(i));
  hostctl::Text list;
  for (int64_t i = 0; i < keys; ++i) list += u"K" + Number(i % rows) + u";";
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", list);
  return session;
}

void Run(benchmark::State& state, int64_t rows) {
  const int64_t keys = state.range(0);
  double calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    MSIHANDLE session = Package(keys, rows);
    hostctl::ClearCallLog();
    state.ResumeTiming();
    benchmark::DoNotOptimize(PerformRegistryUpdate(session));
    state.PauseTiming();
    calls = static_cast<double>(hostctl::CallLog().size());
    if (hostctl::CallCount("RegSetValueExW") != static_cast<size_t>(keys))
      state.SkipWithError("not every key was applied");
    state.ResumeTiming();
  }
  state.counters["calls/key"] = calls / static_cast<double>(keys);
  state.counters["time/key"] = benchmark::Counter(static_cast<double>(keys),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

void OneRowPerKey(benchmark::State& state) { Run(state, state.range(0)); }
void HundredRowTable(benchmark::State& state) { Run(state, 100); }

}  // namespace

BENCHMARK(OneRowPerKey)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(HundredRowTable)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
