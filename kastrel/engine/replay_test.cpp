#include "kastrel/engine/replay.h"
#include "kastrel/base/platform.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <thread>

#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
#include "kastrel/base/settings.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/base/timer.h"
#include "kastrel/device/screen.h"
#include "kastrel/engine/session_file.h"
#include "kastrel/engine/testing/game.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;
using Bytes = std::vector<uint8_t>;

// The session of test_game::run(): its mode, the pointer reading and seed of INITIALIZE, the
// frame loop's first reading, then a key press (with key 30 found held, twice: the second is
// left out of the file) and an idle pass, half a second each, a block each.
Bytes session(bool ended, int32_t width = 64) {
  SESSIONWRITER w;
  Bytes out = SESSIONWRITER::HEADER();
  const auto block = [&](bool last) {
    const Bytes& b = w.BLOCK(last);
    out.insert(out.end(), b.begin(), b.end());
  };
  const int32_t pointer[6] = {-1, -1, -1, -1, -1, 1};
  w.MODE(width, 48, FALSE, MODE_NOSWITCH);
  w.READING(READMOUSE, pointer);
  w.CLOCK(1e4);
  w.CLOCK(1e4);
  const int32_t shown[2] = {2, 0};  // the frame loop counts the pictures shown (each pass)
  w.READING(READDISPLAY, shown);
  VOX::EVENT key{};
  key.TYPE = VOX::KEYPRESSED;
  key.SCANCODE = 30;
  for (int pass = 1; pass <= 2; ++pass) {
    w.CLOCK(1e4 + 0.5 * pass);
    w.PASS(pass == 1 ? &key : nullptr);
    w.READING(READDISPLAY, shown);  // the same answer: left out
    const int32_t held[2] = {30, -1};  // the frame handler asks whether key 30 is held
    const int32_t stick[4] = {3, 0, VOX::PAD_LEFTX, 12345};  // and where the left stick is
    w.READING(READMULTIKEY, held);
    if (pass == 1) w.READING(READPAD, stick);
    w.ENDPASS();
    if (ended && pass == 2) w.HASH(0);  // the last pass's frame
    block(false);
  }
  if (ended) w.END(), block(true);
  return out;
}

