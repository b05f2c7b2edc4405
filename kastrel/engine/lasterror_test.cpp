// Every failing load, screen open and mode set leaves a reason in LASTERROR, with results as
// before; a success leaves an earlier reason alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kastrel/kastrel.h"

using namespace KASTREL;

namespace {

std::vector<char> cursor_png() {
  std::ifstream in(KASTREL_SOURCE_DIR "/demo/images/cursor.png", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs CALL after emptying LASTERROR and returns what it left there.
template <typename CALL>
std::string reason(CALL call) {
  CLEARLASTERROR();
  call();
  return LASTERROR();
}

}  // namespace

TEST(LastError, FailingLoadsSayWhyAndLeaveTheBitmapAsItWas) {
  vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
  const std::vector<char> good = cursor_png();
  ASSERT_GT(good.size(), 60u);
  std::vector<char> bad_crc = good, bad_sig = good;
  bad_crc[30] ^= 1;  // inside IHDR's data
  bad_sig[1] = 'Q';
  const std::vector<char> cut(good.begin(), good.end() - 20);
  const std::string dir = testing::TempDir();
  const std::string file = dir + "kastrel_lasterror.png";
  struct Case {
    const char* what;
    std::vector<char> bytes;
    const char* word;  // a word the reason must hold
  } cases[] = {{"bad CRC", bad_crc, "CRC"},
               {"bad signature", bad_sig, "PNG"},
               {"cut short", cut, "PNG"},
               {"empty", {}, "empty"}};
  GRAPHICS::BITMAP bmp;
  for (const Case& c : cases) {
    std::ofstream(file, std::ios::binary).write(c.bytes.data(), std::streamsize(c.bytes.size()));
    const std::string from_file = reason([&] { bmp.LOADFROMFILE(file, 0, 0, 0, 0); });
    EXPECT_NE(from_file.find(file), std::string::npos) << c.what << ": " << from_file;
    EXPECT_NE(from_file.find(c.word), std::string::npos) << c.what << ": " << from_file;
    const std::string from_memory = reason(
        [&] { bmp.LOADFROMMEMORY(c.bytes.data(), int32_t(c.bytes.size()), 0, 0, 0, 0); });
    EXPECT_NE(from_memory.find(c.word == std::string("empty") ? "bytes" : c.word),
              std::string::npos)
        << c.what << ": " << from_memory;
    EXPECT_EQ(bmp.WIDTH(), 0u) << c.what;
  }
  EXPECT_NE(reason([&] { bmp.LOADFROMFILE(dir + "no/such.png", 0, 0, 0, 0); }).find("No such"),
            std::string::npos);
  EXPECT_NE(reason([&] { bmp.LOADFROMFILE(dir, 0, 0, 0, 0); }).find(dir), std::string::npos);
  EXPECT_EQ(png_load_mem(good.data(), int32_t(good.size()), 9), nullptr);
  EXPECT_NE(std::string(LASTERROR()).find("form 9"), std::string::npos) << LASTERROR();

  // A good load afterwards keeps the reason; a region copy that cannot be made gives one.
  SETLASTERROR("earlier");
  bmp.LOADFROMMEMORY(good.data(), int32_t(good.size()), 0, 0, 0, 0);
  EXPECT_GT(bmp.WIDTH(), 0u);
  EXPECT_STREQ(LASTERROR(), "earlier");
  vox_GfxScreenRes(0, 0, 0, 0, 0, 0);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_NE(std::string(LASTERROR()).find("0 x 0"), std::string::npos) << LASTERROR();
  std::remove(file.c_str());
}

TEST(LastError, ScreenOpensAndInitializeSayWhy) {
  // A size no screen takes, then one the window driver refuses.
  EXPECT_EQ(ENGINE::INITIALIZE(-5, 480, FALSE, MODE_NOSWITCH), FALSE);
  EXPECT_NE(std::string(LASTERROR()).find("-5 x 480"), std::string::npos) << LASTERROR();
  unsetenv("VOXGFX");
  EXPECT_EQ(ENGINE::INITIALIZE(40000, 2, FALSE, MODE_NOSWITCH), FALSE);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(vox_GfxScreenPtr(), nullptr);
  for (const char* word : {"INITIALIZE", "SDL", "40000 x 2"})
    EXPECT_NE(std::string(LASTERROR()).find(word), std::string::npos) << LASTERROR();
}
