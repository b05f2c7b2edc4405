// Failing loads, screen opens and mode sets leave a reason in LASTERROR, with results as before;
// a success leaves an earlier reason alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/engine/engine.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/png/png_image.h"

using namespace KASTREL;

namespace {
// Whether the reason the last failure left holds WORD.
bool said(const std::string& word) {
  return std::string(LASTERROR()).find(word) != std::string::npos;
}
}  // namespace

TEST(LastError, FailingLoadsSayWhyAndLeaveTheBitmapAsItWas) {
  vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
  std::ifstream in(KASTREL_SOURCE_DIR "/demo/images/cursor.png", std::ios::binary);
  const std::vector<char> good{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(good.size(), 60u);
  std::vector<char> bad_crc = good, bad_sig = good;
  bad_crc[30] ^= 1;  // inside IHDR's data
  bad_sig[1] = 'Q';
  const std::string dir = testing::TempDir(), file = dir + "kastrel_lasterror.png";
  const struct {
    std::vector<char> bytes;
    const char *file_word, *memory_word;
  } cases[] = {{bad_crc, "CRC", "CRC"},
               {bad_sig, "signature", "signature"},
               {{good.begin(), good.end() - 20}, "cut short", "cut short"},
               {{}, "empty", "bytes"}};
  GRAPHICS::BITMAP bmp;
  for (const auto& c : cases) {
    std::ofstream(file, std::ios::binary).write(c.bytes.data(), std::streamsize(c.bytes.size()));
    CLEARLASTERROR();
    EXPECT_FALSE(bmp.LOADFROMFILE(file));
    EXPECT_TRUE(said(file) && said(c.file_word)) << LASTERROR();
    CLEARLASTERROR();
    EXPECT_FALSE(bmp.LOADFROMMEMORY(c.bytes.data(), int32_t(c.bytes.size())));
    EXPECT_TRUE(said(c.memory_word)) << LASTERROR();
    EXPECT_TRUE(bmp == nullptr) << c.file_word;
  }
  EXPECT_FALSE(bmp.LOADFROMFILE(dir + "no/such.png", 1, 1, 2, 2));
  PLATFORM::READFILE missing;  // the system's own words for a missing file
  EXPECT_FALSE(missing.OPEN(dir + "no/such.png"));
  EXPECT_TRUE(said(missing.REASON())) << LASTERROR();
  bmp.LOADFROMFILE(dir);
  EXPECT_TRUE(said(dir)) << LASTERROR();
  EXPECT_EQ(png_load_mem(good.data(), int32_t(good.size()), 9), nullptr);
  EXPECT_TRUE(said("form 9")) << LASTERROR();

  SETLASTERROR("earlier");
  EXPECT_TRUE(bmp.LOADFROMMEMORY(good.data(), int32_t(good.size()), 1, 1, 2, 2));
  EXPECT_EQ(bmp.WIDTH(), 2u);
  EXPECT_STREQ(LASTERROR(), "earlier");
  // A loaded bitmap keeps its image through refused loads, whole or of a region.
  void* const held = bmp.HANDLE();
  EXPECT_FALSE(bmp.LOADFROMFILE(dir + "no/such.png") || bmp.LOADFROMFILE(file, 1, 1, 5, 5));
  EXPECT_FALSE(bmp.LOADFROMMEMORY(bad_crc.data(), int32_t(bad_crc.size()), 1, 1, 5, 5));
  EXPECT_TRUE(bmp == held && bmp.WIDTH() == 2u && bmp.HEIGHT() == 2u);
  std::remove(file.c_str());
}

TEST(LastError, ScreenOpensAndInitializeSayWhy) {
  // A size no screen takes, then one the window driver refuses.
  EXPECT_EQ(ENGINE::INITIALIZE(-5, 480, FALSE, MODE_NOSWITCH), FALSE);
  EXPECT_TRUE(said("-5 x 480")) << LASTERROR();
  PLATFORM::SETENVIRONMENT("VOXGFX", nullptr);
  EXPECT_EQ(ENGINE::INITIALIZE(40000, 2, FALSE, MODE_NOSWITCH), FALSE);
  EXPECT_TRUE(vox_GetError() == 1 && vox_GfxScreenPtr() == nullptr);
  EXPECT_TRUE(said("INITIALIZE") && said("SDL") && said("40000 x 2")) << LASTERROR();
}

TEST(LastError, ThePassThreadIsChosenBeforeInitializeOnly) {
  EXPECT_EQ(ENGINE::SETPASSTHREAD(static_cast<ENGINE::PASSTHREAD>(2)), FALSE);
  EXPECT_TRUE(said("2 is neither")) << LASTERROR();
  EXPECT_EQ(ENGINE::SETPASSTHREAD(ENGINE::PASSTHREAD::GAME), TRUE);
  ASSERT_EQ(ENGINE::INITIALIZE(64, 48, FALSE, MODE_NULL), TRUE);
  EXPECT_EQ(ENGINE::SETPASSTHREAD(ENGINE::PASSTHREAD::OWN), FALSE);
  EXPECT_TRUE(said("before INITIALIZE")) << LASTERROR();
}
