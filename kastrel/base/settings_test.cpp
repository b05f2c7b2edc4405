#include "kastrel/base/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <thread>
#include <random>

#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
#include "kastrel/base/testing/process.h"

using namespace KASTREL;
using kastrel_testing::read_file;

namespace {

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(Settings, TypedValuesDefaultsAndTheFileRoundTrip) {
  kastrel_testing::TempDir dir;
  const std::string file = dir.file("settings.txt");
  SETTINGS s(file);  // missing: empty, no error
  EXPECT_TRUE(s.VALUES().empty());
  EXPECT_TRUE(s.SETINT("best", -2147483647 - 1) && s.SETFLOAT("volume", 0.1f) &&
              s.SETBOOL("full", true) && s.SETSTRING("name", "é\\x\nline=2"));
  for (const char* key : {"", "a=b", "#c", " d", "e\n"}) EXPECT_FALSE(s.SETINT(key, 1)) << key;
  ASSERT_TRUE(s.SAVE()) << LASTERROR();
  EXPECT_EQ(read_file(file), "best=-2147483648\nfull=true\nname=é\\\\x\\nline=2\nvolume=0.1\n");
  SETTINGS t;
  ASSERT_TRUE(t.LOAD(file));
  EXPECT_EQ(t.GETINT("best", 0), INT32_MIN);
  EXPECT_EQ(t.GETFLOAT("volume", 0), 0.1f);
  // Floats are written as the shortest text that reads back the same: never longer than %g with
  // the fewest digits that do.
  std::mt19937 random(8);
  for (int i = 0; i < 3000; ++i) {
    uint32_t bits = i < 4 ? std::array<uint32_t, 4>{0x3F4CCCCD, 0x00000001, 0x7F7FFFFF, 0x80000000}[i] : random();
    float v;
    std::memcpy(&v, &bits, 4);
    if (!std::isfinite(v)) continue;
    ASSERT_TRUE(t.SETFLOAT("f", v));
    char g[32];
    for (int digits = 1; std::snprintf(g, sizeof g, "%.*g", digits, double(v)), std::strtof(g, nullptr) != v;) ++digits;
    const std::string text = t.GETSTRING("f", "");
    const float back = t.GETFLOAT("f", 1);
    EXPECT_EQ(std::memcmp(&back, &v, 4), 0) << text;
    EXPECT_LE(text.size(), std::strlen(g)) << text << " against " << g;
  }
  EXPECT_TRUE(t.SETFLOAT("f", 0.8f) && t.GETSTRING("f", "") == "0.8");
  EXPECT_TRUE(t.GETBOOL("full", false));
  EXPECT_EQ(t.GETSTRING("name", ""), "é\\x\nline=2");
  // Missing keys and text of another type give the default.
  write_file(file, "# comment\r\n\nn=12x\nbig=2147483648\nf=nan\nb=maybe\nyes=on\nempty=\n");
  ASSERT_TRUE(t.LOAD(file));
  EXPECT_EQ(t.GETINT("n", 7) + t.GETINT("big", 7) + t.GETINT("missing", 7), 21);
  EXPECT_EQ(t.GETFLOAT("f", 2.5f), 2.5f);
  EXPECT_TRUE(t.GETBOOL("b", true) && t.GETBOOL("yes", false) && !t.GETBOOL("missing", false));
  EXPECT_EQ(t.GETSTRING("empty", "x"), "");
  // A line that is not key=value refuses the file, saying where.
  write_file(file, "a=1\nnot a setting\n");
  EXPECT_FALSE(t.LOAD(file));
  EXPECT_NE(std::string(LASTERROR()).find("line 2"), std::string::npos) << LASTERROR();
  EXPECT_TRUE(t.VALUES().empty());
  EXPECT_FALSE(SETTINGS().SAVE());  // no file named
  // A folder that cannot take the file: the reason, and nothing left behind.
  EXPECT_FALSE(s.SAVE(dir.file("no/such/folder/settings.txt")));
  EXPECT_NE(std::string(LASTERROR()).find("No such file"), std::string::npos) << LASTERROR();
}

// What is not a small regular file is refused at once, with the reason: a FIFO (never waited
// on: a watchdog frees a LOAD stuck on it), a device that never ends, a file over the cap (from
// its size: the sparse 4 GiB file is never read).
TEST(Settings, LoadRefusesFifosDevicesAndFilesOverTheCap) {
  kastrel_testing::TempDir dir;
  const std::string fifo = dir.file("fifo.txt"), big = dir.file("big.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  write_file(big, "a=1\n");
  ASSERT_EQ(truncate(big.c_str(), off_t{4} << 30), 0);
  std::atomic<bool> done{false}, stuck{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 50 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!done) stuck = true, close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
  });
  for (const auto& [file, says] : {std::pair{fifo, "FIFO"}, {std::string("/dev/zero"), "device"},
                                   {big, "over the cap of 1048576 (SETMAXSETTINGSBYTES)"}}) {
    SETTINGS s;
    EXPECT_FALSE(s.LOAD(file)) << file;
    EXPECT_NE(std::string(LASTERROR()).find(says), std::string::npos) << LASTERROR();
  }
  done = true;
  watchdog.join();
  EXPECT_FALSE(stuck) << "LOAD blocked on a FIFO";
  SETTINGS s;
  write_file(big, "a=1\n");
  SETMAXSETTINGSBYTES(2);
  EXPECT_FALSE(s.LOAD(big));
  SETMAXSETTINGSBYTES(0);
  EXPECT_TRUE(s.LOAD(big) && s.GETINT("a", 0) == 1) << LASTERROR();
  SETMAXSETTINGSBYTES(DEFAULTMAXSETTINGSBYTES);
}

