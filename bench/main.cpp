// kastrel_bench: every contender on the same data in one run, then one table of each one's fastest
// repetition. The machines it runs on are shared: another tenant's work only ever adds time, so the
// fastest of five repetitions is the steadiest reading of what the code itself costs.
// Extra arguments go to Google Benchmark (for example --benchmark_filter=png).
//
// The cells of each raster loop set run in a child: this program again, with the same
// arguments, KASTREL_BENCH_LOOP_SET naming the set, PIXMAN_DISABLE limiting pixman to the same
// class of processor, and KASTREL_BENCH_RESULTS naming the file it writes its readings to. pixman
// reads PIXMAN_DISABLE once as it loads, so a fresh process is the only way to limit it.
// A cell measured alone runs the same way, KASTREL_BENCH_ALONE naming it.
//
// The targets' outcomes go to results.tsv in the output folder (build/bench, or --report-dir=DIR),
// drawn as report.png and listed in report.md; --report-only redraws them from results.tsv.

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

#include "bench/report.h"
#include "bench/table.h"
#include "kastrel/base/detail/cpu_features.h"

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
  struct MEASURED {
    Cell cell;
    std::function<Reading()> fn;
    bool alone;
  };
  std::vector<MEASURED> measured;
  std::map<std::string, std::string> details;             // of measured cells, by name
  std::vector<std::string> alone;                         // names of the cells measured alone
  std::map<std::string, std::string> per_frame_sections;  // unit, by section
  std::vector<std::string> args;                          // with --report-* taken out
  std::vector<Outcome> outcomes;
  std::string output_dir;
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

// The measured cell this process runs alone, or "".
const std::string& AloneCell() {
  static const std::string name = [] {
    const char* v = std::getenv("KASTREL_BENCH_ALONE");
    return std::string(v != nullptr ? v : "");
  }();
  return name;
}

std::string NameOf(const Cell& c) { return c.section + "/" + c.row + "/" + c.contender; }

// Whether Google Benchmark's --benchmark_filter (the last one given; "-" before it excludes)
// selects the run name.
bool Filtered(const std::string& run_name) {
  std::string filter = ".";
  const std::string flag = "--benchmark_filter=";
  for (const auto& a : registry().args)
    if (a.rfind(flag, 0) == 0) filter = a.substr(flag.size());
  const bool negative = !filter.empty() && filter[0] == '-';
  try {
    const std::regex re(negative ? filter.substr(1) : filter, std::regex::extended);
    return std::regex_search(run_name, re) != negative;
  } catch (const std::regex_error&) {
    return true;  // let Google Benchmark report the bad filter
  }
}

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

// A per-frame section: each row's contenders one per line, as items per 16.7 ms with their
// details, and how many times the first column's count each is.
void PrintPerFrameSection(const std::string& section, const std::string& unit) {
  const auto& cols = registry().columns[section];
  std::printf("\n%s: %s; x = first line / this line\n", section.c_str(), unit.c_str());
  if (const auto note = registry().notes.find(section); note != registry().notes.end())
    std::printf("(%s)\n", note->second.c_str());
  for (const auto& row : RowsOf(section)) {
    std::printf("%s\n", row.c_str());
    const double first = Seconds(Find(section, row, cols[0]));
    for (const auto& col : cols) {
      const Cell* c = Find(section, row, col);
      if (c == nullptr) continue;
      const double t = Seconds(c);
      const std::string& detail = registry().details[NameOf(*c)];
      if (t == 0 && detail.empty()) continue;  // left out by a filter
      if (t > 0)
        std::printf("  %-26s %9.0f %7.2fx  %s\n", col.c_str(), 0.0167 / t,
                    first > 0 ? t / first : 0.0, detail.c_str());
      else
        std::printf("  %-26s %9s %8s  %s\n", col.c_str(), "-", "-", detail.c_str());
    }
  }
}

