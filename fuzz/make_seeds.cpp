// Writes the fuzz target's made seeds into the directory given: every colour type at every bit
// depth (so every pixel size the filters look back by), each with every filter type on its
// own and all five in turn, plain and interlaced, some with a tRNS chunk. The conformance
// suite alone never has the average filter at 2- or 6-byte pixels, for one.

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "kastrel/png/testing/png_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  struct Kind {
    uint8_t colour;
    uint8_t depth;
  };
  const Kind kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                        {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  std::mt19937 random(17);
  int written = 0;
  for (const Kind& kind : kinds) {
    for (int filter = -1; filter <= 4; ++filter) {
      for (bool interlaced : {false, true}) {
        pngtest::Picture pic{11, 9, kind.depth, kind.colour, {}, {}, {}};
        const uint32_t top = (1u << kind.depth) - 1;
        // Smooth ramps with a little noise, so that every filter has something to predict.
        for (uint32_t i = 0; i < pic.width * pic.height * uint32_t(pngtest::Channels(kind.colour));
             ++i)
          pic.samples.push_back(uint16_t((i * 7 + random() % 3) & top));
        if (kind.colour == 3) {
          for (uint32_t i = 0; i <= top; ++i)
            pic.palette.insert(pic.palette.end(), {uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)});
          if (filter == 0) pic.trns = pngtest::Bytes{0, 128, 255};
        } else if (filter == 1 && (kind.colour == 0 || kind.colour == 2)) {
          pic.trns = kind.colour == 0 ? pngtest::BE16({1}) : pngtest::BE16({1, 2, 3});
        }
        const pngtest::Bytes file = pngtest::Encode(pic, interlaced, filter);
        const std::string name = std::string(argv[1]) + "/made-c" + std::to_string(kind.colour) +
                                 "-d" + std::to_string(kind.depth) + "-f" + std::to_string(filter) +
                                 (interlaced ? "-i" : "") + ".png";
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        ++written;
      }
    }
  }
  std::printf("fuzz seeds: %d made pictures in %s\n", written, argv[1]);
  return 0;
}
