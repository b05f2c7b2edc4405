// kastrel_blit_rows: the raster operations at 32 bits on every loop set the processor runs, each
// against memcpy of the same bytes, with no rival library: a program that builds for every
// system, so that one machine's Linux and Windows builds can be compared (tools/bench-windows.sh).
// After Google Benchmark's own table it prints one line per row:
//   ratio <loop set> <row> <our time / memcpy's time>
//   time <loop set> <row> <our time in nanoseconds>
//   cpu <loop set> <row> <the processor time our blit took, in nanoseconds>
//   best <loop set> <row> <the least processor time of its repetitions, in nanoseconds>
// (memcpy itself differs between C libraries, so the two builds are compared by their own times;
// on a shared machine by processor time, which other programs' turns on the cores do not add to.)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "bench/blit_data.h"

namespace bench {
namespace {

// Google Benchmark's console table, keeping each benchmark's time per iteration by its name: the
// median of its repetitions when repeated (a shared machine's load comes and goes).
class Keeper : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds, cpu_seconds, best_cpu_seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        const double cpu = run.cpu_accumulated_time / double(run.iterations);
        auto [at, fresh] = best_cpu_seconds.emplace(run.run_name.str(), cpu);
        if (!fresh) at->second = std::min(at->second, cpu);
      }
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((median || (run.run_type == Run::RT_Iteration && !seconds.count(run.run_name.str()))) &&
          run.iterations > 0) {
        seconds[run.run_name.str()] = run.real_accumulated_time / double(run.iterations);
        cpu_seconds[run.run_name.str()] = run.cpu_accumulated_time / double(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  benchmark::Initialize(&argc, argv);
  std::vector<std::pair<std::string, std::string>> rows;  // (ours, memcpy's) benchmark names
  for (Shape shape : {kWhole, kBalls, kSmallBalls}) {
    const std::string copy = std::string("memcpy") + kShapeNames[shape];
    benchmark::RegisterBenchmark(copy.c_str(),
                                 [shape](benchmark::State& s) { RunMemcpy(s, shape); });
    for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest(); ++set)
      for (const PutMode& mode : kPutModes) {
        const std::string row = std::string(kPathNames[set]) + " " + mode.name + kShapeNames[shape];
        benchmark::RegisterBenchmark(row.c_str(), [&mode, shape, set](benchmark::State& s) {
          RunOurs(s, mode, shape, set);
        });
        rows.emplace_back(row, copy);
      }
  }
  Keeper keeper;
  benchmark::RunSpecifiedBenchmarks(&keeper);
  for (const auto& [row, copy] : rows)
    if (keeper.seconds.count(row) && keeper.seconds.count(copy))
      std::printf("ratio %s %.3f\ntime %s %.1f\ncpu %s %.1f\nbest %s %.1f\n", row.c_str(),
                  keeper.seconds[row] / keeper.seconds[copy], row.c_str(), keeper.seconds[row] * 1e9,
                  row.c_str(), keeper.cpu_seconds[row] * 1e9, row.c_str(),
                  keeper.best_cpu_seconds[row] * 1e9);
  benchmark::Shutdown();
  return 0;
}
