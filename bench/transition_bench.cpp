// One pass of an animated screen switch at 640 x 480: DRAWTRANSITION composing the outgoing and
// incoming pictures into the frame, for every effect, against memcpy of one frame. Each
// iteration takes the next of nine progress values from 0.1 to 0.9, so a row is the mean cost
// of a pass over the whole transition; directions take turns the same way.

#include <cstring>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/engine/transition.h"

namespace bench {
namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

constexpr int32_t kW = 640, kH = 480;

struct Pictures {
  std::vector<uint32_t> out, in, frame;
  Pictures() : out(kW * kH), in(kW * kH), frame(kW * kH) {
    for (size_t i = 0; i < out.size(); ++i) {
      out[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
      in[i] = 0xFF000000u | uint32_t(i * 40503u);
    }
  }
};

Pictures& pictures() {
  static Pictures p;
  return p;
}

const char* const kEffects[] = {"FADE",    "SLIDEIN",           "SLIDEOUT",       "ZOOMIN",
                                "ZOOMOUT", "HORISONTALSTRIPES", "VERTICALSTRIPES"};

}  // namespace

void RegisterTransitions() {
  const std::string section = "screen transition pass 640 x 480";
  Columns(section, {"kastrel", "memcpy"}, {"memcpy"});
  const double frame = double(kW) * kH * 4;
  for (int e = 1; e <= 7; ++e) {
    const std::string row = kEffects[e - 1];
    Add({section, row, "kastrel", frame}, [e](benchmark::State& state) {
      Pictures& p = pictures();
      int i = 0;
      for (auto _ : state) {
        DRAWTRANSITION(p.frame.data(), p.out.data(), p.in.data(), kW, kH, kW * 4,
                       TRANSITIONEFFECT(e), TRANSITIONDIRECTION(i % 8), (i % 9 + 1) / 10.0);
        ++i;
        benchmark::ClobberMemory();
      }
    });
    Add({section, row, "memcpy", frame}, [](benchmark::State& state) {
      Pictures& p = pictures();
      for (auto _ : state) {
        std::memcpy(p.frame.data(), p.in.data(), p.frame.size() * 4);
        benchmark::ClobberMemory();
      }
    });
    AddTarget({"transition pass " + row + " vs memcpy of a frame (<= 3x)",
               section,
               {row},
               "kastrel",
               "memcpy",
               3.0});
  }
}

}  // namespace bench
