#include "kastrel/engine/replay.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
#include "kastrel/base/settings.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/base/timer.h"
#include "kastrel/device/screen.h"
#include "kastrel/engine/detail/session_file.h"
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

// Settings records the writer never makes, each in a pass of one stored block (the recording
// then stops there), refused with a reason of its own.
TEST(SessionFile, RefusesSettingsRecordsWithTheirOwnReasons) {
  const auto varint = [](Bytes& out, uint64_t v) {
    for (; v >= 0x80; v >>= 7) out.push_back(uint8_t(v | 0x80));
    out.push_back(uint8_t(v));
  };
  const auto put32 = [](Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
  };
  const auto file = [&](uint8_t tag, uint8_t state, size_t length) {
    Bytes records{TAG_PASS, 0, tag, state};
    varint(records, length);
    records.resize(records.size() + length, 'x');
    records.insert(records.end(), {TAG_ENDPASS, 0});
    Bytes body, out = SESSIONWRITER::HEADER(), block{0};
    varint(body, records.size());
    body.insert(body.end(), records.begin(), records.end());
    put32(block, uint32_t(body.size()));
    put32(block, uint32_t(body.size()));
    block.insert(block.end(), body.begin(), body.end());
    put32(block, uint32_t(crc32(0, block.data(), uInt(block.size()))));
    out.insert(out.end(), block.begin(), block.end());
    return out;
  };
  std::vector<SESSIONENTRY> s;
  for (const auto& [tag, state, length, says] :
       std::vector<std::tuple<uint8_t, uint8_t, size_t, std::string>>{
           {TAG_LOAD, 0, 3, ""},
           {TAG_SAVE, 0, 3, ""},
           {TAG_LOAD, 1, 0, ""},
           {TAG_SAVE, 1, 0, ""},
           {TAG_LOAD, 0, SESSIONMAXFILE + 1, "a settings load record over 1 MiB"},
           {TAG_SAVE, 0, SESSIONMAXFILE + 1, "a settings save record over 1 MiB"},
           {TAG_LOAD, 1, 2, "a settings load record of no file that carries bytes"},
           {TAG_SAVE, 1, 2, "a settings save record of TRUE that carries bytes"}}) {
    const Bytes bytes = file(tag, state, length);
    CLEARLASTERROR();
    EXPECT_EQ(READSESSION(bytes.data(), bytes.size(), s), says.empty() ? TRUE : FALSE) << says;
    EXPECT_NE(std::string(LASTERROR()).find(says), std::string::npos) << LASTERROR();
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

// The summary a replay leaves in KASTREL_REPLAY_SUMMARY: the frames compared and matched, and
// whether the recording was whole. A recording cut at a block boundary, or without its end mark,
// replays with the game's own status but says so, and fails with EXITCUT where a whole one is
// asked for (KASTREL_REPLAY_WHOLE).
TEST(Replay, SaysHowManyFramesMatchedAndWhetherTheRecordingWasWhole) {
  const std::string path = ::testing::TempDir() + "summary.kst",
                    summary = ::testing::TempDir() + "summary.txt";
  // The game paints another colour from pass FROM on; 0: it is the game of session().
  const auto play = [&](const char* variable, const std::string& file, uint32_t from,
                        const char* whole = nullptr) {
    PLATFORM::SETENVIRONMENT(variable, file.c_str());
    PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_VERIFY", "1");
    PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_SUMMARY", summary.c_str());
    PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_WHOLE", whole);
    test_game::on_frame = [from](const test_game::Frame& f) {
      if (from == 0 && f.pass <= 2) vox_GfxMultikey(30);
      if (from == 0 && f.pass == 1) vox_GfxPadAxis(0, VOX::PAD_LEFTX);
      if (from == 0) return;
      test_game::fill({0, 0, 63, 47},
                      uint32_t(f.pass) >= from ? 0xFF00FF00u : 0xFF000000u + f.pass);
      std::this_thread::sleep_for(std::chrono::milliseconds(12));  // a hash every 10 passes
      if (f.pass == 25) SHUTDOWN(FALSE);
    };
    test_game::run(from != 0);  // as the test above replays session()
    std::exit(0);
  };
  const auto replayed = [&](const std::string& file, uint32_t from, const char* whole, int status,
                            const char* says) {
    std::filesystem::remove(summary);
    EXPECT_EXIT(play("KASTREL_REPLAY", file, from, whole), ::testing::ExitedWithCode(status), says);
    return kastrel_testing::read_file(summary);
  };
  EXPECT_EXIT(play("KASTREL_RECORD", path, 99), ::testing::ExitedWithCode(0), "");
  const std::string bytes = kastrel_testing::read_file(path);
  std::vector<SESSIONENTRY> s;
  ASSERT_EQ(READSESSION(bytes.data(), bytes.size(), s), TRUE) << LASTERROR();
  const auto hashes = std::count_if(
      s.begin(), s.end(), [](const SESSIONENTRY& e) { return e.KIND == SESSIONKIND::HASH; });
  ASSERT_GE(hashes, 3);
  const std::string n = std::to_string(hashes);
  EXPECT_EQ(replayed(path, 99, nullptr, 0, ""),
            n + " frames compared, " + n + " equal; the recording is whole\n");
  EXPECT_EQ(replayed(path, 99, "1", 0, ""),
            n + " frames compared, " + n + " equal; the recording is whole\n");
  // From pass 15 on another colour: the hashes of pass 10 alone match.
  EXPECT_EQ(replayed(path, 15, nullptr, EXITDIVERGED, "differ"),
            n + " frames compared, 1 equal; the recording is whole\n");

  // Cut at its last block boundary: the passes of the blocks before it are left.
  size_t last = SESSIONHEADERSIZE, next = last;
  while (next < bytes.size()) {
    last = next;
    next += 9 +
            (uint8_t(bytes[next + 1]) | uint8_t(bytes[next + 2]) << 8 |
             uint8_t(bytes[next + 3]) << 16 | size_t(uint8_t(bytes[next + 4])) << 24) +
            4;
  }
  const std::string cut = saved(Bytes(bytes.begin(), bytes.begin() + ptrdiff_t(last)), "cut.kst");
  SESSIONREADER reader;
  ASSERT_EQ(reader.OPEN(cut), TRUE) << LASTERROR();
  const std::string passes = std::to_string(reader.PASSES()),
                    compared = std::to_string(std::count_if(
                        s.begin(), s.end(), [&, pass = 0](const SESSIONENTRY&e) mutable {
                          pass += e.KIND == SESSIONKIND::PASS;
                          return e.KIND == SESSIONKIND::HASH && pass <= reader.PASSES();
                        }));
  reader.CLOSE();
  EXPECT_EQ(replayed(cut, 99, nullptr, 0, ""),
            compared + " frames compared, " + compared +
                " equal; the recording is cut short after pass " + passes + "\n");
  const std::string says =
      "kastrel: the recording is cut short after pass " + passes + " .*a whole one was asked for";
  EXPECT_EQ(replayed(cut, 99, "1", EXITCUT, says.c_str()),
            compared + " frames compared, " + compared +
                " equal; the recording is cut short after pass " + passes + "\n");
  // A recording without its end mark (its last block not the last).
  const std::string unended = saved(session(false), "unended.kst");
  EXPECT_EQ(replayed(unended, 0, nullptr, 0, ""),
            "0 frames compared, 0 equal; the recording is cut short after pass 2\n");
  EXPECT_EQ(replayed(unended, 0, "1", EXITCUT, "cut short after pass 2"),
            "0 frames compared, 0 equal; the recording is cut short after pass 2\n");
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
  const auto play = [&folder](bool replay) {
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
    // After the loop too: the replay's own folder, and a game that asks knows it is replayed.
    const bool moved = PATHS::SAVES("kastrel-tests", "best") != folder;
    if (replay) {
      SETTINGS late;
      late.SETINT("best", 999);
      late.SAVE(PATHS::SAVES("kastrel-tests", "best") + "best.txt");
    }
    std::exit((REPLAYING() != FALSE) == replay && moved == replay ? 0 : 9);
  };
  std::ofstream(file, std::ios::binary) << "best=5\n";
  EXPECT_EXIT((RECORDSESSION(path), play(false)), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(kastrel_testing::read_file(file), "best=6\n");
  std::ofstream(file, std::ios::binary) << "best=100\n";
  EXPECT_EXIT((REPLAYSESSION(path, false, true), play(true)), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(kastrel_testing::read_file(file), "best=100\n");
  std::filesystem::remove(file);
  EXPECT_EXIT((REPLAYSESSION(path, false, true), play(true)), ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(std::filesystem::exists(file));
}
