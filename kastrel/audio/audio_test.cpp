// The mixer's real output under SDL's disk audio driver, bad input, and running without a device.
#include "kastrel/audio/audio.h"
#include "kastrel/base/detail/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "kastrel/audio/testing/disk_audio.h"
#include "kastrel/base/error.h"
#include "kastrel/engine/replay.h"
#include "kastrel/engine/testing/game.h"

using namespace KASTREL;
using namespace KASTREL::AUDIO;
using namespace audio_testing;

TEST(SoundOutput, VolumePanAndMasterShapeA440HzSine) {
  DiskAudio disk;
  count_buffers();
  SOUND tone(disk.save("tone.wav", wav(sine(440, 0.25, 0.5))));
  ASSERT_NE(tone.HANDLE(), nullptr) << LASTERROR();
  EXPECT_NEAR(tone.LENGTH(), 0.25, 1e-3);
  struct Case {
    float volume, pan, master;
    double left_db, right_db;  // against 0.5 of full scale; -200: silent
  } cases[] = {{1, 0, 1, 0, 0},    {0.5f, 0, 1, -6.02, -6.02}, {1, -1, 1, 0, -200},
               {1, 1, 1, -200, 0}, {1, 0.5f, 1, -6.02, 0},     {1, 0, 0.5f, -6.02, -6.02}};
  for (const Case& c : cases) {
    MASTERVOLUME(c.master);
    ASSERT_TRUE(tone.PLAY(c.volume, c.pan));
    EXPECT_TRUE(tone.PLAYING());
    wait_until_quiet(tone);
  }
  MUTE(TRUE);
  EXPECT_TRUE(tone.PLAY());  // muted: plays, unheard
  wait_until_quiet(tone);
  const Frames out = disk.output();
  const auto parts = segments(out);
  ASSERT_EQ(parts.size(), std::size(cases));
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto [begin, end] = parts[i];
    EXPECT_NEAR(double(end - begin) / kRate, 0.25, 0.001) << i;
    for (int ch : {0, 1}) {
      const double want = ch == 0 ? cases[i].left_db : cases[i].right_db;
      const int p = peak(out, begin, end, ch);
      if (want < -100) {
        EXPECT_EQ(p, 0) << "case " << i << " channel " << ch;
        continue;
      }
      EXPECT_NEAR(db(p / (0.5 * 32767)), want, want == 0 ? 1.0 : 0.1) << i << "/" << ch;
      EXPECT_NEAR(frequency(out, begin, end, ch), 440, 1) << i << "/" << ch;
    }
  }
}

