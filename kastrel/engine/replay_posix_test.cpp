// Sessions where only Linux can set the scene: FIFOs, devices, signals, a full tmpfs.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/engine/detail/session_file.h"
#include "kastrel/engine/replay.h"
#include "kastrel/engine/testing/game.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

TEST(SessionFile, WhatIsNotARegularFileIsRefusedWithTheReason) {
  // What is not a regular file, or cannot be read, is refused with the reason.
  const std::string fifo = ::testing::TempDir() + "session.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600) == 0 || errno == EEXIST, true);
  for (const auto& [file, says] :
       std::vector<std::pair<std::string, std::string>>{{"/no/such/session.kst", "No such file"},
                                                        {::testing::TempDir(), "folder"},
                                                        {fifo, "FIFO"},
                                                        {"/dev/zero", "device"},
                                                        {"/proc/self/mem", "cannot read"}}) {
    SESSIONREADER reader;
    EXPECT_EQ(reader.OPEN(file), FALSE) << file;
    EXPECT_NE(std::string(LASTERROR()).find(says), std::string::npos) << LASTERROR();
  }
}

// A signal asks a recording game to close: it ends normally and the file gets its end mark. A
// second ends it at once, and the file keeps its whole blocks.
TEST(Record, ASignalClosesTheGameASecondEndsItAtOnce) {
  const std::string path = ::testing::TempDir() + "signalled.kst";
  const auto play = [&](int signals) {
    ASSERT_EQ(RECORDSESSION(path), TRUE) << LASTERROR();
    test_game::on_frame = [signals](const test_game::Frame& f) {
      for (int i = 0; f.pass == 3 && i < signals; ++i) std::raise(i == 0 ? SIGTERM : SIGINT);
    };
    test_game::run();
    std::exit(0);
  };
  std::vector<SESSIONENTRY> s;
  for (int signals : {1, 2}) {
    if (signals == 1)
      EXPECT_EXIT(play(1), ::testing::ExitedWithCode(0), "");
    else
      EXPECT_EXIT(play(2), ::testing::KilledBySignal(SIGINT), "");
    const std::string bytes = kastrel_testing::read_file(path);
    ASSERT_EQ(READSESSION(bytes.data(), bytes.size(), s), TRUE) << LASTERROR();
    EXPECT_EQ(s.back().KIND, signals == 1 ? SESSIONKIND::END : SESSIONKIND::ENDPASS);
    const bool closed = std::any_of(s.begin(), s.end(), [](const SESSIONENTRY& e) {
      return e.HASEVENT != FALSE && e.EVENT().TYPE == VOX::CLOSEREQUESTED;
    });
    EXPECT_EQ(closed, signals == 1);
  }
}

// A replay stopped by a difference ends through _Exit, past the exit handlers: the folder it
// made for the game's files goes all the same.
TEST(Replay, ADivergedReplayLeavesNoFolderBehind) {
  const std::string path = ::testing::TempDir() + "diverged.kst",
                    tmp = ::testing::TempDir() + "replay-tmp";
  const auto play = [](uint32_t color) {
    test_game::on_frame = [color](const test_game::Frame& f) {
      if (f.pass == 1) PATHS::SAVES("kastrel-tests", "diverged");
      test_game::fill({0, 0, 63, 47}, color);
      if (f.pass == 5) SHUTDOWN(FALSE);
    };
    test_game::run();
    std::exit(0);
  };
  EXPECT_EXIT((RECORDSESSION(path), play(0xFF000000u)), ::testing::ExitedWithCode(0), "");
  std::filesystem::remove_all(tmp);
  std::filesystem::create_directories(tmp);
  PLATFORM::SETENVIRONMENT("TMPDIR", tmp.c_str());
  EXPECT_EXIT((REPLAYSESSION(path, false, true), play(0xFF123456u)),
              ::testing::ExitedWithCode(EXITDIVERGED), "differ");
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  PLATFORM::SETENVIRONMENT("TMPDIR", nullptr);
}

// A disk that fills up: the game stops with status 6, the file is cut back to its last whole
// block and replays to there, its frames the recorded ones (the replay checks their hashes).
TEST(Record, AFullDiskKeepsEveryWholeBlock) {
  char dir[] = "/tmp/kastrel-full-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  if (mount("tmpfs", dir, "tmpfs", 0, "size=64k") != 0) {
    rmdir(dir);
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  const std::string path = std::string(dir) + "/full.kst";
  const auto play = [&](const char* variable) {
    PLATFORM::SETENVIRONMENT(variable, path.c_str());
    test_game::on_frame = [](const test_game::Frame& f) {
      for (uint32_t i = 0; i < 100; ++i) {  // typed keys that do not pack: they fill the disk
        vox_hTypedKeyAdd(int32_t((uint32_t(f.pass) * 7919u + i) * 2654435761u));
        vox_GetKey();
      }
      test_game::fill({0, 0, 63, 47}, 0xFF000000u + uint32_t(f.pass));
      if (f.pass == 390) SHUTDOWN(FALSE);
    };
    test_game::run();
    std::exit(0);
  };
  EXPECT_EXIT(play("KASTREL_RECORD"), ::testing::ExitedWithCode(EXITBADSESSION),
              "kastrel: cannot write the session file .*full.kst: No space left on device; it "
              "keeps its first [1-9][0-9]* passes");
  const std::string bytes = kastrel_testing::read_file(path);
  std::vector<SESSIONENTRY> s;
  EXPECT_EQ(READSESSION(bytes.data(), bytes.size(), s), TRUE) << LASTERROR();
  EXPECT_GE(std::count_if(s.begin(), s.end(),
                          [](const SESSIONENTRY& e) { return e.KIND == SESSIONKIND::HASH; }),
            1);
  EXPECT_EXIT(play("KASTREL_REPLAY"), ::testing::ExitedWithCode(0), "");
  umount2(dir, MNT_DETACH);
  rmdir(dir);
}

}  // namespace
