// The driver contract on the window driver, against the fixture's X server: the picture read
// back over X, the input given with xdotool.
#include "kastrel/device/sdl/sdl_driver.h"
#include "kastrel/device/testing/driver_contract.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using driver_contract::DeviceDriver;

const char* const kTitle = "kastrel_window_tests";
x_desktop::Connection* g_x = nullptr;

void setup() {
  X_DESKTOP_OR_SKIP();
  static x_desktop::Connection connection;
  g_x = &connection;
  ASSERT_TRUE(g_x->ok());
  ASSERT_TRUE(x_desktop::xdotool("keyup d mouseup 1 mousemove 2 2"));
}

// The window is looked up each time: a mode set may make a new one.
uint32_t pixel(int32_t x, int32_t y) { return g_x->pixel(g_x->find_window(kTitle), x, y); }

void input(int32_t x, int32_t y) {
  const unsigned long w = g_x->wait_for_window(kTitle);
  const x_desktop::Geometry g = g_x->geometry(w);
  ASSERT_TRUE(x_desktop::xdotool("mousemove " + std::to_string(g.x + x) + " " +
                                 std::to_string(g.y + y)));
  ASSERT_TRUE(x_desktop::xdotool("windowfocus --sync " + std::to_string(w)));
  ASSERT_TRUE(x_desktop::xdotool("key d click 1"));
}

INSTANTIATE_TEST_SUITE_P(Desktop, DeviceDriver,
                         testing::Values(driver_contract::DRIVER{&vox_gfxDriverSDL, setup, pixel,
                                                                 input, nullptr}),
                         driver_contract::name);

}  // namespace
