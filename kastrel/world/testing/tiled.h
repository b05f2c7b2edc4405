#pragma once
// The real Tiled editor, run headless for the map tests: a Linux program, so elsewhere it never
// runs and the tests that need it skip.

#include <string>
#include <vector>

namespace kastrel_testing {

// Runs "tiled ARGS" in the folder CWD: true when it ran and succeeded.
bool run_tiled(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace kastrel_testing