TEST(SoundOutput, TwoSoundsMixLoopsRepeatExactlyStopCutsAndPauseFreezes) {
  DiskAudio disk;
  count_buffers();
  const Frames a = sine(440, 0.2, 0.7), b = sine(660, 0.2, 0.7), burst = noise(0.05, 1),
               marker = noise(0.05, 2), long_burst = noise(0.5, 3);
  SOUND A(disk.save("a.wav", wav(a))), B(disk.save("b.wav", wav(b)));
  const Bytes burst_wav = wav(burst), marker_wav = wav(marker), long_wav = wav(long_burst);
  SOUND BURST(burst_wav.data(), int32_t(burst_wav.size()));
  SOUND MARKER(marker_wav.data(), int32_t(marker_wav.size()));
  SOUND LONG(long_wav.data(), int32_t(long_wav.size()));
  SOUND TONE(disk.save("tone.wav", wav(sine(440, 0.1, 0.5))));

  ASSERT_TRUE(A.PLAY() && B.PLAY());
  wait_until_quiet(A), wait_until_quiet(B);
  ASSERT_TRUE(BURST.PLAY(1, 0, 2));
  wait_until_quiet(BURST);
  ASSERT_TRUE(TONE.PLAY(1, 0, FOREVER));
  wait_buffers(4);
  TONE.STOP();
  MARKER.PLAY();
  EXPECT_FALSE(TONE.PLAYING());
  wait_until_quiet(MARKER);
  ASSERT_TRUE(LONG.PLAY());
  wait_buffers(3);
  PAUSEALL();
  EXPECT_TRUE(ALLPAUSED() && LONG.PLAYING());
  usleep(100000);
  RESUMEALL();
  wait_until_quiet(LONG);
  const Frames out = disk.output();
  const auto parts = segments(out, 64);

  // The mix: the clipped sum, with B starting in the same buffer as A or a later one.
  ASSERT_GE(parts.size(), 4u);
  const size_t at = parts[0].first - 1;  // the sine's first sample is 0
  bool matched = false, clipped = false;
  for (size_t shift = 0; shift <= 20 * 1024 && !matched; shift += 1024) {
    matched = true;
    for (size_t i = 0; i < count(a) + shift && matched; ++i)
      for (int ch : {0, 1}) {
        const int sa = i < count(a) ? a[2 * i + ch] : 0;
        const int sb = i >= shift && i - shift < count(b) ? b[2 * (i - shift) + ch] : 0;
        clipped |= std::abs(sa + sb) > 32767;
        matched &= out[2 * (at + i) + ch] == std::clamp(sa + sb, -32768, 32767);
      }
  }
  EXPECT_TRUE(matched && clipped);

  // Three plays of the burst, sample for sample, then silence.
  const Frames played(out.begin() + long(2 * parts[1].first),
                      out.begin() + long(2 * parts[1].second));
  Frames thrice;
  for (int i = 0; i < 3; ++i) thrice.insert(thrice.end(), burst.begin(), burst.end());
  EXPECT_TRUE(played == thrice) << count(played) << " frames against " << count(thrice);

  // The looping tone, then the marker alone: the tone was cut before the marker's first frame.
  size_t marker_at = parts[2].first;
  while (marker_at < count(out) &&
         !std::equal(marker.begin(), marker.begin() + 8, out.begin() + long(2 * marker_at)))
    ++marker_at;
  ASSERT_LT(marker_at + count(marker), count(out));
  EXPECT_GT(marker_at - parts[2].first, size_t(kRate / 20));  // the tone played for a while
  EXPECT_TRUE(std::equal(marker.begin(), marker.end(), out.begin() + long(2 * marker_at)));

  // The long burst with the pause taken out is the burst itself.
  Frames resumed;
  size_t gaps = 0;
  for (size_t i = parts[parts.size() - 2].first; i < parts.back().second; ++i) {
    if (silent_frame(out, i)) {
      gaps += i > 0 && !silent_frame(out, i - 1);
      continue;
    }
    resumed.insert(resumed.end(), {out[2 * i], out[2 * i + 1]});
  }
  EXPECT_TRUE(parts.size() == 5u || parts.size() == 6u);  // the tone and marker may touch
  EXPECT_TRUE(resumed == long_burst);
}

TEST(Music, FadesInAndOutMonotonicallyOverTheRequestedTime) {
  DiskAudio disk;
  count_buffers();
  MUSIC track(disk.save("music.wav", wav(sine(440, 4, 0.5))));
  ASSERT_NE(track.HANDLE(), nullptr) << LASTERROR();
  ASSERT_TRUE(track.PLAY(FOREVER, 0.5f));
  EXPECT_TRUE(MUSICPLAYING());
  wait_buffers(40);  // the fade in, and a while at full volume
  STOPMUSIC(0.5f);
  for (int i = 0; i < 10000 && MUSICPLAYING(); ++i) usleep(1000);
  EXPECT_FALSE(MUSICPLAYING());
  const Frames out = disk.output();
  // Peaks of the mixer's own buffers; full is 0.5 of full scale.
  std::vector<double> level;
  for (size_t at = 0; at + 1024 <= count(out); at += 1024)
    level.push_back(peak(out, at, at + 1024, 0) / (0.5 * 32767));
  const size_t rise = size_t(
      std::find_if(level.begin(), level.end(), [](double v) { return v > 0; }) - level.begin());
  size_t top = rise;
  while (top < level.size() && level[top] < 0.99) ++top;
  size_t fall = top;
  while (fall < level.size() && level[fall] >= 0.99) ++fall;
  size_t end = fall;
  while (end < level.size() && level[end] > 0) ++end;
  ASSERT_LT(end, level.size());
  const double block = 1024.0 / kRate;
  EXPECT_NEAR((top - rise) * block, 0.5, 3 * block);
  EXPECT_NEAR((end - fall) * block, 0.5, 3 * block);
  EXPECT_TRUE(std::is_sorted(level.begin() + long(rise), level.begin() + long(top)));
  EXPECT_TRUE(
      std::is_sorted(level.begin() + long(fall), level.begin() + long(end), std::greater<>()));
  EXPECT_TRUE(std::all_of(level.begin() + long(end), level.end(), [](double v) { return v == 0; }));
}

