#include "kastrel/engine/replay.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "kastrel/base/error.h"
#include "kastrel/base/timer.h"
#include "kastrel/engine/session_file.h"
#include "kastrel/engine/testing/game.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;
using Bytes = std::vector<uint8_t>;

// The session of test_game::run(): its mode, the pointer reading and seed of INITIALIZE, the
// frame loop's first reading, then a key press (with key 30 found held) and an idle pass, half a
// second each.
Bytes session(bool ended, int32_t width = 64) {
  SESSIONWRITER w;
  Bytes out = SESSIONWRITER::HEADER();
  const int32_t pointer[6] = {-1, -1, -1, -1, -1, 1};
  w.MODE(width, 48, FALSE, MODE_NOSWITCH);
  w.READING(READMOUSE, pointer);
  w.CLOCK(1e4);
  w.CLOCK(1e4);
  VOX::EVENT key{};
  key.TYPE = VOX::KEYPRESSED;
  key.SCANCODE = 30;
  for (int pass = 1; pass <= 2; ++pass) {
    w.CLOCK(1e4 + 0.5 * pass);
    w.PASS(pass == 1 ? &key : nullptr);
    const int32_t held[2] = {30, -1};  // the frame handler asks whether key 30 is held
    const int32_t stick[4] = {3, 0, VOX::PAD_LEFTX, 12345};  // and where the left stick is
    if (pass == 1) w.READING(READMULTIKEY, held), w.READING(READPAD, stick);
    w.CLOSE(false);
    out.insert(out.end(), w.BLOCK().begin(), w.BLOCK().end());
    w.CLEARBLOCK();
  }
  if (ended) {
    w.CLOSE(true);
    out.insert(out.end(), w.BLOCK().begin(), w.BLOCK().end());
  }
  return out;
}

std::string saved(const Bytes& bytes) {
  const std::string path = ::testing::TempDir() + "session.kst";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

TEST(SessionFile, ReadsWhatTheWriterWroteAndRefusesDamagedFiles) {
  SESSION s;
  const Bytes good = session(true);
  ASSERT_EQ(READSESSION(good.data(), good.size(), s), TRUE) << LASTERROR();
  EXPECT_EQ(s.PASSES, 2);
  EXPECT_EQ(s.ENDED, TRUE);
  EXPECT_EQ(s.ENTRIES[4].KIND, SESSIONKIND::CLOCK);
  EXPECT_EQ(s.ENTRIES[4].CLOCK, 1e4 + 0.5);  // exact through the XOR packing
  // Cut after a whole pass: what a crash leaves, read as a recording the game never closed.
  const Bytes cut = session(false);
  ASSERT_EQ(READSESSION(cut.data(), cut.size(), s), TRUE) << LASTERROR();
  EXPECT_EQ(s.ENDED, FALSE);

  Bytes future = good;
  future[8] = 2;
  future[12] ^= 0xFF;  // whatever the header checksum, a newer format must not be read
  Bytes longer = good;
  longer.push_back(0);
  const auto changed = [&](size_t at, int to) {
    Bytes b = good;
    b[at] = uint8_t(to);
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    const char* says;
  } cases[] = {
      {"empty", {}, "not a session"},
      {"foreign", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "not a"},
      {"header only part", Bytes(good.begin(), good.begin() + 10), "truncated"},
      {"cut in a record", Bytes(good.begin(), good.begin() + 22), "truncated"},
      {"cut in a pass", Bytes(good.begin(), good.end() - 12), "truncated"},
      {"newer", future, "damaged"},
      {"byte flipped", changed(30, good[30] ^ 4), "damaged"},
      {"unknown record", changed(16, 0x7F), "unknown record"},
      {"trailing bytes", longer, "follow"},
  };
  for (const Case& c : cases) {
    CLEARLASTERROR();
    s.PASSES = 9;
    EXPECT_EQ(READSESSION(c.bytes.data(), c.bytes.size(), s), FALSE) << c.what;
    EXPECT_NE(std::string(LASTERROR()).find(c.says), std::string::npos)
        << c.what << ": " << LASTERROR();
    EXPECT_EQ(s.PASSES, 0) << c.what;
  }
  // The version check comes before the checksum check once the header is sound.
  future[12] ^= 0xFF;
  const uint32_t crc = uint32_t(crc32(0, future.data(), 12));
  for (int i = 0; i < 4; ++i) future[size_t(12 + i)] = uint8_t(crc >> (8 * i));
  EXPECT_EQ(READSESSION(future.data(), future.size(), s), FALSE);
  EXPECT_NE(std::string(LASTERROR()).find("newer"), std::string::npos) << LASTERROR();

  EXPECT_EQ(REPLAYSESSION("/no/such/session.kst"), FALSE);
  EXPECT_STRNE(LASTERROR(), "");
}

TEST(Replay, FeedsTheRecordingAndClosesTheGameWhereACutRecordingEnds) {
  ASSERT_EQ(REPLAYSESSION(saved(session(false))), TRUE) << LASTERROR();
  int32_t held = 0, stick = 0;
  test_game::on_frame = [&held, &stick](const test_game::Frame& f) {
    if (f.pass == 1) held = vox_GfxMultikey(30), stick = vox_GfxPadAxis(0, VOX::PAD_LEFTX);
  };
  EXPECT_EQ(test_game::run(false), TRUE);
  EXPECT_EQ(stick, 12345) << "the recorded stick, though the null driver reads no pads";
  EXPECT_EQ(held, -1)
      << "the recorded key state, though the null driver has no keyboard";  // no window asked for:
                                                                            // the null driver all
                                                                            // the same
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
  damaged[20] ^= 1;
  struct Case {
    Bytes file;
    bool extra_reading;
    int status;
    const char* says;
  } cases[] = {{session(true, 320), false, EXITDIVERGED, "320 x 48"},
               {session(true), true, EXITDIVERGED, "clock reading"},
               {session(false), true, EXITDIVERGED, "clock reading"},
               {damaged, false, EXITBADSESSION, "kastrel: .*session.kst: damaged"}};
  for (const Case& c : cases) {
    const std::string path = saved(c.file);
    EXPECT_EXIT(
        {
          setenv("KASTREL_REPLAY", path.c_str(), 1);
          if (c.extra_reading) test_game::on_frame = [](const test_game::Frame&) { vox_Timer(); };
          test_game::run();
          std::exit(0);
        },
        ::testing::ExitedWithCode(c.status), c.says);
  }
}

}  // namespace
