#include "kastrel/base/detail/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

using namespace KASTREL;
namespace fs = std::filesystem;

namespace {

// Runs on every system the engine builds for (Windows under Wine too): only the layer's calls.
TEST(Platform, FilesAreReadReplacedInOneStepAndRefusedWhenNotRegular) {
  const std::string dir = (fs::temp_directory_path() /
                           ("kastrel-platform-" + std::to_string(std::random_device{}())))
                              .generic_string() + "/Zoë";
  std::string reason;
  ASSERT_TRUE(PLATFORM::MAKEFOLDER(dir.substr(0, dir.rfind('/')), false, &reason)) << reason;
  ASSERT_TRUE(PLATFORM::MAKEFOLDER(dir, true, &reason)) << reason;
  EXPECT_TRUE(PLATFORM::ISFOLDER(dir) && PLATFORM::ISWRITABLE(dir));
  // Replacing works over an existing file (rename alone fails there on Windows).
  const std::string file = dir + "/é.txt";
  for (const std::string text : {"first", "second, longer"})
    ASSERT_TRUE(PLATFORM::REPLACEFILE(file, file + ".part", text.data(), text.size(), true, true,
                                      &reason)) << reason;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(PLATFORM::READWHOLEFILE(file, 0, &bytes, &reason)) << reason;
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second, longer");
  EXPECT_FALSE(PLATFORM::READWHOLEFILE(file, 5, &bytes, &reason));
  EXPECT_NE(reason.find("over the cap of 5"), std::string::npos) << reason;
  EXPECT_FALSE(PLATFORM::REMOVEFILE(file + ".part"));  // nothing left behind
  // A folder and a missing file are refused, the missing one told apart.
  PLATFORM::READFILE in;
  EXPECT_FALSE(in.OPEN(dir));
  EXPECT_EQ(in.REASON(), "it is a folder");
  EXPECT_FALSE(in.OPEN(dir + "/missing") || !in.MISSING());
  EXPECT_FALSE(PLATFORM::REPLACEFILE(dir, dir + "/x", "x", 1, false, false, &reason));
  EXPECT_FALSE(PLATFORM::REPLACEFILE(dir + "/no/such", dir + "/no/such.part", "x", 1, false,
                                     false, &reason));
  EXPECT_NE(reason.find("cannot create"), std::string::npos) << reason;
  // The program knows itself, without ".exe" in its name.
  EXPECT_EQ(PLATFORM::PROGRAMNAME(), "kastrel_base_tests");
  const std::string folder = PLATFORM::PROGRAMFOLDER();
  EXPECT_TRUE(!folder.empty() && folder.back() == '/' && PLATFORM::ISFOLDER(folder)) << folder;
  EXPECT_EQ(PLATFORM::PROGRAMPATH().rfind(folder + "kastrel_base_tests", 0), 0u);
  std::error_code error;
  fs::remove_all(fs::path(reinterpret_cast<const char8_t*>(dir.c_str())).parent_path(), error);
}

// Values travel whole in UTF-8, whatever the system's code page (Windows' getenv would not).
TEST(Platform, EnvironmentIsUtf8) {
  const std::string path = "C:\\Users\\Zo\xC3\xAB\\s \xF0\x9F\x98\x80.kses";
  std::string value;
  PLATFORM::SETENVIRONMENT("KASTREL_TEST_PATH", path.c_str());
  ASSERT_TRUE(PLATFORM::GETENVIRONMENT("KASTREL_TEST_PATH", &value));
  EXPECT_EQ(value, path);
  PLATFORM::SETENVIRONMENT("KASTREL_TEST_PATH", nullptr);
  EXPECT_FALSE(PLATFORM::GETENVIRONMENT("KASTREL_TEST_PATH", &value));
}

// Each thread reads back its own pointer from a slot, and null where it set none; a thread's end
// hands its value to the slot's callback.
void* ended_value = nullptr;

TEST(Platform, ThreadSlotsHoldEachThreadsOwnPointer) {
  const uint32_t slot = PLATFORM::THREADSLOTNEW([](void* value) { ended_value = value; });
  if (!PLATFORM::THREADSLOTS) {
    EXPECT_EQ(slot, PLATFORM::THREADSLOTCOUNT);
    return;
  }
  ASSERT_LT(slot, PLATFORM::THREADSLOTCOUNT);
  EXPECT_EQ(PLATFORM::THREADSLOTGET(slot), nullptr);
  int mine = 0, theirs = 0;
  EXPECT_TRUE(PLATFORM::THREADSLOTSET(slot, &mine));
  void* before = &mine;
  void* after = nullptr;
  std::thread([&] {
    before = PLATFORM::THREADSLOTGET(slot);
    PLATFORM::THREADSLOTSET(slot, &theirs);
    after = PLATFORM::THREADSLOTGET(slot);
  }).join();
  EXPECT_EQ(before, nullptr);
  EXPECT_EQ(after, &theirs);
  EXPECT_EQ(ended_value, &theirs);
  EXPECT_EQ(PLATFORM::THREADSLOTGET(slot), &mine);
}

}  // namespace
