#include "kastrel/device/sdl/scaling.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "kastrel/device/sdl/frame_rows.h"

TEST(Scaling, PicksCentresAndMapsBothWays) {
  EXPECT_EQ(vox_scale_fit(640, 480, 1920, 1080), 2);
  EXPECT_EQ(vox_scale_fit(320, 240, 1024, 768), 3);
  EXPECT_EQ(vox_scale_fit(640, 480, 600, 400), 1);  // never below 1
  EXPECT_EQ(vox_scale_fit(1, 1, 100000, 100000), 16);
  for (auto [env, want] : std::vector<std::pair<const char*, int>>{
           {nullptr, 7}, {"", 7}, {"auto", 0}, {"3", 3}, {"0", 7}, {"17", 7}, {"2x", 7}}) {
    EXPECT_EQ(vox_scale_request(env, 7), want) << (env ? env : "null");
  }

  // 320 x 240 at 3 on 1024 x 768: 960 x 720 centred.
  VOX_SCALE_LAYOUT l = vox_scale_layout(320, 240, 1024, 768, 3);
  EXPECT_EQ(l.x, 32);
  EXPECT_EQ(l.y, 24);
  struct Case {
    int wx, wy, fx, fy;
  };
  for (Case c : std::vector<Case>{{32, 24, 0, 0},
                                  {34, 26, 0, 0},
                                  {35, 27, 1, 1},
                                  {31, 23, 0, 0},  // border clamps
                                  {991, 743, 319, 239},
                                  {1023, 767, 319, 239},
                                  {-3, 30, -12, 2}}) {
    int32_t fx = -9, fy = -9;
    vox_scale_to_frame(l, 320, 240, c.wx, c.wy, &fx, &fy);
    EXPECT_EQ(fx, c.fx) << c.wx;
    EXPECT_EQ(fy, c.fy) << c.wy;
  }
  int32_t wx, wy;
  vox_scale_to_window({2, 0, 0, 640, 480}, 100, 50, &wx, &wy);
  EXPECT_EQ(wx, 201);
  EXPECT_EQ(wy, 101);
  vox_scale_to_window(l, 0, 239, &wx, &wy);
  EXPECT_EQ(wx, 33);
  EXPECT_EQ(wy, 24 + 239 * 3 + 1);

  // The fused 32-bit path against the two steps, odd widths and every tail included.
  std::vector<uint8_t> bytes(4 * 19);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37 + 5);
  for (int s : {1, 2, 3}) {
    for (int w : {1, 4, 5, 9, 19}) {
      std::vector<uint32_t> x(19), want(size_t(19 * s * 2)), got(size_t(19 * s * 2));
      vox_row_to_xrgb(bytes.data(), 4, w, nullptr, x.data());
      vox_scale_row(x.data(), w, s, want.data());
      vox_scale_row(x.data(), w, s, want.data() + 19 * s);
      vox_scale_row_xrgb32(bytes.data(), w, s, got.data(), 19 * s, 2);
      EXPECT_EQ(got, want) << s << " " << w;
    }
  }
}