TEST(Paths, SavesFolderIsMadeOnFirstUseAndDataFallsBackToTheWorkingDirectory) {
  kastrel_testing::TempDir dir;
  setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
  EXPECT_EQ(PATHS::SAVES("org", "app"), dir.file("data/org/app/"));
  EXPECT_EQ(PATHS::SAVES("org", "app"), dir.file("data/org/app/"));  // there already
  setenv("XDG_DATA_HOME", "relative", 1);
  setenv("HOME", dir.path().c_str(), 1);
  EXPECT_EQ(PATHS::SAVES("o", "a"), dir.file(".local/share/o/a/"));
  for (const auto& [org, app] : {std::pair{"", "a"}, {"o", ".."}, {"o/p", "a"}}) {
    CLEARLASTERROR();
    EXPECT_EQ(PATHS::SAVES(org, app), "");
    EXPECT_STRNE(LASTERROR(), "");
  }
  write_file(dir.file("file"), "");
  setenv("XDG_DATA_HOME", dir.file("file").c_str(), 1);
  EXPECT_EQ(PATHS::SAVES("o", "a"), "");
  EXPECT_NE(std::string(LASTERROR()).find("Not a directory"), std::string::npos) << LASTERROR();
  // A test binary has no share/ folder of its own.
  EXPECT_EQ(PATHS::DATA(), "./");
}

// Two sets of settings saved in turn by a child until it is killed at a random moment: the file
// always reads as one set or the other, whole.
TEST(Settings, AKilledSaveLeavesTheOldOrTheNewFile) {
  kastrel_testing::TempDir dir;
  const std::string file = dir.file("settings.txt");
  SETTINGS sets[2];
  for (int i = 0; i < 2; ++i) {
    for (int k = 0; k < 200; ++k) sets[i].SETINT("key" + std::to_string(k), i * 1000 + k);
    ASSERT_TRUE(sets[i].SAVE(file));
  }
  std::mt19937 rng(7);
  int killed = 0;
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      for (int i = 0; i < 1000; ++i)
        if (!sets[i % 2].SAVE()) _exit(3);
      _exit(0);
    }
    ASSERT_GT(child, 0);
    usleep(useconds_t(std::uniform_int_distribution<int>(0, 20000)(rng)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    killed += WIFSIGNALED(status);
    SETTINGS read;
    ASSERT_TRUE(read.LOAD(file)) << LASTERROR();
    EXPECT_TRUE(read.VALUES() == sets[0].VALUES() || read.VALUES() == sets[1].VALUES())
        << "round " << round << ": " << read.VALUES().size() << " keys";
  }
  EXPECT_GT(killed, 10) << "the saves ended before most kills";
}

// On a full disk (a small tmpfs, filled) the save fails with the reason and the old file stays.
TEST(Settings, AFullDiskKeepsTheOldFileAndSaysWhy) {
  kastrel_testing::TempDir dir;
  if (mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
  const std::string file = dir.file("settings.txt");
  SETTINGS s;
  s.SETSTRING("name", "old");
  ASSERT_TRUE(s.SAVE(file));
  const std::string old = read_file(file);
  {
    std::ofstream filler(dir.file("filler"), std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), std::streamsize(block.size())) && filler.flush()) {
    }
  }
  s.SETSTRING("name", std::string(20000, 'n'));
  EXPECT_FALSE(s.SAVE());
  EXPECT_NE(std::string(LASTERROR()).find("No space left"), std::string::npos) << LASTERROR();
  EXPECT_EQ(read_file(file), old);
  EXPECT_NE(access(dir.file("settings.txt.saving").c_str(), F_OK), 0);
  umount2(dir.path().c_str(), MNT_DETACH);
}

}  // namespace
