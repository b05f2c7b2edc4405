#include "kastrel/base/testing/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace kastrel_testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  std::random_device random;
  for (int attempt = 0; attempt < 100 && !error && path_.empty(); ++attempt) {
    const fs::path dir = base / ("kastrel-test-" + std::to_string(random()));
    if (fs::create_directory(dir, error)) path_ = dir.generic_string();
  }
}

TempDir::~TempDir() {
  std::error_code error;
  if (!path_.empty()) fs::remove_all(path_, error);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kastrel_testing
