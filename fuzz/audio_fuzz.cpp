// libFuzzer target for the sound loader's memory entry points: each input is decoded as a sound
// and opened as a music track, on SDL's dummy driver. Whatever loads must have whole frames.

#include <SDL_mixer.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "kastrel/audio/audio.h"

namespace {

// A short 16-bit stereo ramp at 8 kHz as a WAV file: the seed of the corpus.
void WriteSeed(const std::string& dir) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  const uint32_t frames = 800;
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + frames * 4, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4), put(1, 2), put(2, 2), put(8000, 4), put(32000, 4), put(4, 2), put(16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(frames * 4, 4);
  for (uint32_t i = 0; i < frames; ++i) put(i * 40, 2), put(0 - i * 40, 2);
  std::ofstream(dir + "/ramp.wav", std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("KASTREL_FUZZ_SEED_DIR")) WriteSeed(dir);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  KASTREL::AUDIO::OPENAUDIO();
  // Inputs that decode to more are refused from their header or while decoding: a small cap
  // keeps every input quick and puts the refusals themselves under test.
  KASTREL::AUDIO::SETMAXSOUNDBYTES(16 << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > INT32_MAX) return 0;
  KASTREL::AUDIO::SOUND sound(data, int32_t(size));
  if (const auto* chunk = static_cast<const Mix_Chunk*>(sound.HANDLE())) {
    if (chunk->alen % 4 != 0) __builtin_trap();  // 16-bit stereo frames
    // Reading every byte lets AddressSanitizer see samples shorter than they claim.
    uint8_t sum = 0;
    for (Uint32 i = 0; i < chunk->alen; ++i) sum = uint8_t(sum + chunk->abuf[i]);
    volatile uint8_t sink = sum;
    (void)sink;
  }
  KASTREL::AUDIO::MUSIC music(data, int32_t(size));
  return 0;
}
