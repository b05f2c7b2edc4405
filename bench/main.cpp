// kastrel_bench: every contender on the same data in one run, then one table of each one's fastest
// repetition. The machines it runs on are shared: another tenant's work only ever adds time, so the
// fastest of five repetitions is the steadiest reading of what the code itself costs.
// Extra arguments go to Google Benchmark (for example --benchmark_filter=png).
//
// The cells of each raster loop set run in a child: this program again, with the same
// arguments, KASTREL_BENCH_LOOP_SET naming the set, PIXMAN_DISABLE limiting pixman to the same
// class of processor, and KASTREL_BENCH_RESULTS naming the file it writes its readings to. pixman
// reads PIXMAN_DISABLE once as it loads, so a fresh process is the only way to limit it.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "bench/table.h"

namespace bench {
namespace {

struct Registry {
  std::vector<Cell> cells;
  std::vector<std::string> sections;  // in order of first appearance
  std::map<std::string, std::vector<std::string>> columns;
  std::map<std::string, std::vector<std::string>> references;
  std::map<std::string, std::string> notes;
  struct PER_FRAME {
    double items;
    std::string unit;
  };
  std::map<std::string, PER_FRAME> per_frame;  // by section + "/" + row
  std::vector<Target> targets;
  std::map<std::string, std::string> run_names;  // by NameOf
  std::map<std::string, double> seconds;  // fastest repetition's seconds per iteration, by name
};

constexpr const char* kFastest = "fastest";
// Each repetition runs at least this long; Google Benchmark writes it into the run's name.
constexpr double kMinTime = 0.05;
constexpr const char* kMinTimeInName = "/min_time:0.050";

Registry& registry() {
  static Registry r;
  return r;
}

// The loop set of this process when it is a child, else -1.
int32_t ChildSet() {
  static const int32_t set = [] {
    const char* v = std::getenv("KASTREL_BENCH_LOOP_SET");
    return v != nullptr && *v != 0 ? int32_t(std::atoi(v)) : -1;
  }();
  return set;
}

std::string NameOf(const Cell& c) { return c.section + "/" + c.row + "/" + c.contender; }

// Collects the fastest repetitions while the console reporter prints as usual.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.aggregate_name != kFastest) continue;
      registry().seconds[run.run_name.function_name] =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

const Cell* Find(const std::string& section, const std::string& row, const std::string& who) {
  for (const Cell& c : registry().cells)
    if (c.section == section && c.row == row && c.contender == who) return &c;
  return nullptr;
}

double Seconds(const Cell* c) {
  if (c == nullptr) return 0;
  auto it = registry().seconds.find(NameOf(*c));
  return it == registry().seconds.end() ? 0 : it->second;
}

std::vector<std::string> RowsOf(const std::string& section) {
  std::vector<std::string> rows;
  for (const Cell& c : registry().cells)
    if (c.section == section && std::find(rows.begin(), rows.end(), c.row) == rows.end())
      rows.push_back(c.row);
  return rows;
}

void PrintSection(const std::string& section) {
  const auto& cols = registry().columns[section];
  const auto rows = RowsOf(section);
  bool measured = false;
  for (const Cell& c : registry().cells) measured |= c.section == section && Seconds(&c) > 0;
  if (!measured) return;
  std::printf("\n%s: throughput in MB/s of output; x = speed of %s / speed of the rival\n",
              section.c_str(), cols[0].c_str());
  if (const auto note = registry().notes.find(section); note != registry().notes.end())
    std::printf("(%s)\n", note->second.c_str());
  // Columns are 11 wide, or as wide as their heading.
  std::vector<int> width(cols.size()), x_width(cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    width[i] = std::max<int>(11, int(cols[i].size()));
    x_width[i] = std::max<int>(11, int(cols[i].size()) + 2);
  }
  std::printf("%-24s", "");
  for (size_t i = 0; i < cols.size(); ++i) std::printf(" %*s", width[i], cols[i].c_str());
  for (size_t i = 1; i < cols.size(); ++i)
    std::printf(" %*s", x_width[i], ("x " + cols[i]).c_str());
  std::printf("\n");
  std::vector<double> total_time(cols.size(), 0), total_bytes(cols.size(), 0);
  std::vector<bool> complete(cols.size(), true);
  auto print_row = [&](const std::string& name, const std::vector<double>& t,
                       const std::vector<double>& b, const std::vector<bool>& present) {
    std::printf("%-24s", name.c_str());
    for (size_t i = 0; i < cols.size(); ++i) {
      if (present[i] && t[i] > 0)
        std::printf(" %*.1f", width[i], b[i] / t[i] / 1e6);
      else
        std::printf(" %*s", width[i], "-");
    }
    for (size_t i = 1; i < cols.size(); ++i) {
      if (present[i] && present[0] && t[i] > 0 && t[0] > 0)
        std::printf(" %*.2fx", x_width[i] - 1, t[i] / t[0]);
      else
        std::printf(" %*s", x_width[i], "-");
    }
    std::printf("\n");
  };
  for (const auto& row : rows) {
    bool row_measured = false;  // rows a filter left out are not shown
    for (const auto& col : cols) row_measured |= Seconds(Find(section, row, col)) > 0;
    if (!row_measured) continue;
    std::vector<double> t(cols.size()), b(cols.size());
    std::vector<bool> present(cols.size());
    for (size_t i = 0; i < cols.size(); ++i) {
      const Cell* c = Find(section, row, cols[i]);
      present[i] = c != nullptr && Seconds(c) > 0;
      if (present[i]) {
        t[i] = Seconds(c);
        b[i] = c->bytes;
        total_time[i] += t[i];
        total_bytes[i] += b[i];
      } else {
        complete[i] = false;
      }
    }
    print_row(row, t, b, present);
    const auto per = registry().per_frame.find(section + "/" + row);
    if (per == registry().per_frame.end()) continue;
    std::printf("  %s:", per->second.unit.c_str());
    for (size_t i = 0; i < cols.size(); ++i)
      if (present[i]) std::printf(" %s %.0f", cols[i].c_str(), per->second.items * 0.0167 / t[i]);
    std::printf("\n");
  }
  if (section.rfind("png", 0) == 0) print_row("total", total_time, total_bytes, complete);
}

// Our time over the rows against the rival's (or the fastest rival's, row by row).
void CheckTarget(const Target& target, int* missed) {
  const auto rows = target.rows.empty() ? RowsOf(target.section) : target.rows;
  const auto& cols = registry().columns[target.section];
  double ours = 0, theirs = 0;
  std::string rival = target.rival;
  for (const auto& row : rows) {
    const double mine = Seconds(Find(target.section, row, target.ours));
    double best = 0;
    std::string best_name;
    for (const auto& c : cols) {
      const auto& refs = registry().references[target.section];
      if (c == target.ours || (!target.rival.empty() && c != target.rival)) continue;
      if (target.rival.empty() && std::find(refs.begin(), refs.end(), c) != refs.end()) continue;
      const double t = Seconds(Find(target.section, row, c));
      if (t > 0 && (best == 0 || t < best)) {
        best = t;
        best_name = c;
      }
    }
    if (mine == 0 || best == 0) {
      std::printf("  [n/a ] %s: %s not measured\n", target.text.c_str(), row.c_str());
      return;
    }
    if (target.rival.empty() && rows.size() > 1) {
      // Each row against its own fastest rival.
      const double ratio = mine / best;
      const bool ok = ratio <= target.factor;
      if (!ok) ++*missed;
      std::printf("  [%s] %s, %s: %.2f x the time of %s (target <= %.2f)\n", ok ? " ok " : "MISS",
                  target.text.c_str(), row.c_str(), ratio, best_name.c_str(), target.factor);
      continue;
    }
    ours += mine;
    theirs += best;
    rival = best_name;
  }
  if (theirs > 0) {
    const double ratio = ours / theirs;
    const bool ok = ratio <= target.factor;
    if (!ok) ++*missed;
    std::printf("  [%s] %s: %.2f x the time of %s (target <= %.2f)\n", ok ? " ok " : "MISS",
                target.text.c_str(), ratio, rival.c_str(), target.factor);
  }
}

}  // namespace

void Add(const Cell& cell, std::function<void(benchmark::State&)> fn, bool manual_time) {
  Registry& r = registry();
  // A child runs its own loop set's cells only; the parent keeps every cell for the table and
  // leaves those of the loop sets to the children.
  if (ChildSet() >= 0 && cell.loop_set != ChildSet()) return;
  r.cells.push_back(cell);
  // The name Google Benchmark matches --benchmark_filter against, with the run's settings.
  r.run_names[NameOf(cell)] =
      NameOf(cell) + kMinTimeInName + "/repeats:5/" + (manual_time ? "manual_time" : "real_time");
  if (std::find(r.sections.begin(), r.sections.end(), cell.section) == r.sections.end())
    r.sections.push_back(cell.section);
  if (ChildSet() < 0 && cell.loop_set >= 0) return;
  const double bytes = cell.bytes;
  auto* b =
      benchmark::RegisterBenchmark(NameOf(cell).c_str(), [fn, bytes](benchmark::State& state) {
        fn(state);
        state.SetBytesProcessed(int64_t(double(state.iterations()) * bytes));
      });
  if (manual_time)
    b->UseManualTime();
  else
    b->UseRealTime();
  b->Unit(benchmark::kMicrosecond)->MinTime(kMinTime)->Repetitions(5)->ReportAggregatesOnly(true);
  b->ComputeStatistics(
      kFastest, [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

void Columns(const std::string& section, std::vector<std::string> contenders,
             std::vector<std::string> references) {
  registry().columns[section] = std::move(contenders);
  registry().references[section] = std::move(references);
}

void SectionNote(const std::string& section, const std::string& note) {
  registry().notes[section] = note;
}

void PerFrame(const std::string& section, const std::string& row, double items,
              const std::string& unit) {
  registry().per_frame[section + "/" + row] = {items, unit};
}

void AddTarget(const Target& target) { registry().targets.push_back(target); }

std::vector<int32_t> MeasuredLoopSets() {
  if (ChildSet() >= 0) return {ChildSet()};
  return LoopSets();
}

namespace {

// Whether Google Benchmark's --benchmark_filter (the last one given; "-" before it excludes)
// selects any cell of the loop set (-1: any cell of no loop set).
bool Selects(const std::vector<std::string>& args, int32_t set) {
  std::string filter = ".";
  const std::string flag = "--benchmark_filter=";
  for (const auto& a : args)
    if (a.rfind(flag, 0) == 0) filter = a.substr(flag.size());
  const bool negative = !filter.empty() && filter[0] == '-';
  std::regex re;
  try {
    re = std::regex(negative ? filter.substr(1) : filter, std::regex::extended);
  } catch (const std::regex_error&) {
    return true;  // let the child report the bad filter
  }
  for (const Cell& c : registry().cells)
    if (c.loop_set == set && std::regex_search(registry().run_names[NameOf(c)], re) != negative)
      return true;
  return false;
}

// Runs this program again for one loop set and reads back its readings.
void RunChild(const std::vector<std::string>& args, int32_t set) {
  char results[] = "/tmp/kastrel_bench_XXXXXX";
  const int fd = mkstemp(results);
  if (fd < 0) {
    std::perror("kastrel_bench: temporary file");
    return;
  }
  close(fd);
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    if (v.rfind("PIXMAN_DISABLE=", 0) != 0 && v.rfind("KASTREL_BENCH_", 0) != 0)
      env_strings.push_back(v);
  }
  env_strings.push_back("KASTREL_BENCH_LOOP_SET=" + std::to_string(set));
  env_strings.push_back(std::string("KASTREL_BENCH_RESULTS=") + results);
  env_strings.push_back(std::string("PIXMAN_DISABLE=") + PixmanDisable(set));
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::printf("\n---- %s loops, in a process of their own (PIXMAN_DISABLE=\"%s\") ----\n",
              LoopSetName(set), PixmanDisable(set));
  std::fflush(stdout);
  pid_t pid;
  int status = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "kastrel_bench: the %s child failed\n", LoopSetName(set));
  }
  std::ifstream in(results);
  double seconds;
  std::string name;
  while (in >> seconds && std::getline(in >> std::ws, name)) registry().seconds[name] = seconds;
  std::remove(results);
}

}  // namespace

}  // namespace bench