void PrintSection(const std::string& section) {
  if (const auto unit = registry().per_frame_sections.find(section);
      unit != registry().per_frame_sections.end()) {
    PrintPerFrameSection(section, unit->second);
    return;
  }
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

// Prints one target's verdict and keeps it for the report. Targets on the plain loop set are
// information only: no x86-64 processor runs it (SSE2 is always there).
void Verdict(const Target& target, const std::string& row, int32_t set, double ratio,
             const std::string& rival, int* missed) {
  const bool info = set == 0;
  const bool ok = ratio <= target.factor;
  if (!ok && !info) ++*missed;
  std::string text = target.text;
  const std::string tag = set >= 0 ? std::string(" [") + LoopSetName(set) + "]" : "";
  if (!tag.empty() && text.size() > tag.size() && text.ends_with(tag))
    text.resize(text.size() - tag.size());
  if (!row.empty()) text += ", " + row;
  std::printf("  [%s] %s%s: %.2f x the time of %s (target <= %.2f)\n",
              info ? "info"
              : ok ? " ok "
                   : "MISS",
              text.c_str(), tag.c_str(), ratio, rival.c_str(), target.factor);
  registry().outcomes.push_back({text, set >= 0 ? LoopSetName(set) : "", rival,
                                 info ? "info"
                                 : ok ? "ok"
                                      : "MISS",
                                 1 / ratio, 1 / target.factor});
}

// Our time over the rows against the rival's (or the fastest rival's, row by row).
void CheckTarget(const Target& target, int* missed) {
  const auto rows = target.rows.empty() ? RowsOf(target.section) : target.rows;
  const auto& cols = registry().columns[target.section];
  const auto& refs = registry().references[target.section];
  double ours = 0, theirs = 0;
  std::string rival = target.rival;
  int32_t set = -1;
  for (const auto& row : rows) {
    const Cell* mine_cell = Find(target.section, row, target.ours);
    if (mine_cell != nullptr) set = mine_cell->loop_set;
    const double mine = Seconds(mine_cell);
    double best = 0;
    std::string best_name;
    for (const auto& c : cols) {
      if (c == target.ours || (!target.rival.empty() && c != target.rival)) continue;
      if (target.rival.empty() && std::find(refs.begin(), refs.end(), c) != refs.end()) continue;
      const double t = Seconds(Find(target.section, row, c));
      if (t > 0 && (best == 0 || t < best)) {
        best = t;
        best_name = c;
      }
    }
    if (mine == 0 && best == 0) return;  // the row was left out
    if (mine == 0 || best == 0) {
      std::printf("  [n/a ] %s: %s not measured\n", target.text.c_str(), row.c_str());
      return;
    }
    if (target.rival.empty() && rows.size() > 1) {  // each row against its own fastest rival
      Verdict(target, row, set, mine / best, best_name, missed);
      continue;
    }
    ours += mine;
    theirs += best;
    rival = best_name;
  }
  if (theirs > 0) Verdict(target, "", set, ours / theirs, rival, missed);
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
  if ((ChildSet() < 0 && cell.loop_set >= 0) || !AloneCell().empty()) return;
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

void AddMeasured(const Cell& cell, std::function<Reading()> fn, bool alone) {
  Registry& r = registry();
  // The parent starts the cells measured alone, whatever their loop set (they set it themselves).
  if (ChildSet() >= 0 && (alone || cell.loop_set != ChildSet())) return;
  r.cells.push_back(cell);
  r.run_names[NameOf(cell)] = NameOf(cell);
  if (alone) r.alone.push_back(NameOf(cell));
  if (std::find(r.sections.begin(), r.sections.end(), cell.section) == r.sections.end())
    r.sections.push_back(cell.section);
  if (ChildSet() < 0 && cell.loop_set >= 0 && !alone) return;
  r.measured.push_back({cell, std::move(fn), alone});
}

void PerFrameSection(const std::string& section, const std::string& unit) {
  registry().per_frame_sections[section] = unit;
}

const std::string& OutputDir() { return registry().output_dir; }

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

// Whether the filter selects any cell of the loop set (-1: any cell of no loop set) that its
// process runs; with google_only, any that Google Benchmark runs.
bool Selects(int32_t set, bool google_only = false) {
  const auto& alone = registry().alone;
  for (const Cell& c : registry().cells) {
    const std::string& name = registry().run_names[NameOf(c)];
    if (c.loop_set != set || !Filtered(name) || (google_only && name == NameOf(c))) continue;
    if (std::find(alone.begin(), alone.end(), NameOf(c)) == alone.end()) return true;
  }
  return false;
}

// Keeps a reading: the fastest of those taken, or why none was.
void Keep(const std::string& name, const Reading& r) {
  double& kept = registry().seconds[name];
  if (r.seconds > 0 ? kept == 0 || r.seconds < kept : kept == 0) {
    kept = r.seconds;
    registry().details[name] = r.detail;
  }
}

// Runs this program again with the given variables, then reads back its readings.
void RunChild(const std::vector<std::pair<std::string, std::string>>& variables) {
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
  for (const auto& [name, value] : variables) env_strings.push_back(name + "=" + value);
  env_strings.push_back(std::string("KASTREL_BENCH_RESULTS=") + results);
  std::vector<char*> argv, envp;
  for (const auto& a : registry().args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::fflush(stdout);
  pid_t pid;
  int status = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "kastrel_bench: the child for %s=%s failed\n", variables[0].first.c_str(),
                 variables[0].second.c_str());
  }
  // Lines of "seconds<TAB>name<TAB>detail".
  std::ifstream in(results);
  for (std::string line; std::getline(in, line);) {
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    Keep(line.substr(a + 1, b - a - 1), {std::atof(line.substr(0, a).c_str()), line.substr(b + 1)});
  }
  std::remove(results);
}

void RunLoopSet(int32_t set) {
  std::printf("\n---- %s loops, in a process of their own (PIXMAN_DISABLE=\"%s\") ----\n",
              LoopSetName(set), PixmanDisable(set));
  RunChild(
      {{"KASTREL_BENCH_LOOP_SET", std::to_string(set)}, {"PIXMAN_DISABLE", PixmanDisable(set)}});
}

// The measured cells of this process, each alone when it asks to be (unless this process is
// that one). The parent takes each cell's fastest of three rounds, every round going through
// all of them, so a slow spell of the machine falls on one reading of several contenders.
void RunMeasured() {
  std::vector<const Registry::MEASURED*> chosen;
  for (const auto& m : registry().measured) {
    const std::string name = NameOf(m.cell);
    if (AloneCell().empty() ? Filtered(name) : name == AloneCell()) chosen.push_back(&m);
  }
  const int rounds = AloneCell().empty() && ChildSet() < 0 ? 3 : 1;
  for (int round = 1; round <= rounds; ++round) {
    for (const auto* m : chosen) {
      const std::string name = NameOf(m->cell);
      if (m->alone && AloneCell().empty())
        RunChild({{"KASTREL_BENCH_ALONE", name}});
      else
        Keep(name, m->fn());
      if (!AloneCell().empty()) continue;
      const double t = registry().seconds[name];
      std::printf("[%d/%d] %-56s %9.0f per 16.7 ms  %s\n", round, rounds, name.c_str(),
                  t > 0 ? 0.0167 / t : 0.0, registry().details[name].c_str());
      std::fflush(stdout);
    }
  }
}

// A child's readings for its parent.
bool WriteReadings() {
  const char* path = std::getenv("KASTREL_BENCH_RESULTS");
  FILE* out = path != nullptr ? std::fopen(path, "w") : nullptr;
  if (out == nullptr) return false;
  for (const auto& [name, seconds] : registry().seconds)
    std::fprintf(out, "%.9g\t%s\t%s\n", seconds, name.c_str(), registry().details[name].c_str());
  for (const auto& [name, detail] : registry().details)
    if (registry().seconds.count(name) == 0)
      std::fprintf(out, "0\t%s\t%s\n", name.c_str(), detail.c_str());
  std::fclose(out);
  return true;
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

// The processor's name (with its family and model, which the name alone may not tell), its
// cores, and the instruction sets that matter to the raster loops, as lines for the table.
std::string Processor() {
  std::string model = "unknown processor", family, number;
  if (FILE* f = std::fopen("/proc/cpuinfo", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f) && *line != '\n') {
      const char* colon = std::strchr(line, ':');
      if (colon == nullptr) continue;
      std::string value = colon + 1;
      value.erase(0, value.find_first_not_of(" "));
      value.erase(value.find_last_not_of("\n") + 1);
      if (std::strncmp(line, "model name", 10) == 0) model = value;
      if (std::strncmp(line, "cpu family", 10) == 0) family = value;
      if (std::strncmp(line, "model\t", 6) == 0) number = value;
    }
    std::fclose(f);
  }
  if (!family.empty()) model += " (family " + family + " model " + number + ")";
  model += ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores";
  const VOX_CPU_FEATURES& cpu = vox_hCpuFeatures();
  std::string has;
  const std::pair<const char*, bool> sets[] = {
      {"SSE2", cpu.sse2}, {"SSSE3", cpu.ssse3},      {"SSE4.1", cpu.sse41},      {"AVX", cpu.avx},
      {"AVX2", cpu.avx2}, {"AVX-512F", cpu.avx512f}, {"AVX-512BW", cpu.avx512bw}};
  for (const auto& [name, present] : sets)
    has += std::string(" ") + name + (present ? "" : " (no)");
  std::string loops;
  for (int32_t set : bench::LoopSets()) loops += std::string(" ") + bench::LoopSetName(set);
  return "Processor: " + model + "\nInstruction sets:" + has +
         "\nRaster loop sets measured:" + loops + "\n";
}

// The one-minute load average.
std::string Load() {
  double load = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", load);
  return text;
}

// Where the report goes: --report-dir=DIR, else the folder above the program's own
// (build/bench for build/bench/bench/kastrel_bench).
std::string OutputFolder(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a.rfind("--report-dir=", 0) == 0) return a.substr(13);
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string path(exe, n > 0 ? size_t(n) : 0);
  for (int up = 0; up < 2 && path.find('/') != std::string::npos; ++up)
    path.resize(path.rfind('/'));
  return path.empty() ? "." : path;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool report_only = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    report_only |= a == "--report-only";
    if (a.rfind("--report-", 0) != 0) args.push_back(a);
  }
  bench::registry().args = args;
  bench::registry().output_dir = OutputFolder(std::vector<std::string>(argv, argv + argc));
  const std::string results = bench::OutputDir() + "/results.tsv";
  if (report_only) return bench::WriteReport(results, bench::OutputDir()) ? 0 : 1;
  if (bench::AloneCell().empty()) {
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
    bench::RegisterClip();
  }
  bench::RegisterWorld();  // its rivals run alone
  bench::RegisterBunnymark();
  const int32_t child = bench::ChildSet();
  const bool parent = child < 0 && bench::AloneCell().empty();
  if (parent) std::printf("%s", Processor().c_str());
  const auto [total_before, steal_before] = CpuTimes();
  // Repetitions of every benchmark are interleaved at random, so a spell of another tenant's
  // work slows one repetition of several contenders rather than every repetition of one.
  std::vector<char*> options;
  for (auto& a : bench::registry().args) options.push_back(a.data());
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
  if (bench::AloneCell().empty() && bench::Selects(child, true))
    benchmark::RunSpecifiedBenchmarks(&reporter);
  if (!parent) {
    bench::RunMeasured();
    benchmark::Shutdown();
    return bench::WriteReadings() ? 0 : 1;
  }
  for (int32_t set : bench::LoopSets())
    if (bench::Selects(set)) bench::RunLoopSet(set);
  bench::RunMeasured();
  benchmark::Shutdown();
  const auto [total_after, steal_after] = CpuTimes();

  std::printf(
      "\n================ Kastrel benchmark table (fastest of 5 repetitions) ================\n");
  std::string machine = Processor();
  // On a virtual machine another guest's work can slow whole stretches of the run.
  if (total_after > total_before) {
    char steal[128];
    std::snprintf(steal, sizeof steal,
                  "Stolen by the hypervisor during the run: %.1f %% of this machine's CPU time\n",
                  100.0 * (steal_after - steal_before) / (total_after - total_before));
    machine += steal;
  }
  machine += "Load average at the end: " + Load() + "\n";
  std::printf("%s", machine.c_str());
  for (const auto& section : bench::registry().sections) bench::PrintSection(section);
  std::printf("\nTargets:\n");
  int missed = 0;
  for (const auto& target : bench::registry().targets) bench::CheckTarget(target, &missed);
  std::printf("%d target(s) missed\n", missed);
  if (!bench::registry().outcomes.empty()) {
    if (bench::WriteResults(results, machine, bench::registry().outcomes) &&
        bench::WriteReport(results, bench::OutputDir()))
      std::printf("Report: %s/report.png and report.md\n", bench::OutputDir().c_str());
  }
  return 0;
}
