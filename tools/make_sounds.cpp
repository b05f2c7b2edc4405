// Synthesises the example games' sounds and writes them as 16-bit mono WAV files:
//   kastrel_make_sounds OUTPUT_DIR [breakout|platformer]
// writes Breakout's paddle.wav, brick.wav, wall.wav, lose.wav and music.wav, or the
// platformer's jump.wav, coin.wav, land.wav, goal.wav and music.wav. Like the demonstration's
// pictures, the output depends on nothing but this file: no clocks, no random sources.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

using Samples = std::vector<double>;  // -1..1

// A tone whose pitch glides from f0 to f1, with a short attack and an exponential decay; the
// phase is accumulated so the glide has no clicks.
Samples tone(double seconds, double f0, double f1, double decay, double level, bool square) {
  const int n = int(seconds * kRate);
  Samples out(size_t(n), 0.0);
  double phase = 0;
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / kRate;
    const double f = f0 + (f1 - f0) * (double(i) / n);
    phase += 2 * kPi * f / kRate;
    const double wave = square ? (std::sin(phase) >= 0 ? 0.6 : -0.6) : std::sin(phase);
    const double attack = std::min(1.0, t / 0.004);
    const double release = std::min(1.0, double(n - i) / (0.01 * kRate));
    out[size_t(i)] = wave * level * attack * release * std::exp(-t * decay);
  }
  return out;
}

void mix_into(Samples& into, const Samples& add, size_t at) {
  if (into.size() < at + add.size()) into.resize(at + add.size(), 0.0);
  for (size_t i = 0; i < add.size(); ++i) into[at + i] += add[i];
}

bool write_wav(const std::string& path, const Samples& samples) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const uint32_t data_bytes = uint32_t(samples.size() * 2);
  auto u32 = [&](uint32_t v) {
    const unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, file);
  };
  auto u16 = [&](uint16_t v) {
    const unsigned char b[2] = {uint8_t(v), uint8_t(v >> 8)};
    std::fwrite(b, 1, 2, file);
  };
  std::fwrite("RIFF", 1, 4, file);
  u32(36 + data_bytes);
  std::fwrite("WAVEfmt ", 1, 8, file);
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(kRate);
  u32(kRate * 2);
  u16(2);
  u16(16);
  std::fwrite("data", 1, 4, file);
  u32(data_bytes);
  for (double s : samples) u16(uint16_t(int16_t(std::lround(std::clamp(s, -1.0, 1.0) * 32767))));
  return std::fclose(file) == 0;
}

// Four bars of a minor arpeggio over a bass line, 120 beats a minute, made to loop seamlessly.
Samples music() {
  const double beat = 0.5;
  const double bass[4] = {110.0, 87.31, 130.81, 98.0};  // A2 F2 C3 G2
  const double chords[4][3] = {{220.0, 261.63, 329.63},
                               {174.61, 220.0, 261.63},
                               {261.63, 329.63, 392.0},
                               {196.0, 246.94, 293.66}};
  Samples out(size_t(16 * beat * kRate), 0.0);
  for (int bar = 0; bar < 4; ++bar) {
    const size_t bar_start = size_t(bar * 4 * beat * kRate);
    mix_into(out, tone(4 * beat - 0.02, bass[bar], bass[bar], 0.8, 0.22, false), bar_start);
    for (int step = 0; step < 8; ++step) {
      const double f = chords[bar][step % 3] * (step >= 6 ? 2.0 : 1.0);
      mix_into(out, tone(beat / 2 - 0.01, f, f, 6.0, 0.12, true),
               bar_start + size_t(step * beat / 2 * kRate));
    }
  }
  out.resize(size_t(16 * beat * kRate));
  return out;
}

// A brighter major tune for the platformer: eight bars at 140 beats a minute, looping.
Samples tune() {
  const double beat = 60.0 / 140;
  const double bass[4] = {130.81, 110.0, 87.31, 98.0};  // C3 A2 F2 G2
  const double melody[16] = {523.25, 659.26, 783.99, 659.26, 440.0, 523.25, 659.26, 523.25,
                             349.23, 440.0,  523.25, 440.0,  392.0, 493.88, 587.33, 783.99};
  Samples out(size_t(16 * beat * kRate), 0.0);
  for (int bar = 0; bar < 4; ++bar) {
    const size_t bar_start = size_t(bar * 4 * beat * kRate);
    for (int b = 0; b < 4; ++b)
      mix_into(out, tone(beat - 0.02, bass[bar], bass[bar], 3.0, 0.2, false),
               bar_start + size_t(b * beat * kRate));
    for (int step = 0; step < 4; ++step) {
      const double f = melody[bar * 4 + step];
      mix_into(out, tone(beat - 0.01, f, f, 5.0, 0.1, true),
               bar_start + size_t(step * beat * kRate));
    }
  }
  out.resize(size_t(16 * beat * kRate));
  return out;
}

Samples goal() {
  Samples out;
  const double notes[4] = {523.25, 659.26, 783.99, 1046.5};
  for (int i = 0; i < 4; ++i)
    mix_into(out, tone(i == 3 ? 0.5 : 0.12, notes[i], notes[i], i == 3 ? 4 : 10, 0.5, true),
             size_t(i * 0.11 * kRate));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string game = argc == 3 ? argv[2] : "breakout";
  if (argc < 2 || argc > 3 || (game != "breakout" && game != "platformer")) {
    std::fprintf(stderr, "usage: kastrel_make_sounds OUTPUT_DIR [breakout|platformer]\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct Sound {
    const char* name;
    Samples samples;
  };
  const std::vector<Sound> breakout = {
      {"paddle.wav", tone(0.09, 520, 480, 25, 0.7, true)},
      {"brick.wav", tone(0.12, 990, 1320, 18, 0.6, true)},
      {"wall.wav", tone(0.06, 260, 240, 40, 0.6, false)},
      {"lose.wav", tone(0.7, 600, 110, 2.5, 0.7, true)},
      {"music.wav", music()},
  };
  const std::vector<Sound> platformer = {
      {"jump.wav", tone(0.16, 330, 880, 12, 0.5, true)},
      {"coin.wav", tone(0.14, 1320, 1980, 16, 0.45, true)},
      {"land.wav", tone(0.05, 180, 120, 50, 0.5, false)},
      {"goal.wav", goal()},
      {"music.wav", tune()},
  };
  for (const auto& sound : game == "breakout" ? breakout : platformer) {
    const std::string path = dir + "/" + sound.name;
    if (!write_wav(path, sound.samples)) {
      std::fprintf(stderr, "kastrel_make_sounds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
