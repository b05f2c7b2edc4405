#pragma once
// Every benchmark of kastrel_bench is a cell of a results table: a section (PNG decoding, raster
// operations, ...), a row (a class of pictures, a blit case) and a contender (ours or a rival).
// main() runs them with repetitions and prints each one's fastest as one table with ratios.
//
// Cells tied to one raster loop set are measured in a child process of their own (the program
// runs itself again), with PIXMAN_DISABLE set so that pixman uses no instruction set wider than
// that loop set: each of our loop sets races the rivals as they run on that class of processor.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Cell {
  std::string section, row, contender;
  double bytes = 0;       // bytes of output per iteration, for the throughput column
  int32_t loop_set = -1;  // the raster loop set it is measured under (its own process), or -1
};

// Registers a benchmark as the given cell; fn runs the timing loop. With manual_time, fn
// reports each iteration's time itself (State::SetIterationTime).
void Add(const Cell& cell, std::function<void(benchmark::State&)> fn, bool manual_time = false);

// A cell measured by code of its own rather than Google Benchmark's loop (a search, a rival in
// another process): fn returns the seconds per item it found and a line of detail for the table.
// It runs after the Google Benchmark cells, in its loop set's process; with alone, in a process
// of its own (this program again, started by the parent whatever the loop set, which fn then
// sets itself), so a library's global state cannot reach the others. The parent's cells (alone
// ones included) are measured in three rounds, keeping each one's fastest.
struct Reading {
  double seconds = 0;  // 0: not measured (the detail says why)
  std::string detail;
};
void AddMeasured(const Cell& cell, std::function<Reading()> fn, bool alone = false);
// The section's cells are seconds per item: the table shows how many items fit in a 60 Hz frame
// (16.7 ms), named unit, with each cell's detail, instead of throughputs.
void PerFrameSection(const std::string& section, const std::string& unit);
// The folder the run writes its results, report.md and report.png into (build/bench).
const std::string& OutputDir();

// Contenders of a section in table order; the first is ours, the others are compared with it.
// References (memcpy, the inflater alone) are shown for scale but are not rivals.
void Columns(const std::string& section, std::vector<std::string> contenders,
             std::vector<std::string> references = {});
// A line printed under the section's heading in the table.
void SectionNote(const std::string& section, const std::string& note);

// Under the row in the table: for each contender, how many of the row's ITEMS per iteration
// fit in a 60 Hz frame (16.7 ms), named UNIT.
void PerFrame(const std::string& section, const std::string& row, double items,
              const std::string& unit);

// A target checked at the end: our time over the listed rows must be at most
// factor x the rival's (factor <= 1 for "at least 1/factor as fast").
struct Target {
  std::string text, section;
  std::vector<std::string> rows;  // empty: every row of the section
  std::string ours, rival;        // rival "" = the fastest rival of each row
  double factor;
};
void AddTarget(const Target& target);

// The raster loop sets this processor runs (plain first) and their names.
std::vector<int32_t> LoopSets();
const char* LoopSetName(int32_t set);
// PIXMAN_DISABLE for a loop set: pixman's instruction sets wider than it.
const char* PixmanDisable(int32_t set);
// The loop sets this process measures: every one in the parent (which hands them to children),
// the child's own in a child.
std::vector<int32_t> MeasuredLoopSets();

// Called from main to install each part's benchmarks.
void RegisterPng();
void RegisterBlits();
void RegisterPaint();
void RegisterReplay();
void RegisterPresent();
void RegisterDraw();
void RegisterTransitions();
void RegisterAudio();
void RegisterEvents();
void RegisterTransforms();
void RegisterWorld();
void RegisterBunnymark();
void RegisterClip();

}  // namespace bench
