#pragma once
// Test sounds made on the spot, and SDL's disk audio driver read back: the mixer's output is
// written as raw 16-bit stereo frames at 44.1 kHz to a file of the test's own.
#include <SDL_mixer.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kastrel/audio/audio.h"
#include "kastrel/base/detail/platform.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/device/sdl/testing/disk_audio_pace.h"

namespace audio_testing {

using Frames = std::vector<int16_t>;  // interleaved left, right
using Bytes = std::vector<uint8_t>;
inline constexpr int kRate = 44100;

inline size_t count(const Frames& f) { return f.size() / 2; }

inline Frames sine(double hz, double seconds, double amplitude) {
  Frames f;
  for (int i = 0; i < int(seconds * kRate); ++i) {
    const auto v = int16_t(std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * i / kRate)));
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

// A PCM file, RIFF WAVE or (big-endian) AIFF, with any header values, its data all 0x80.
inline Bytes pcm_file(bool wave, uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits,
                      uint32_t frames, uint32_t data_bytes) {
  Bytes b;
  auto put = [&](uint64_t v, int n, bool big) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * (big ? n - 1 - i : i))));
  };
  const bool be = !wave;
  b.insert(b.end(), {uint8_t(wave ? 'R' : 'F'), uint8_t(wave ? 'I' : 'O'),
                     uint8_t(wave ? 'F' : 'R'), uint8_t(wave ? 'F' : 'M')});
  put(4 + 8 + (wave ? 16 : 18) + 8 + data_bytes + (wave ? 0 : 8), 4, be);
  for (char c : std::string(wave ? "WAVEfmt " : "AIFFCOMM")) b.push_back(uint8_t(c));
  if (wave) {
    put(16, 4, false), put(tag, 2, false), put(channels, 2, false), put(rate, 4, false);
    put(rate * channels * bits / 8, 4, false), put(channels * bits / 8, 2, false), put(bits, 2, false);
  } else {  // the rate as an 80-bit float: exponent, then the mantissa with its top bit set
    const int shift = rate ? 31 - __builtin_clz(rate) : 0;
    put(18, 4, true), put(channels, 2, true), put(frames, 4, true), put(bits, 2, true);
    put(rate ? 16383 + shift : 0, 2, true), put(uint64_t(rate) << (63 - shift), 8, true);
  }
  for (char c : std::string(wave ? "data" : "SSND")) b.push_back(uint8_t(c));
  put(data_bytes + (wave ? 0 : 8), 4, be);
  if (!wave) put(0, 8, true);
  b.resize(b.size() + data_bytes, 0x80);
  return b;
}

inline Bytes wav(const Frames& f) {
  Bytes b = pcm_file(true, 1, 2, kRate, 16, 0, uint32_t(f.size() * 2));
  std::memcpy(b.data() + 44, f.data(), f.size() * 2);  // the host is little-endian too
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
  kastrel_testing::TempDir temp;
  std::string dir = temp.path();
  DiskAudio() {
    KASTREL::PLATFORM::SETENVIRONMENT("SDL_AUDIODRIVER", "disk");
    KASTREL::PLATFORM::SETENVIRONMENT("SDL_DISKAUDIOFILE", file("out.raw").c_str());
    kastrel_testing::pace_disk_audio("5");
  }
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
  for (int i = 0; i < 20000 && mixed < until; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Waits for the sound to end, then leaves a few buffers of silence after it.
inline void wait_until_quiet(const KASTREL::AUDIO::SOUND& s) {
  for (int i = 0; i < 10000 && s.PLAYING(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  wait_buffers(4);
}

}  // namespace audio_testing