namespace {

// The processor's name and the instruction sets that matter to the raster loops.
// The machine's CPU time so far from the first line of /proc/stat: all of it, and what the
// hypervisor gave to other guests (steal). Zeros where there is no such file.
std::pair<double, double> CpuTimes() {
  double total = 0, steal = 0;
  if (FILE* f = std::fopen("/proc/stat", "r")) {
    double v[8] = {};
    if (std::fscanf(f, "cpu %lf %lf %lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &v[6], &v[7]) == 8) {
      for (double x : v) total += x;
      steal = v[7];
    }
    std::fclose(f);
  }
  return {total, steal};
}

void PrintProcessor() {
  std::string model = "unknown processor";
  if (FILE* f = std::fopen("/proc/cpuinfo", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "model name", 10) == 0) {
        if (const char* colon = std::strchr(line, ':')) {
          model = colon + 2;
          model.erase(model.find_last_not_of("\n") + 1);
        }
        break;
      }
    }
    std::fclose(f);
  }
  __builtin_cpu_init();
  std::string has;
  const std::pair<const char*, bool> sets[] = {{"SSE2", __builtin_cpu_supports("sse2")},
                                               {"SSSE3", __builtin_cpu_supports("ssse3")},
                                               {"SSE4.1", __builtin_cpu_supports("sse4.1")},
                                               {"AVX", __builtin_cpu_supports("avx")},
                                               {"AVX2", __builtin_cpu_supports("avx2")},
                                               {"AVX-512F", __builtin_cpu_supports("avx512f")},
                                               {"AVX-512BW", __builtin_cpu_supports("avx512bw")}};
  for (const auto& [name, present] : sets)
    has += std::string(" ") + name + (present ? "" : " (no)");
  std::string loops;
  for (int32_t set : bench::LoopSets()) loops += std::string(" ") + bench::LoopSetName(set);
  std::printf("Processor: %s\nInstruction sets:%s\nRaster loop sets measured:%s\n", model.c_str(),
              has.c_str(), loops.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  bench::RegisterPng();
  bench::RegisterBlits();
  bench::RegisterDraw();
  bench::RegisterPaint();
  bench::RegisterReplay();
  bench::RegisterPresent();
  bench::RegisterTransitions();
  bench::RegisterAudio();
  bench::RegisterEvents();
  bench::RegisterTransforms();
  const int32_t child = bench::ChildSet();
  if (child < 0) PrintProcessor();
  const auto [total_before, steal_before] = CpuTimes();
  // Repetitions of every benchmark are interleaved at random, so a spell of another tenant's
  // work slows one repetition of several contenders rather than every repetition of one.
  std::vector<char*> options(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  if (std::none_of(args.begin(), args.end(), [](const std::string& a) {
        return a.rfind("--benchmark_enable_random_interleaving", 0) == 0;
      }))
    options.insert(options.begin() + 1, interleave.data());
  int option_count = int(options.size());
  options.push_back(nullptr);
  benchmark::Initialize(&option_count, options.data());
  if (benchmark::ReportUnrecognizedArguments(option_count, options.data())) return 1;
  bench::TableReporter reporter;
  if (bench::Selects(args, child)) benchmark::RunSpecifiedBenchmarks(&reporter);
  if (child >= 0) {
    const char* path = std::getenv("KASTREL_BENCH_RESULTS");
    FILE* out = path != nullptr ? std::fopen(path, "w") : nullptr;
    if (out == nullptr) return 1;
    for (const auto& [name, seconds] : bench::registry().seconds)
      std::fprintf(out, "%.9g %s\n", seconds, name.c_str());
    std::fclose(out);
    benchmark::Shutdown();
    return 0;
  }
  for (int32_t set : bench::LoopSets())
    if (bench::Selects(args, set)) bench::RunChild(args, set);
  benchmark::Shutdown();
  const auto [total_after, steal_after] = CpuTimes();

  std::printf(
      "\n================ Kastrel benchmark table (fastest of 5 repetitions) ================\n");
  PrintProcessor();
  // On a virtual machine another guest's work can slow whole stretches of the run.
  if (total_after > total_before)
    std::printf("Stolen by the hypervisor during the run: %.1f %% of this machine's CPU time\n",
                100.0 * (steal_after - steal_before) / (total_after - total_before));
  for (const auto& section : bench::registry().sections) bench::PrintSection(section);
  std::printf("\nTargets:\n");
  int missed = 0;
  for (const auto& target : bench::registry().targets) bench::CheckTarget(target, &missed);
  std::printf("%d target(s) missed\n", missed);
  return 0;
}