std::string saved(const Bytes& bytes, const std::string& name = "session.kst") {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

TEST(SessionFile, ReadsWhatTheWriterWroteAndRefusesDamagedFiles) {
  std::vector<SESSIONENTRY> s;
  const Bytes good = session(true);
  ASSERT_EQ(READSESSION(good.data(), good.size(), s), TRUE) << LASTERROR();
  ASSERT_EQ(s.size(), 15u) << "the second reading of key 30 is left out";
  EXPECT_EQ(s[5].KIND, SESSIONKIND::CLOCK);
  EXPECT_EQ(s[5].CLOCK, 1e4 + 0.5);  // exact in whole ticks
  EXPECT_EQ(s[12].KIND, SESSIONKIND::ENDPASS);
  EXPECT_EQ(s[12].SKIP, 2);
  // Cut after a whole block: what a crash leaves, read as a recording the game never closed.
  const Bytes cut = session(false);
  ASSERT_EQ(READSESSION(cut.data(), cut.size(), s), TRUE) << LASTERROR();
  EXPECT_NE(s.back().KIND, SESSIONKIND::END);

  const auto changed = [&](size_t at, int to) {
    Bytes b = good;
    b[at] = uint8_t(to);
    if (at < 12) {  // a sound header checksum, so the check behind it is reached
      const uint32_t crc = uint32_t(crc32(0, b.data(), 12));
      for (int i = 0; i < 4; ++i) b[size_t(12 + i)] = uint8_t(crc >> (8 * i));
    }
    return b;
  };
  Bytes longer = good;
  longer.push_back(0);
  struct Case {
    const char* what;
    Bytes bytes;
    const char* says;
  } cases[] = {
      {"empty", {}, "not a session"},
      {"foreign", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "not a"},
      {"header part", Bytes(good.begin(), good.begin() + 10), "truncated"},
      {"header only", Bytes(good.begin(), good.begin() + 16), "holds no pass"},
      {"cut in a block", Bytes(good.begin(), good.end() - 12), "truncated"},
      {"newer", changed(8, 4), "newer"},
      {"older", changed(8, 1), "older build"},
      {"header flipped", changed(13, good[13] ^ 1), "header's checksum"},
      {"byte flipped", changed(30, good[30] ^ 4), "damaged"},
      {"trailing bytes", longer, "follow"},
  };
  for (const Case& c : cases) {
    CLEARLASTERROR();
    s.assign(3, SESSIONENTRY{});
    EXPECT_EQ(READSESSION(c.bytes.data(), c.bytes.size(), s), FALSE) << c.what;
    EXPECT_NE(std::string(LASTERROR()).find(c.says), std::string::npos)
        << c.what << ": " << LASTERROR();
    EXPECT_TRUE(s.empty()) << c.what;
  }
  // Format 2 held no display readings; its hashes took the pixels' fourth byte too, which
  // format 3 leaves out.
  const Bytes older = changed(8, 2);
  EXPECT_EQ(READSESSION(older.data(), older.size(), s), FALSE);
  EXPECT_NE(std::string(LASTERROR()).find("unknown reading kind"), std::string::npos);
  const uint32_t frame[2][2] = {{0xFF102030u, 0x00405060u}, {0x00102030u, 0x7F405060u}};
  EXPECT_EQ(FRAMEHASH(frame[0], 2, 1, 8), FRAMEHASH(frame[1], 2, 1, 8));
  EXPECT_NE(FRAMEHASH(frame[0], 2, 1, 8, 2), FRAMEHASH(frame[1], 2, 1, 8, 2));
  // Frame hashes where the recorder puts them, or refused: after the tenth passes a tenth of a
  // second apart, and after the last.
  const auto hashed = [](std::vector<int32_t> at) {
    SESSIONWRITER w;
    Bytes out = SESSIONWRITER::HEADER();
    w.MODE(64, 48, FALSE, 0);
    for (int32_t pass = 1; pass <= 31; ++pass) {
      w.CLOCK(pass <= 20 ? 0.25 * pass : 5 + 0.001 * pass);  // pass 30 comes too soon
      w.PASS(nullptr);
      w.ENDPASS();
      if (std::find(at.begin(), at.end(), pass) != at.end()) w.HASH(0);
    }
    w.END();
    const Bytes& b = w.BLOCK(true);
    out.insert(out.end(), b.begin(), b.end());
    return out;
  };
  for (const auto& [at, says] : std::vector<std::pair<std::vector<int32_t>, std::string>>{
           {{10, 20, 31}, ""},
           {{10, 20}, "last pass has no frame hash"},
           {{10, 31}, "missing"},
           {{}, "missing"},
           {{10, 20, 30, 31}, "neither due"}}) {
    for (uint8_t format : {2, 3}) {  // format 2 follows the same rule
      Bytes file = hashed(at);
      file[8] = format;
      const uint32_t crc = uint32_t(crc32(0, file.data(), 12));
      for (int i = 0; i < 4; ++i) file[size_t(12 + i)] = uint8_t(crc >> (8 * i));
      CLEARLASTERROR();
      EXPECT_EQ(READSESSION(file.data(), file.size(), s), says.empty() ? TRUE : FALSE) << says;
      EXPECT_NE(std::string(LASTERROR()).find(says), std::string::npos) << LASTERROR();
    }
  }
}

TEST(Replay, FeedsTheRecordingAndClosesTheGameWhereACutRecordingEnds) {
  ASSERT_EQ(REPLAYSESSION(saved(session(false))), TRUE) << LASTERROR();
  int32_t held = 0, stick = 0;
  test_game::on_frame = [&held, &stick](const test_game::Frame& f) {
    if (f.pass <= 2) held += vox_GfxMultikey(30);
    if (f.pass == 1) stick = vox_GfxPadAxis(0, VOX::PAD_LEFTX);
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(test_game::run(false), TRUE);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("kastrel: the recording was cut short after pass 2"), std::string::npos)
      << said;
  EXPECT_EQ(stick, 12345) << "the recorded stick, though the null driver reads no pads";
  EXPECT_EQ(held, -2) << "the recorded key state twice, though the null driver has no keyboard";
  ASSERT_EQ(test_game::frames.size(), 3u);
  EXPECT_EQ(test_game::frames[0].elapsed, 0.5f);
  EXPECT_EQ(test_game::frames[0].input, INPUTEVENT::KEYPRESS);
  EXPECT_EQ(test_game::frames[0].event.SCANCODE, 30);
  EXPECT_EQ(test_game::frames[1].input, INPUTEVENT::NONE);
  EXPECT_EQ(test_game::frames[2].elapsed, 0.0f);
  EXPECT_EQ(test_game::frames[2].event.TYPE, VOX::CLOSEREQUESTED);
  EXPECT_NE(vox_Timer(), 1e4 + 1.0) << "the real clock is back after the replay";
}

// Divergence, and a damaged file named in KASTREL_REPLAY, each with its status and message.
TEST(Replay, StopsWithItsOwnStatusWhereTheGameDoesOtherThanRecorded) {
  Bytes damaged = session(true);
  damaged[30] ^= 1;
  struct Case {
    Bytes file;
    bool extra_reading;
    int status;
    const char* says;
  } cases[] = {{session(true, 320), false, EXITDIVERGED, "320 x 48"},
               {session(true), true, EXITDIVERGED, "clock reading"},
               {session(false), true, EXITDIVERGED, "clock reading"},
               {damaged, false, EXITBADSESSION, "kastrel: .*diverging.kst: damaged"}};
  for (const Case& c : cases) {
    const std::string path = saved(c.file, "diverging.kst");  // tests run side by side
    EXPECT_EXIT(
        {
          PLATFORM::SETENVIRONMENT("KASTREL_REPLAY", path.c_str());
          if (c.extra_reading) test_game::on_frame = [](const test_game::Frame&) { vox_Timer(); };
          test_game::run();
          std::exit(0);
        },
        ::testing::ExitedWithCode(c.status), c.says);
  }
}

// A game that paints what an outside file says: from the pass it names on, another colour. The
// replay of a recording made with another file finds the first hashed frame that differs.
TEST(Replay, AFrameThatDiffersFromItsRecordedHashStopsTheReplay) {
  const std::string path = ::testing::TempDir() + "outside.kst";
  const std::string outside = saved(Bytes{'9', '9'}, "outside.txt");
  const auto play = [&](const char* variable, const char* from) {
    saved(Bytes(from, from + std::strlen(from)), "outside.txt");
    PLATFORM::SETENVIRONMENT(variable, path.c_str());
    test_game::on_frame = [&outside](const test_game::Frame& f) {
      std::ifstream in(outside);
      int32_t changes = 0;
      in >> changes;
      test_game::fill({0, 0, 63, 47}, f.pass >= changes ? 0xFF00FF00u : 0xFF000000u + f.pass);
      std::this_thread::sleep_for(std::chrono::milliseconds(12));  // a hash every 10 passes
      if (f.pass == 25) SHUTDOWN(FALSE);
    };
    test_game::run();
    std::exit(0);
  };
  EXPECT_EXIT(play("KASTREL_RECORD", "99"), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(play("KASTREL_REPLAY", "99"), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(play("KASTREL_REPLAY", "15"), ::testing::ExitedWithCode(EXITDIVERGED),
              "kastrel: replay diverged at pass 20: its frame differs from the recorded one");
  PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_VERIFY", "1");
  EXPECT_EXIT(play("KASTREL_REPLAY", "15"), ::testing::ExitedWithCode(EXITDIVERGED),
              "pass 20: the frame differs.*\n.*pass 25: the frame differs.*\n.*frames of 2 "
              "passes differ from the recorded ones, the first at pass 20");
}

}  // namespace

// A game that keeps a best score with SETTINGS: its replay reads the score it found when
// recorded, whatever the file holds now, writes nothing there, and names a folder of its own.
TEST(Replay, NeverReadsOrWritesThePlayersFiles) {
  const std::string home = ::testing::TempDir() + "xdg", path = ::testing::TempDir() + "best.kst";
  PLATFORM::SETENVIRONMENT("XDG_DATA_HOME", home.c_str());
  PLATFORM::SETENVIRONMENT("APPDATA", home.c_str());
  const std::string folder = PATHS::SAVES("kastrel-tests", "best"), file = folder + "best.txt";
  ASSERT_NE(folder, "") << LASTERROR();
  const auto play = [&folder] {
    test_game::on_frame = [&folder](const test_game::Frame& f) {
      static SETTINGS scores;
      static int32_t best = 0;
      if (f.pass == 1) scores.LOAD(PATHS::SAVES("kastrel-tests", "best") + "best.txt");
      if (f.pass == 1) best = scores.GETINT("best", 0);
      if (f.pass == 3) scores.SETINT("best", best + 1), best += scores.SAVE() == TRUE ? 10 : 20;
      test_game::fill({0, 0, 63, 47}, 0xFF000000u | uint32_t(best));
      if (f.pass == 5) SHUTDOWN(FALSE);
    };
    test_game::run();
    // The replay's own folder, and a game that asks knows it is replayed.
    const bool replayed = REPLAYING() != FALSE;
    std::exit(replayed == (PATHS::SAVES("kastrel-tests", "best") != folder) ? 0 : 9);
  };
  std::ofstream(file, std::ios::binary) << "best=5\n";
  EXPECT_EXIT((RECORDSESSION(path), play()), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(kastrel_testing::read_file(file), "best=6\n");
  std::ofstream(file, std::ios::binary) << "best=100\n";
  EXPECT_EXIT((REPLAYSESSION(path, false, true), play()), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(kastrel_testing::read_file(file), "best=100\n");
  std::filesystem::remove(file);
  EXPECT_EXIT((REPLAYSESSION(path, false, true), play()), ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(std::filesystem::exists(file));
}
