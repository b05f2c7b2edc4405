// results.tsv, report.md and report.png (see report.h). The chart is drawn with the engine's
// own rectangles, lines and text, and written by its PNG encoder.

#include "bench/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/font.h"
#include "kastrel/graphics/shapes.h"

namespace bench {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

bool WriteResults(const std::string& path, const std::string& machine,
                  const std::vector<Outcome>& outcomes) {
  std::ofstream out(path);
  std::istringstream lines(machine);
  for (std::string line; std::getline(lines, line);) out << "# " << line << "\n";
  for (const Outcome& o : outcomes)
    out << o.target << '\t' << o.set << '\t' << o.speed << '\t' << o.goal << '\t' << o.status
        << '\t' << o.rival << '\n';
  if (!out) std::fprintf(stderr, "kastrel_bench: cannot write %s\n", path.c_str());
  return bool(out);
}

namespace {

const char* const kSets[] = {"", "plain", "SSE2", "AVX", "AVX2", "AVX-512"};

int SetIndex(const std::string& set) {
  for (int i = 0; i < 6; ++i)
    if (set == kSets[i]) return i;
  return 0;
}

// The targets in order of first appearance, each with its outcomes in loop-set order.
struct Group {
  std::string target;
  double goal;
  std::vector<Outcome> bars;
};

std::vector<Group> Grouped(const std::vector<Outcome>& outcomes) {
  std::vector<Group> groups;
  for (const Outcome& o : outcomes) {
    auto g = std::find_if(groups.begin(), groups.end(),
                          [&](const Group& x) { return x.target == o.target; });
    if (g == groups.end()) g = groups.insert(groups.end(), {o.target, o.goal, {}});
    g->bars.push_back(o);
  }
  for (Group& g : groups)
    std::stable_sort(g.bars.begin(), g.bars.end(), [](const Outcome& a, const Outcome& b) {
      return SetIndex(a.set) < SetIndex(b.set);
    });
  return groups;
}

std::string Figure(double v) {
  char text[32];
  std::snprintf(text, sizeof text, v >= 100 ? "%.0f" : v >= 10 ? "%.1f" : "%.2f", v);
  return text;
}

std::string Cell(const Outcome& o) {
  if (o.status == "ok") return "**" + Figure(o.speed) + "**";
  if (o.status == "info") return Figure(o.speed) + " (info)";
  return Figure(o.speed) + " MISS";
}

void WriteTable(std::ostream& md, const std::vector<std::string>& machine,
                const std::vector<Group>& groups) {
  md << "# Kastrel benchmark report\n\n";
  for (const auto& line : machine) md << "- " << line << "\n";
  md << "\nEach figure is our speed over the rival's (the rival's time over ours, fastest "
        "repetitions of one run); a target is met (bold) at or above the figure it asks for. "
        "Rows on the plain loop set are information: no x86-64 processor runs it.\n\n";
  std::vector<std::string> sets;
  for (const Group& g : groups)
    for (const Outcome& o : g.bars)
      if (!o.set.empty() && std::find(sets.begin(), sets.end(), o.set) == sets.end())
        sets.push_back(o.set);
  std::sort(sets.begin(), sets.end(),
            [](const std::string& a, const std::string& b) { return SetIndex(a) < SetIndex(b); });
  md << "## Per loop set\n\n| Target | at least |";
  for (const auto& s : sets) md << " " << s << " |";
  md << "\n|---|---|";
  for (size_t i = 0; i < sets.size(); ++i) md << "---|";
  md << "\n";
  for (const Group& g : groups) {
    if (g.bars.front().set.empty()) continue;
    md << "| " << g.target << " | " << Figure(g.goal) << " |";
    for (const auto& s : sets) {
      const auto o =
          std::find_if(g.bars.begin(), g.bars.end(), [&](const Outcome& x) { return x.set == s; });
      md << " " << (o == g.bars.end() ? "-" : Cell(*o)) << " |";
    }
    md << "\n";
  }
  md << "\n## Others\n\n| Target | at least | ours over the rival's | rival |\n|---|---|---|---|\n";
  for (const Group& g : groups)
    for (const Outcome& o : g.bars)
      if (o.set.empty())
        md << "| " << g.target << " | " << Figure(g.goal) << " | " << Cell(o) << " | " << o.rival
           << " |\n";
}

// The chart: one band per target, its label on the left, one bar per loop set on a log scale
// from 0.05 to 20, the target a black line across the band, each bar's figure at its end.
constexpr int kWidth = 1280, kLabelRight = 600, kPlotLeft = 620, kPlotRight = 1190;
constexpr int kBar = 9, kGap = 2, kPad = 5;
constexpr double kLow = 0.05, kHigh = 20;
constexpr uint32_t kInk = 0xFF202428, kGrey = 0xFF707478, kMiss = 0xFFC62828, kOk = 0xFF1B7F3A;
constexpr uint32_t kColours[] = {0xFF3A8FA0, 0xFFB4B4B4, 0xFF4E79A7,
                                 0xFFF28E2B, 0xFF59A14F, 0xFF9C4DCC};

int X(double ratio) {
  const double f = std::log(std::clamp(ratio, kLow, kHigh) / kLow) / std::log(kHigh / kLow);
  return kPlotLeft + int(std::lround(f * (kPlotRight - kPlotLeft)));
}

int BandHeight(const Group& g) { return int(g.bars.size()) * (kBar + kGap) - kGap + 2 * kPad; }

// Draws text with its first baseline at row `base`, cut with "..." to fit `room` pixels.
void Text(BITMAP& chart, FONT& font, int x, int base, std::string text, uint32_t colour,
          TEXTALIGN align = TEXTLEFT, int room = kWidth) {
  while (text.size() > 4 && font.MEASURE(text).W > room)
    text = text.substr(0, text.size() - 4) + "...";
  font.DRAW(chart, x, base - font.ASCENT(), text, colour, align);
}

bool DrawChart(const std::string& path, const std::vector<std::string>& machine,
               const std::vector<Group>& groups) {
  const int legend = 78 + int(machine.size()) * 16, top = legend + 36;
  int height = top + 40;
  for (const Group& g : groups) height += BandHeight(g);
  vox_GfxScreenRes(kWidth, height, 32, 1, MODE_NULL, 0);  // images need a screen
  BITMAP chart(kWidth, height, 0xFFFFFFFF, 32);
  FONT title, small;
  if (chart.WIDTH() == 0 || !title.OPENDEFAULT(20) || !small.OPENDEFAULT(12)) return false;
  Text(chart, title, 16, 30, "Kastrel against the rivals: our speed over theirs", kInk);
  Text(chart, small, 16, 52,
       "Each bar: the rival's time over ours, fastest repetitions of one run, on a log scale. "
       "Higher is better.",
       kInk);
  for (size_t i = 0; i < machine.size(); ++i)
    Text(chart, small, 16, 72 + int(i) * 16, machine[i], kGrey);
  // The legend: one swatch per loop set, then the target line.
  int x = 16;
  for (int s = 1; s < 6; ++s) {
    FILLRECT(chart, {x, legend - 9, 14, 9}, kColours[s]);
    const std::string name = std::string(kSets[s]) + (s == 1 ? " (information)" : "");
    Text(chart, small, x + 20, legend, name, kInk);
    x += 20 + small.MEASURE(name).W + 24;
  }
  FILLRECT(chart, {x, legend - 9, 14, 9}, kColours[0]);
  Text(chart, small, x + 20, legend, "no loop set", kInk);
  x += 20 + small.MEASURE("no loop set").W + 24;
  FILLRECT(chart, {x + 6, legend - 12, 1, 14}, kInk);
  Text(chart, small, x + 16, legend, "target;  figures in red missed", kInk);
  // The scale, above and below the bands.
  const int first = top, last = height - 40;
  for (double tick : {0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0}) {
    char label[16];
    std::snprintf(label, sizeof label, "%gx", tick);
    Text(chart, small, X(tick), first - 8, label, kGrey, TEXTCENTRE);
    Text(chart, small, X(tick), last + 20, label, kGrey, TEXTCENTRE);
  }
  int y = first;
  for (size_t i = 0; i < groups.size(); ++i) {
    const Group& g = groups[i];
    const int band = BandHeight(g);
    if (i % 2 == 0) FILLRECT(chart, {0, y, kWidth - 1, band - 1}, 0xFFF2F4F7);
    for (double tick : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0})
      FILLRECT(chart, {X(tick), y, 0, band - 1}, tick == 1.0 ? 0xFF9098A0 : 0xFFD8DCE0);
    Text(chart, small, kLabelRight, y + band / 2 + 5, g.target, kInk, TEXTRIGHT, kLabelRight - 16);
    int bar = y + kPad;
    for (const Outcome& o : g.bars) {
      FILLRECT(chart, {kPlotLeft, bar, X(o.speed) - kPlotLeft, kBar - 1},
               kColours[SetIndex(o.set)]);
      const uint32_t colour = o.status == "MISS" ? kMiss : o.status == "ok" ? kOk : kGrey;
      Text(chart, small, X(o.speed) + 4, bar + kBar, Figure(o.speed), colour);
      bar += kBar + kGap;
    }
    FILLRECT(chart, {X(g.goal) - 1, y + 1, 2, band - 3}, kInk);
    y += band;
  }
  FILLRECT(chart, {kPlotLeft, first, 0, last - first}, kInk);
  if (!chart.SAVETOFILE(path)) {
    std::fprintf(stderr, "kastrel_bench: %s: %s\n", path.c_str(), LASTERROR());
    return false;
  }
  return true;
}

}  // namespace

bool WriteReport(const std::string& results, const std::string& dir) {
  std::ifstream in(results);
  if (!in) {
    std::fprintf(stderr, "kastrel_bench: cannot read %s\n", results.c_str());
    return false;
  }
  std::vector<std::string> machine;
  std::vector<Outcome> outcomes;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("# ", 0) == 0) {
      machine.push_back(line.substr(2));
      continue;
    }
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() < 5) continue;
    f.resize(6);  // an empty rival ends the line with its tab
    outcomes.push_back({f[0], f[1], f[5], f[4], std::atof(f[2].c_str()), std::atof(f[3].c_str())});
  }
  const std::vector<Group> groups = Grouped(outcomes);
  std::ofstream md(dir + "/report.md");
  WriteTable(md, machine, groups);
  return bool(md) && DrawChart(dir + "/report.png", machine, groups);
}

}  // namespace bench
