// Settings and paths where only Linux can set the scene: FIFOs, devices, sparse files, a killed
// child, a full tmpfs, the home folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
#include "kastrel/base/platform.h"
#include "kastrel/base/settings.h"
#include "kastrel/base/testing/process.h"

using namespace KASTREL;
using kastrel_testing::read_file;

namespace {

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

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
    for (int i = 0; i < 50 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!done) stuck = true, close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
  });
  for (const auto& [file, says] : {std::pair{fifo, "FIFO"},
                                   {std::string("/dev/zero"), "device"},
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

TEST(Paths, WithoutAnAbsoluteXdgDataHomeSavesGoUnderHome) {
  kastrel_testing::TempDir dir;
  PLATFORM::SETENVIRONMENT("XDG_DATA_HOME", "relative");
  PLATFORM::SETENVIRONMENT("HOME", dir.path().c_str());
  EXPECT_EQ(PATHS::SAVES("o", "a"), dir.file(".local/share/o/a/"));
  write_file(dir.file("file"), "");
  PLATFORM::SETENVIRONMENT("XDG_DATA_HOME", dir.file("file").c_str());
  EXPECT_EQ(PATHS::SAVES("o", "a"), "");
  EXPECT_NE(std::string(LASTERROR()).find("Not a directory"), std::string::npos) << LASTERROR();
  SETTINGS s;
  EXPECT_FALSE(s.SAVE(dir.file("no/such/folder/settings.txt")));
  EXPECT_NE(std::string(LASTERROR()).find("No such file"), std::string::npos) << LASTERROR();
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
