// Settings and paths where only Linux can set the scene: FIFOs, devices, sparse files, a killed
// child, a full tmpfs, the home folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/base/paths.h"
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

// Whatever is planted at a name a save may write (a link to a file, a dangling link, a hard
// link, at the old fixed temporary name or at the file itself) is never written through: what it
// leads to keeps its bytes and permissions, and the save lands in the settings file alone.
TEST(Settings, SavesNeverWriteThroughAPlantedLinkOrFile) {
  kastrel_testing::TempDir dir;
  const std::string file = dir.file("settings.txt"), target = dir.file("target");
  const std::string absent = dir.file("absent"), temp = file + ".saving";
  write_file(target, "precious\n");
  ASSERT_EQ(chmod(target.c_str(), 0644), 0);
  const auto plant = [&](int kind) {  // the last keeps the hard link of the one before
    if (kind < 3) unlink(temp.c_str());
    return kind == 0   ? symlink(target.c_str(), temp.c_str())
           : kind == 1 ? symlink(absent.c_str(), temp.c_str())
           : kind == 2 ? link(target.c_str(), temp.c_str())
                       : symlink(target.c_str(), file.c_str());
  };
  for (int kind = 0; kind < 4; ++kind) {
    unlink(file.c_str());
    ASSERT_EQ(plant(kind), 0) << kind;
    SETTINGS s;
    s.SETINT("kind", kind);
    EXPECT_TRUE(s.SAVE(file)) << kind << ": " << LASTERROR();
    struct stat st {};
    EXPECT_EQ(read_file(target), "precious\n") << kind;
    EXPECT_TRUE(stat(target.c_str(), &st) == 0 && (st.st_mode & 0777) == 0644) << kind;
    EXPECT_NE(access(absent.c_str(), F_OK), 0) << kind;
    EXPECT_EQ(read_file(file), "kind=" + std::to_string(kind) + "\n") << kind;
    EXPECT_TRUE(lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) << kind;
  }
  // Nothing of the saves stays behind: the folder holds the file, the target and the plant.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"settings.txt", "settings.txt.saving", "target"}));
}

// Two processes saving one file at once, 1,500 times each, while this one reads it: every read
// is one save whole, every save answers TRUE, and the file ends as the last save to land.
TEST(Settings, TwoProcessesSavingOneFileNeverTearIt) {
  kastrel_testing::TempDir dir;
  const std::string file = dir.file("settings.txt");
  constexpr int kSaves = 1500, kKeys = 100;
  // Save n of process p: every value names p and n, so a mix of two saves shows.
  const auto save_of = [](int p, int n) {
    SETTINGS s;
    for (int k = 0; k < kKeys; ++k)
      s.SETINT("key" + std::to_string(k), p * 10000000 + n * 1000 + k);
    return s;
  };
  const auto start = std::chrono::steady_clock::now();
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      int failed = 0;
      for (int n = 0; n < kSaves; ++n)
        if (!save_of(p, n).SAVE(file) && failed++ == 0) std::fprintf(stderr, "%s\n", LASTERROR());
      if (failed > 0) std::fprintf(stderr, "process %d: %d saves failed\n", p, failed);
      _exit(failed > 0 ? 3 : 0);
    }
    ASSERT_GT(children[p], 0);
  }
  int reads = 0, whole = 0, running = 2, status[2] = {};
  bool ended[2] = {};
  std::string bad;
  const auto deadline = start + std::chrono::seconds(50);
  while (running > 0 && std::chrono::steady_clock::now() < deadline) {
    SETTINGS s;
    const bool loaded = s.LOAD(file);
    ++reads;
    const int first = s.GETINT("key0", -1);
    bool ok = loaded && (s.VALUES().size() == kKeys || s.VALUES().empty());
    for (int k = 0; ok && k < int(s.VALUES().size()); ++k)
      ok = s.GETINT("key" + std::to_string(k), -1) == first + k;
    whole += ok;
    if (!ok && bad.empty())
      bad = loaded ? std::to_string(s.VALUES().size()) + " keys" : LASTERROR();
    for (int p = 0; p < 2; ++p)
      if (!ended[p] && waitpid(children[p], &status[p], WNOHANG) == children[p])
        ended[p] = true, --running;
  }
  for (int p = 0; p < 2; ++p)
    if (!ended[p]) kill(children[p], SIGKILL), waitpid(children[p], &status[p], 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d saves in %.1f s (%.0f a second); %d of %d reads whole\n", 2 * kSaves, seconds,
              2 * kSaves / seconds, whole, reads);
  for (int p = 0; p < 2; ++p)
    EXPECT_TRUE(ended[p] && WIFEXITED(status[p]) && WEXITSTATUS(status[p]) == 0)
        << "process " << p << (ended[p] ? " failed a save" : " was still saving at the deadline");
  EXPECT_EQ(whole, reads) << "first torn or unreadable read: " << bad;
  SETTINGS last;
  ASSERT_TRUE(last.LOAD(file)) << LASTERROR();
  EXPECT_TRUE(last.VALUES() == save_of(0, kSaves - 1).VALUES() ||
              last.VALUES() == save_of(1, kSaves - 1).VALUES());
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
  std::vector<std::string> names;  // no temporary file left behind
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"filler", "settings.txt"}));
  umount2(dir.path().c_str(), MNT_DETACH);
}

}  // namespace
