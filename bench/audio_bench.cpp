// Sound: starting an effect that is already loaded, and loading a 1-second WAV file.
//  - "start a loaded effect": SOUND::PLAY of a 0.1 s effect, over and over, so that after the
//    first 16 calls every start takes the oldest voice; beside it, SDL_mixer's own calls doing
//    the same (Mix_PlayChannel, and on a full house halting Mix_GroupOldest's voice first), and
//    a fixed 20 microseconds per call, the budget a game can afford dozens of times a frame.
//  - "load a 1 s WAV": SOUND::LOADFROMFILE of a 1-second 44.1 kHz 16-bit stereo WAV file
//    (176 KB, in the page cache), beside Mix_LoadWAV and reading the file's bytes (read(2)
//    into a buffer).
// Both run on SDL's dummy driver, which mixes in real time and discards the result.
#include <SDL_mixer.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/audio/audio.h"

namespace bench {
namespace {

using namespace KASTREL;

std::vector<uint8_t> SineWav(double seconds) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  auto tag = [&](const char* t) {
    for (; *t != 0; ++t) b.push_back(uint8_t(*t));
  };
  const auto frames = uint32_t(seconds * 44100);
  tag("RIFF");
  put(36 + frames * 4, 4);
  tag("WAVEfmt ");
  put(16, 4), put(1, 2), put(2, 2), put(44100, 4), put(44100 * 4, 4), put(4, 2), put(16, 2);
  tag("data");
  put(frames * 4, 4);
  for (uint32_t i = 0; i < frames; ++i) {
    const auto v = uint16_t(int16_t(std::lround(16000 * std::sin(2 * M_PI * 440 * i / 44100))));
    put(v, 2), put(v, 2);
  }
  return b;
}

std::string WavFile() {
  static const std::string path = [] {
    char dir[] = "/tmp/kastrel-bench-XXXXXX";
    const std::string p = std::string(mkdtemp(dir)) + "/one-second.wav";
    const auto bytes = SineWav(1.0);
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

bool Open() {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  AUDIO::OPENAUDIO();
  return AUDIO::VOICES() == 16;
}

}  // namespace

void RegisterAudio() {
  const std::string start = "audio: start a loaded effect";
  const std::string row = "0.1 s effect, 16 voices";
  const double effect_bytes = 4410 * 4;
  Columns(start, {"kastrel", "SDL_mixer", "20 us"}, {"20 us"});
  Add({start, row, "kastrel", effect_bytes}, [](benchmark::State& state) {
    Open();
    static const auto wav = SineWav(0.1);
    AUDIO::SOUND effect(wav.data(), int32_t(wav.size()));
    for (auto _ : state)
      if (!effect.PLAY(0.8f, 0.3f)) state.SkipWithError("the effect did not start");
    AUDIO::STOPALL();
  });
  Add({start, row, "SDL_mixer", effect_bytes}, [](benchmark::State& state) {
    Open();
    static const auto wav = SineWav(0.1);
    Mix_Chunk* chunk = Mix_LoadWAV_RW(SDL_RWFromConstMem(wav.data(), int(wav.size())), 1);
    for (auto _ : state) {
      int voice = Mix_PlayChannel(-1, chunk, 0);
      if (voice < 0) voice = Mix_PlayChannel(Mix_GroupOldest(-1), chunk, 0);
      Mix_Volume(voice, 102);
      Mix_SetPanning(voice, 178, 255);
    }
    Mix_HaltChannel(-1);
    Mix_FreeChunk(chunk);
  });
  Add(
      {start, row, "20 us", effect_bytes},
      [](benchmark::State& state) {
        for (auto _ : state) state.SetIterationTime(20e-6);
      },
      true);
  AddTarget({"starting a loaded effect within 20 us", start, {row}, "kastrel", "20 us", 1.0});

  const std::string load = "audio: load a 1 s WAV";
  const std::string wav_row = "44.1 kHz 16-bit stereo";
  const double file_bytes = 44 + 44100 * 4;
  Columns(load, {"kastrel", "Mix_LoadWAV", "read the file"}, {"read the file"});
  Add({load, wav_row, "kastrel", file_bytes}, [](benchmark::State& state) {
    Open();
    const std::string path = WavFile();
    for (auto _ : state) {
      AUDIO::SOUND sound(path);
      if (!sound.HANDLE()) state.SkipWithError("the WAV file did not load");
    }
  });
  Add({load, wav_row, "Mix_LoadWAV", file_bytes}, [](benchmark::State& state) {
    Open();
    const std::string path = WavFile();
    for (auto _ : state) Mix_FreeChunk(Mix_LoadWAV(path.c_str()));
  });
  Add({load, wav_row, "read the file", file_bytes}, [](benchmark::State& state) {
    const std::string path = WavFile();
    std::vector<uint8_t> buffer(size_t(44 + 44100 * 4));
    for (auto _ : state) {
      const int fd = open(path.c_str(), O_RDONLY);
      const ssize_t got = read(fd, buffer.data(), buffer.size());
      close(fd);
      if (got != ssize_t(buffer.size())) state.SkipWithError("short read");
      benchmark::ClobberMemory();
    }
  });
  AddTarget({"loading a 1 s WAV file vs reading its bytes (<= 2x)",
             load,
             {wav_row},
             "kastrel",
             "read the file",
             2.0});
}

}  // namespace bench
