// Sounds and music playing on the mixer's thread while the frame loop runs, and copies of a
// sound let go on another thread.
#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <thread>

#include "kastrel/audio/audio.h"
#include "kastrel/audio/testing/disk_audio.h"
#include "kastrel/engine/testing/game.h"

using namespace KASTREL::AUDIO;
using namespace audio_testing;

TEST(AudioThreads, EffectsAndMusicPlayWhileTheFrameLoopRuns) {
  static DiskAudio disk;
  static SOUND tone(disk.save("tone.wav", wav(sine(440, 0.05, 0.5))));
  static MUSIC track(disk.save("music.wav", wav(sine(220, 1, 0.3))));
  static std::atomic<bool> done{false};
  static std::thread sharer;
  ASSERT_NE(tone.HANDLE(), nullptr);
  VOICES(4);
  test_game::on_show = [] {
    track.PLAY(FOREVER, 0.1f);
    SOUND copy = tone;  // the other thread's copies come and go from this one
    sharer = std::thread([copy] {
      while (!done) SOUND(copy).HOLDERS();
    });
  };
  test_game::on_frame = [](const test_game::Frame& f) {
    EXPECT_TRUE(tone.PLAY(float(f.pass % 5) / 4, float(f.pass % 3) - 1, f.pass % 2));
    if (f.pass % 7 == 0) tone.STOP();
    if (f.pass % 11 == 0) PAUSEALL(), MUSICVOLUME(0.5f), RESUMEALL();
    if (f.pass % 13 == 0) MASTERVOLUME(float(f.pass % 3) / 2);
    tone.PLAYING();
    if (f.pass == 150) KASTREL::ENGINE::SHUTDOWN(KASTREL::TRUE);
  };
  test_game::run();
  done = true;
  sharer.join();
  // The mixer runs on its own clock: a fast loop may end before it has written anything.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(MUSICPLAYING());
  STOPMUSIC(0.05f);
  const Frames out = disk.output();
  EXPECT_GT(peak(out, 0, count(out), 0), 1000);
  EXPECT_EQ(tone.HOLDERS(), 1);
}
