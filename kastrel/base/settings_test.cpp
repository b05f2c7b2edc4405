#include "kastrel/base/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
#include "kastrel/base/testing/process.h"

using namespace KASTREL;
using kastrel_testing::read_file;

namespace {

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(Settings, TypedValuesDefaultsAndTheFileRoundTrip) {
  kastrel_testing::TempDir dir;
  const std::string file = dir.file("settings.txt");
  SETTINGS s(file);  // missing: empty, no error
  EXPECT_TRUE(s.VALUES().empty());
  EXPECT_TRUE(s.SETINT("best", -2147483647 - 1) && s.SETFLOAT("volume", 0.1f) &&
              s.SETBOOL("full", true) && s.SETSTRING("name", "é\\x\nline=2"));
  for (const char* key : {"", "a=b", "#c", " d", "e\n"}) EXPECT_FALSE(s.SETINT(key, 1)) << key;
  ASSERT_TRUE(s.SAVE()) << LASTERROR();
  EXPECT_EQ(read_file(file), "best=-2147483648\nfull=true\nname=é\\\\x\\nline=2\nvolume=0.1\n");
  SETTINGS t;
  ASSERT_TRUE(t.LOAD(file));
  EXPECT_EQ(t.GETINT("best", 0), INT32_MIN);
  EXPECT_EQ(t.GETFLOAT("volume", 0), 0.1f);
  // Floats are written as the shortest text that reads back the same: never longer than %g with
  // the fewest digits that do.
  std::mt19937 random(8);
  for (int i = 0; i < 3000; ++i) {
    uint32_t bits = i < 4 ? std::array<uint32_t, 4>{0x3F4CCCCD, 0x00000001, 0x7F7FFFFF, 0x80000000}[i] : random();
    float v;
    std::memcpy(&v, &bits, 4);
    if (!std::isfinite(v)) continue;
    ASSERT_TRUE(t.SETFLOAT("f", v));
    char g[32];
    for (int digits = 1; std::snprintf(g, sizeof g, "%.*g", digits, double(v)), std::strtof(g, nullptr) != v;) ++digits;
    const std::string text = t.GETSTRING("f", "");
    const float back = t.GETFLOAT("f", 1);
    EXPECT_EQ(std::memcmp(&back, &v, 4), 0) << text;
    EXPECT_LE(text.size(), std::strlen(g)) << text << " against " << g;
  }
  EXPECT_TRUE(t.SETFLOAT("f", 0.8f) && t.GETSTRING("f", "") == "0.8");
  EXPECT_TRUE(t.GETBOOL("full", false));
  EXPECT_EQ(t.GETSTRING("name", ""), "é\\x\nline=2");
  // Missing keys and text of another type give the default.
  write_file(file, "# comment\r\n\nn=12x\nbig=2147483648\nf=nan\nb=maybe\nyes=on\nempty=\n");
  ASSERT_TRUE(t.LOAD(file));
  EXPECT_EQ(t.GETINT("n", 7) + t.GETINT("big", 7) + t.GETINT("missing", 7), 21);
  EXPECT_EQ(t.GETFLOAT("f", 2.5f), 2.5f);
  EXPECT_TRUE(t.GETBOOL("b", true) && t.GETBOOL("yes", false) && !t.GETBOOL("missing", false));
  EXPECT_EQ(t.GETSTRING("empty", "x"), "");
  // A line that is not key=value refuses the file, saying where.
  write_file(file, "a=1\nnot a setting\n");
  EXPECT_FALSE(t.LOAD(file));
  EXPECT_NE(std::string(LASTERROR()).find("line 2"), std::string::npos) << LASTERROR();
  EXPECT_TRUE(t.VALUES().empty());
  EXPECT_FALSE(SETTINGS().SAVE());  // no file named
  // A folder that cannot take the file: the reason, and nothing left behind.
  EXPECT_FALSE(s.SAVE(dir.file("no/such/folder/settings.txt")));
  EXPECT_NE(std::string(LASTERROR()).find("cannot create"), std::string::npos) << LASTERROR();
}

// The player's folder comes from XDG_DATA_HOME on Linux and APPDATA on Windows.
TEST(Paths, SavesFolderIsMadeOnFirstUseAndDataFallsBackToTheWorkingDirectory) {
  kastrel_testing::TempDir dir;
  for (const char* variable : {"XDG_DATA_HOME", "APPDATA"})
    PLATFORM::SETENVIRONMENT(variable, dir.file("data").c_str());
  EXPECT_EQ(PATHS::SAVES("org", "app"), dir.file("data/org/app/"));
  EXPECT_EQ(PATHS::SAVES("org", "app"), dir.file("data/org/app/"));  // there already
  for (const auto& [org, app] : {std::pair{"", "a"}, {"o", ".."}, {"o/p", "a"}}) {
    CLEARLASTERROR();
    EXPECT_EQ(PATHS::SAVES(org, app), "");
    EXPECT_STRNE(LASTERROR(), "");
  }
  write_file(dir.file("file"), "");
  for (const char* variable : {"XDG_DATA_HOME", "APPDATA"})
    PLATFORM::SETENVIRONMENT(variable, dir.file("file").c_str());
  CLEARLASTERROR();
  EXPECT_EQ(PATHS::SAVES("o", "a"), "");
  EXPECT_STRNE(LASTERROR(), "");
  // A test binary has no share/ or data/ folder of its own.
  EXPECT_EQ(PATHS::DATA(), "./");
}

}  // namespace