TEST(Loading, BadInputGivesANullSoundAndAMessageAndCopiesShare) {
  DiskAudio disk;
  const Bytes good = wav(sine(440, 0.1, 0.5));
  Bytes random(4000);
  std::mt19937 rng(7);
  for (uint8_t& v : random) v = uint8_t(rng() % 250);  // never a 0xFF frame sync
  const Bytes text = {'h', 'e', 'l', 'l', 'o', '\n'};
  Bytes channels = good, huge_chunk(good.begin(), good.begin() + 12);
  channels[23] = 0x4C;  // 19458 channels
  huge_chunk.insert(huge_chunk.end(), {'L', 'I', 'S', 'T', 0x10, 0, 0, 0xA4, 'I', 'N', 'F', 'O'});
  struct File {
    const char* name;
    Bytes bytes;
  } files[] = {{"zero.wav", {}},
               {"truncated.wav", Bytes(good.begin(), good.begin() + 2000)},
               {"header-only.wav", Bytes(good.begin(), good.begin() + 30)},
               {"random.wav", random},
               {"text.ogg", text},
               {"channels.wav", channels},
               {"huge-chunk.wav", huge_chunk},
               {"picture.wav", read(std::string(KASTREL_SOURCE_DIR) + "/demo/images/ball.png")}};
  for (const File& f : files) {
    SCOPED_TRACE(f.name);
    const std::string path = disk.save(f.name, f.bytes);
    SOUND s;
    CLEARLASTERROR();
    EXPECT_FALSE(s.LOADFROMFILE(path));
    EXPECT_TRUE(s.HANDLE() == nullptr && std::strlen(LASTERROR()) > 10) << LASTERROR();
    CLEARLASTERROR();
    EXPECT_FALSE(s.LOADFROMMEMORY(f.bytes.data(), int32_t(f.bytes.size())));
    EXPECT_TRUE(s.HANDLE() == nullptr && std::strlen(LASTERROR()) > 10) << LASTERROR();
    EXPECT_FALSE(s.PLAY());  // a null sound: no-op
    MUSIC m;
    if (std::string(f.name) != "truncated.wav") {  // a cut track streams what it has
      CLEARLASTERROR();
      EXPECT_FALSE(m.LOADFROMFILE(path));
      EXPECT_TRUE(m.HANDLE() == nullptr && std::strlen(LASTERROR()) > 10) << LASTERROR();
      EXPECT_FALSE(m.PLAY());
    }
  }
  SOUND missing(disk.file("missing.wav"));
  MUSIC no_track(good.data(), 0);
  EXPECT_TRUE(missing.HANDLE() == nullptr && no_track.HANDLE() == nullptr);

  // The same samples by another name, and the encoders' formats where they are installed.
  std::vector<std::string> names = {disk.save("tone.ogg", good)};
  const std::string source = disk.save("tone.wav", good);
  if (std::system(("oggenc -Q -o " + disk.file("enc.ogg") + " " + source).c_str()) == 0)
    names.push_back(disk.file("enc.ogg"));
  if (std::system(("flac -s -o " + disk.file("enc.flac") + " " + source).c_str()) == 0)
    names.push_back(disk.file("enc.flac"));
  for (const std::string& name : names) {
    SOUND s(name);
    MUSIC m(name);
    EXPECT_TRUE(s.HANDLE() && m.HANDLE()) << name << ": " << LASTERROR();
    EXPECT_NEAR(s.LENGTH(), 0.1, 0.01) << name;
  }

  // Copies share one decoding; closing the device leaves every sound null.
  SOUND first(good.data(), int32_t(good.size()));
  {
    SOUND second = first, third;
    third = second;
    EXPECT_TRUE(first.HOLDERS() == 3 && third.HANDLE() == first.HANDLE());
    SOUND moved = std::move(second);
    EXPECT_TRUE(second.HANDLE() == nullptr && moved.HOLDERS() == 3);
  }
  EXPECT_EQ(first.HOLDERS(), 1);
  CLOSEAUDIO();
  EXPECT_TRUE(first.HANDLE() == nullptr && !first.PLAY());
  EXPECT_TRUE(first.LOADFROMMEMORY(good.data(), int32_t(good.size())) && first.PLAY());  // reopens
}

