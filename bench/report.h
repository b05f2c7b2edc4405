#pragma once
// The targets' outcomes as a file a program can read (results.tsv), and the report drawn from
// it with the engine's own shapes, text and PNG writer: report.png, a bar chart of every target
// as our speed over the rival's, one bar per loop set with the target as a line, and report.md,
// the same as a table.

#include <string>
#include <vector>

namespace bench {

struct Outcome {
  std::string target;  // the target's text, without its loop set
  std::string set;     // the loop set's name, "" for targets of no loop set
  std::string rival;
  std::string status;  // "ok", "MISS" or "info" (the plain loop set: shown, not counted)
  double speed;        // our speed over the rival's: the rival's time / ours
  double goal;         // the least speed the target asks for
};

// results.tsv: "# " and a line of the machine's description per line, then one line per outcome:
// target, set, speed, goal, status, rival, separated by tabs.
bool WriteResults(const std::string& path, const std::string& machine,
                  const std::vector<Outcome>& outcomes);
// Reads results.tsv and writes report.png and report.md into dir; false, saying why on stderr,
// when it cannot.
bool WriteReport(const std::string& results, const std::string& dir);

}  // namespace bench
