#include "kastrel/world/testing/tiled.h"

#include "kastrel/base/testing/process.h"

namespace kastrel_testing {

bool run_tiled(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv{"tiled"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, {{"QT_QPA_PLATFORM", "offscreen"}}, std::chrono::seconds(60), cwd)
             .exit_status == 0;
}

}  // namespace kastrel_testing