// A game that loads, plays and pauses every pass, then ends with the demonstration's status 1.
namespace {
[[noreturn]] void RunSilentGame(const std::string& tone) {
  static SOUND s;
  static MUSIC m;
  static bool ok = true;
  static std::string file = tone;
  test_game::on_show = [] { ok &= s.LOADFROMFILE(file) && m.LOADFROMFILE(file) && SILENT(); };
  test_game::on_frame = [](const test_game::Frame& f) {
    ok &= s.PLAY(1, 0, f.pass % 2) && m.PLAY();
    if (f.pass % 10 == 0) PAUSEALL(), MASTERVOLUME(0.5f), RESUMEALL(), STOPMUSIC(0.1f);
    if (f.pass == 50) ENGINE::SHUTDOWN(TRUE);
  };
  test_game::run();
  std::exit(ok ? 1 : 3);
}

// One line, "kastrel: no audio device (why)..." (a predicate: Windows' death tests have only a
// simple regular expression language).
testing::Matcher<const std::string&> OneNoDeviceLine() {
  return testing::Truly([](const std::string& s) {
    const std::string head = "kastrel: no audio device (";
    return s.starts_with(head) && s.find('\n') == s.size() - 1 &&
           s.find(')', head.size() + 1) < s.size() - 1;
  });
}
}  // namespace

TEST(NoDevice, CallsSucceedSilentlyWithOneMessageAndTheExitStatusStands) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  DiskAudio disk;
  const std::string tone = disk.save("tone.wav", wav(sine(440, 0.1, 0.5)));
  PLATFORM::SETENVIRONMENT("SDL_AUDIODRIVER", "no-such-driver");
  EXPECT_EXIT(RunSilentGame(tone), testing::ExitedWithCode(1),
              OneNoDeviceLine());
}

// Through the real ALSA library with no sound card, the system library's own error printer
// stays quiet too: our line is all a player sees.
TEST(NoDevice, TheAlsaLibrarySaysNothingOfItsOwn) {
  if (access("/proc/asound/cards", F_OK) == 0) GTEST_SKIP() << "this machine has sound cards";
  if (access("/usr/lib/x86_64-linux-gnu/libasound.so.2", F_OK) != 0 && access("/usr/lib/libasound.so.2", F_OK) != 0)
    GTEST_SKIP() << "no ALSA library";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  DiskAudio disk;
  const std::string tone = disk.save("tone.wav", wav(sine(440, 0.1, 0.5)));
  PLATFORM::SETENVIRONMENT("SDL_AUDIODRIVER", "alsa");
  EXPECT_EXIT(RunSilentGame(tone), testing::ExitedWithCode(1),
              OneNoDeviceLine());
}

