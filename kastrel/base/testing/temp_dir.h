// Temporary folders and whole files for tests, on every system the engine builds for.
#pragma once

#include <string>

namespace kastrel_testing {

// A folder under the system's temporary folder ($TMPDIR or /tmp; %TEMP% on Windows), removed with
// everything in it on destruction. Its path has '/' between folders on every system.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);

}  // namespace kastrel_testing
