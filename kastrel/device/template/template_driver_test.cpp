// The driver contract on the template driver: no window system, nothing skipped.
#include "kastrel/device/template/template_driver.h"

#include "kastrel/device/testing/driver_contract.h"

namespace {

namespace T = KASTREL::TEMPLATEDRIVER;
using driver_contract::DeviceDriver;

uint32_t pixel(int32_t x, int32_t y) {
  const uint32_t* picture = T::PICTURE();
  return picture != nullptr && x < T::WIDTH() && y < T::HEIGHT() ? picture[y * T::WIDTH() + x]
                                                                 : 0xDEADu;
}

void input(int32_t x, int32_t y) {
  using namespace VOX;
  for (const EVENT& e : {EVENT{KEYPRESSED, {32}, {'d'}, {}, 0},
                         EVENT{KEYRELEASED, {32}, {'d'}, {}, 0}, EVENT{MOUSEMOVED, {x}, {y}, {}, 0},
                         EVENT{BUTTONPRESSED, {KASTREL::BUTTON::LEFT}, {}, {}, 0},
                         EVENT{BUTTONRELEASED, {KASTREL::BUTTON::LEFT}, {}, {}, 0}})
    ASSERT_TRUE(T::INJECT(e));
}

void refuse_fullscreen(bool refuse) { T::ALLOWFULLSCREEN(!refuse); }

INSTANTIATE_TEST_SUITE_P(device, DeviceDriver,
                         testing::Values(driver_contract::DRIVER{&vox_gfxDriverTemplate, nullptr,
                                                                 pixel, input, refuse_fullscreen}),
                         driver_contract::name);

}  // namespace