// Files with absurd headers, made here: each is refused or plays, as a sound and as a track,
// while the peak memory of the process stays within 64 MB of what it was before.
namespace {

// Ogg pages carry a CRC of their own: refreshed after a patch at `at`.
void ogg_patch(Bytes& b, size_t at, uint64_t value, int n) {
  size_t page = at;
  while (std::memcmp(&b[page], "OggS", 4) != 0) --page;
  for (int i = 0; i < n; ++i) b[at + size_t(i)] = uint8_t(value >> (8 * i));
  size_t length = 27 + b[page + 26];
  for (size_t i = 0; i < b[page + 26]; ++i) length += b[page + 27 + i];
  std::fill(&b[page + 22], &b[page + 26], 0);
  uint32_t crc = 0;
  for (size_t i = page; i < page + length; ++i) {
    crc ^= uint32_t(b[i]) << 24;
    for (int k = 0; k < 8; ++k) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
  }
  for (int i = 0; i < 4; ++i) b[page + 22 + size_t(i)] = uint8_t(crc >> (8 * i));
}

long status_kb(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

[[noreturn]] void LoadHostileFiles() {
  DiskAudio disk;
  count_buffers();
  SETMAXSOUNDBYTES(4 << 20);
  const Frames tone = sine(440, 1, 0.5);
  std::vector<std::pair<std::string, Bytes>> files = {
      {"s-1khz-8bit.wav", pcm_file(true, 1, 1, 1000, 8, 0, 8 << 20)},
      {"float64.wav", pcm_file(true, 3, 2, 44100, 64, 0, 64000)},
      {"s-huge-data.wav", [] { Bytes b = pcm_file(true, 1, 2, 44100, 16, 0, 4000);
                             b[40] = b[41] = b[42] = 0xFF; return b; }()},
      {"no-block.wav", [] { Bytes b = pcm_file(true, 1, 2, 44100, 16, 0, 4000);
                            b[32] = b[33] = 0; return b; }()},
      {"frames.aiff", pcm_file(false, 0, 2, 44100, 16, 0xFFFFFFFF, 4000)},
      {"0hz.aiff", pcm_file(false, 0, 1, 0, 16, 2000, 4000)},
      {"1hz.aiff", pcm_file(false, 0, 1, 1, 16, 2000, 4000)},
      {"good.aiff", pcm_file(false, 0, 1, 22050, 16, 2000, 4000)}};
  // A tag with UTF-16 text that the mixer's tag reader reads past: as an MP3, and in tag chunks.
  const Bytes id3 = {'I', 'D', '3', 2, 0, 0x30, 0, 0, 0, 0, 'T', 'A', 'L', 'I', 'D', '3', 2, 0,
                     '0', 0, 0xB0, '3'};
  files.push_back({"id3.mp3", id3});
  for (bool wave : {true, false}) {
    Bytes b = pcm_file(wave, 1, 1, 22050, 16, 2000, 4000),
          chunk = {'i', 'd', '3', ' ', 22, 0, 0, 0};
    if (!wave) chunk = {'I', 'D', '3', ' ', 0, 0, 0, 22};
    chunk.insert(chunk.end(), id3.begin(), id3.end());
    b.insert(b.begin() + (wave ? 36 : 38), chunk.begin(), chunk.end());
    b[wave ? 4 : 7] += 30;
    files.push_back({wave ? "good-id3.wav" : "good-id3.aiff", b});
  }
  const std::string source = disk.save("tone.wav", wav(tone));
  const std::string quiet = disk.save("quiet.wav", wav(Frames(size_t(kRate) * 2 * 60)));
  if (std::system(("flac -s -f -o " + disk.file("t.flac") + " " + source + " && flac -s -f -o " +
                   disk.file("q.flac") + " " + quiet).c_str()) == 0) {
    const Bytes flac = read(disk.file("t.flac"));
    Bytes total = flac, rate = flac, block = flac, unknown = read(disk.file("q.flac"));
    total[21] |= 0x0F, std::fill(&total[22], &total[26], 0xFF);  // 2^36 - 1 frames
    rate[18] = 0, rate[19] = 0, rate[20] &= 0x0F;                  // 0 Hz
    block[8] = block[9] = 0;                                       // blocks of 0 frames
    Bytes three = flac;                                            // 3 channels, frames of 2
    three[20] = uint8_t((three[20] & 0xF1) | 2 << 1);
    std::fill(&unknown[21], &unknown[26], 0), unknown[21] = uint8_t(flac[21] & 0xF0);
    files.insert(files.end(), {{"good.flac", flac}, {"s-total.flac", total}, {"rate.flac", rate},
                               {"block.flac", block}, {"s-unknown-length.flac", unknown},
                               {"three.flac", three}});
  }
  if (std::system(("oggenc -Q -o " + disk.file("t.ogg") + " " + source + " && oggenc -Q -o " +
                   disk.file("q.ogg") + " " + quiet).c_str()) == 0) {
    const Bytes ogg = read(disk.file("t.ogg"));
    const size_t id = 27 + ogg[26];  // the identification packet: "\x01vorbis", version, ...
    Bytes channels = ogg, rate = ogg, length = ogg, short_length = read(disk.file("q.ogg"));
    ogg_patch(channels, id + 11, 0, 1);
    ogg_patch(rate, id + 12, 0, 4);
    for (Bytes* b : {&length, &short_length}) {
      size_t last = b->size() - 27;
      while (std::memcmp(&(*b)[last], "OggS", 4) != 0) --last;
      ogg_patch(*b, last + 6, b == &length ? uint64_t{1} << 50 : 1000, 8);
    }
    files.insert(files.end(), {{"good.ogg", ogg}, {"channels.ogg", channels}, {"rate.ogg", rate},
                               {"s-length.ogg", length}, {"s-short-length.ogg", short_length}});
  }
  SOUND warm(source);
  MUSIC warm_track(source);
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const long before = status_kb("VmRSS:");
  int loaded = 0;
  for (const auto& [name, bytes] : files) {
    const std::string path = disk.save(name, bytes);
    SOUND s;
    MUSIC m;
    const bool sound = s.LOADFROMFILE(path), track = m.LOADFROMFILE(path);
    std::fprintf(stderr, "%s: sound %d track %d %s\n", name.c_str(), sound, track, LASTERROR());
    if (sound) s.PLAY(), wait_buffers(2), ++loaded;
    if (track) m.PLAY(0), wait_buffers(2), STOPMUSIC(), ++loaded;
    // "good" files load as both, "s-" ones (sound over the cap, cut) stream as a track only.
    const bool good = name.rfind("good", 0) == 0, streams = good || name.rfind("s-", 0) == 0;
    if (sound != good || track != streams || std::strlen(LASTERROR()) < 10) std::exit(2);
  }
  const long grown = status_kb("VmHWM:") - before;
  std::fprintf(stderr, "%zu files, %d loads, peak grew by %ld kB\n", files.size(), loaded, grown);
  std::exit(grown < 64 * 1024 ? 0 : 3);
}
}  // namespace

TEST(Loading, HostileHeadersAreRefusedOrPlayWithinTheMemoryBound) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The sanitizer's quarantine of freed blocks would count as the process's own memory.
  const char* asan = std::getenv("ASAN_OPTIONS");
  PLATFORM::SETENVIRONMENT("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":quarantine_size_mb=0").c_str());
  EXPECT_EXIT(LoadHostileFiles(), testing::ExitedWithCode(0), "peak grew by");
}

// An output that stops taking samples (the disk driver on a full disk) is told once.
TEST(NoDevice, LostOutputIsToldInOneLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  DiskAudio disk;
  const std::string tone = disk.save("tone.wav", wav(sine(440, 0.5, 0.5)));
  PLATFORM::SETENVIRONMENT("SDL_DISKAUDIOFILE", "/dev/full");
  EXPECT_EXIT(
      {
        SOUND s(tone);
        s.PLAY(1, 0, 3);
        usleep(1500000);
        std::exit(s.HANDLE() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "/dev/full\\]\\.\nkastrel: the audio output was lost[^\n]*\n$");
}

// What the sound device says comes from the recording: a game that shows whether it runs silent
// replays frame-exact where the device differs.
TEST(Replay, TheSoundDevicesAnswersComeFromTheRecording) {
  const std::string path = ::testing::TempDir() + "sound.kst";
  const auto play = [](const char* device) {
    PLATFORM::SETENVIRONMENT("SDL_AUDIODRIVER", device);
    test_game::on_frame = [](const test_game::Frame& f) {
      test_game::fill({0, 0, 63, 47}, SILENT() != FALSE ? 0xFFFFFFFFu : 0xFF000000u);
      if (f.pass == 3) ENGINE::SHUTDOWN(FALSE);
    };
    OPENAUDIO();
    test_game::run();
    std::exit(SILENT() != FALSE ? 4 : 0);  // the game's own answer after the session
  };
  EXPECT_EXIT((ENGINE::RECORDSESSION(path), play("no-such-device")), ::testing::ExitedWithCode(4),
              "");
  EXPECT_EXIT((ENGINE::REPLAYSESSION(path, false, true), play("dummy")),
              ::testing::ExitedWithCode(0), "");
}
