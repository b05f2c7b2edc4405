#pragma once
// Test sounds made on the spot, and SDL's disk audio driver read back: the mixer's output is
// written as raw 16-bit stereo frames at 44.1 kHz to a file of the test's own.
#include <SDL_mixer.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kastrel/audio/audio.h"

namespace audio_testing {

using Frames = std::vector<int16_t>;  // interleaved left, right
using Bytes = std::vector<uint8_t>;
inline constexpr int kRate = 44100;

inline size_t count(const Frames& f) { return f.size() / 2; }

inline Frames sine(double hz, double seconds, double amplitude) {
  Frames f;
  for (int i = 0; i < int(seconds * kRate); ++i) {
    const auto v = int16_t(std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * i / kRate)));
    f.insert(f.end(), {v, v});
  }
  return f;
}

// Never zero, so that runs of zeros in the output can only be silence.
inline Frames noise(double seconds, uint32_t seed) {
  std::mt19937 rng(seed);
  Frames f(size_t(seconds * kRate) * 2);
  for (int16_t& v : f) v = int16_t(int(rng() % 20000) + 1 - (rng() % 2) * 20001);
  return f;
}

inline Bytes wav(const Frames& f) {
  Bytes b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  const uint32_t data = uint32_t(f.size() * 2);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + data, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4), put(1, 2), put(2, 2), put(kRate, 4), put(kRate * 4, 4), put(4, 2), put(16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (int16_t v : f) put(uint16_t(v), 2);
  return b;
}

inline void write(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
inline Bytes read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A private folder and the disk driver writing into it; output() closes the device first.
struct DiskAudio {
  std::string dir;
  DiskAudio() {
    char name[] = "/tmp/kastrel-audio-XXXXXX";
    dir = mkdtemp(name);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file("out.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "5", 1);  // a 23 ms buffer every 5 ms
  }
  ~DiskAudio() { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string file(const std::string& name) const { return dir + "/" + name; }
  std::string save(const std::string& name, const Bytes& b) const {
    write(file(name), b);
    return file(name);
  }
  Frames output() const {
    KASTREL::AUDIO::CLOSEAUDIO();
    const Bytes b = read(file("out.raw"));
    Frames f(b.size() / 2);
    std::memcpy(f.data(), b.data(), f.size() * 2);
    return f;
  }
};

inline bool silent_frame(const Frames& f, size_t i) { return f[2 * i] == 0 && f[2 * i + 1] == 0; }

// The stretches of sound in the output, split by at least `gap` silent frames: [begin, end).
inline std::vector<std::pair<size_t, size_t>> segments(const Frames& f, size_t gap = 2000) {
  std::vector<std::pair<size_t, size_t>> out;
  size_t quiet = gap;
  for (size_t i = 0; i < count(f); ++i) {
    if (silent_frame(f, i)) {
      ++quiet;
      continue;
    }
    if (quiet >= gap) out.push_back({i, i});
    out.back().second = i + 1;
    quiet = 0;
  }
  return out;
}

inline int peak(const Frames& f, size_t begin, size_t end, int channel) {
  int p = 0;
  for (size_t i = begin; i < end; ++i) p = std::max(p, std::abs(int(f[2 * i + channel])));
  return p;
}

// Rising zero crossings per second.
inline double frequency(const Frames& f, size_t begin, size_t end, int channel) {
  int rises = 0;
  size_t first = 0, last = 0;
  for (size_t i = begin + 1; i < end; ++i)
    if (f[2 * (i - 1) + channel] < 0 && f[2 * i + channel] >= 0) {
      if (rises++ == 0) first = i;
      last = i;
    }
  return rises < 2 ? 0 : (rises - 1) * double(kRate) / double(last - first);
}

inline double db(double ratio) { return 20 * std::log10(ratio); }

// Buffers the mixer has filled since count_buffers(): waits measured in the output itself
// hold on a loaded machine, where the mixer's thread may fall behind the clock.
inline std::atomic<long> mixed{0};
inline void count_buffers() {
  KASTREL::AUDIO::OPENAUDIO();
  Mix_SetPostMix([](void*, Uint8*, int) { ++mixed; }, nullptr);
}
inline void wait_buffers(long n) {
  const long until = mixed + n;
  for (int i = 0; i < 20000 && mixed < until; ++i) usleep(1000);
}

// Waits for the sound to end, then leaves a few buffers of silence after it.
inline void wait_until_quiet(const KASTREL::AUDIO::SOUND& s) {
  for (int i = 0; i < 10000 && s.PLAYING(); ++i) usleep(1000);
  wait_buffers(4);
}

}  // namespace audio_testing
