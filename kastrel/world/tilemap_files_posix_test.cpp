// Map files where only Linux sets the scene: FIFOs, devices, links out of the map's folder, and
// hostile maps loaded in a child process under a time and memory limit, so that a hang or a
// crash fails the test, not the run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>

#include "kastrel/base/error.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/world/tilemap.h"

using namespace KASTREL;
using namespace KASTREL::WORLD;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // its shadow memory leaves no room for an address space limit
#else
constexpr bool kSanitized = false;
#endif

const std::string kMaps = KASTREL_SOURCE_DIR "/kastrel/world/testing/maps/";

void write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A kilobyte figure from /proc/self/status ("VmHWM", "VmRSS").
long status_kb(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

struct OUTCOME {
  bool ended = false;  // exited by itself within the time
  std::string said;    // what RUN returned
  double peak_mb = 0;  // the most memory the child took beyond what it had at the start
};

// RUN in a child that has SECONDS and (unsanitized) MEGABYTES of address space.
OUTCOME in_child(const std::function<std::string()>& RUN, int SECONDS, long MEGABYTES) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    alarm(unsigned(SECONDS));
    if (!kSanitized) {
      const rlimit limit{rlim_t(MEGABYTES) << 20, rlim_t(MEGABYTES) << 20};
      setrlimit(RLIMIT_AS, &limit);
    }
    write("/proc/self/clear_refs", "5");  // the peak starts again from here
    const long before = status_kb("VmRSS");
    std::string said = RUN();
    said = std::to_string(double(status_kb("VmHWM") - before) / 1024) + "\n" + said;
    (void)!::write(pipe_fds[1], said.data(), said.size());
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, size_t(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  OUTCOME out;
  out.ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!out.ended) out.said = WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "no exit";
  const size_t line = text.find('\n');
  if (out.ended && line != std::string::npos) {
    out.peak_mb = std::atof(text.c_str());
    out.said = text.substr(line + 1);
  }
  return out;
}

std::string load(const std::string& path) {
  TILEMAP map;
  return map.LOADFROMFILE(path) ? "loaded" : LASTERROR();
}

const std::string kTileset =
    R"(<tileset name="t" tilewidth="16" tileheight="16" tilecount="2" columns="2"><image source="t.png"/></tileset>)";

std::string map_with(const std::string& tilesets) {
  return R"(<map width="1" height="1" tilewidth="16" tileheight="16">)" + tilesets +
         R"(<layer name="l" width="1" height="1"><data encoding="csv">1</data></layer></map>)";
}

// Each refused at once, with the reason, and nothing outside the map's folder opened or
// described; the same through a link that stays inside loads.
TEST(MapFiles, OddFilesAndLinksOutAreRefusedAtOnceWithTheReason) {
  kastrel_testing::TempDir dir;
  write(dir.file("t.png"), kastrel_testing::read_file(kMaps + "props.png"));
  write(dir.file("t.tsx"), kTileset);
  ASSERT_EQ(mkfifo(dir.file("fifo.tmx").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(dir.file("fifo.tsx").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero.tsx").c_str()), 0);
  ASSERT_EQ(symlink("/etc", dir.file("sub").c_str()), 0);
  ASSERT_EQ(symlink(dir.path().c_str(), dir.file("here").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("folder.tmx").c_str(), 0700), 0);
  auto with = [&](const std::string& source) {
    write(dir.file("m.tmx"), map_with("<tileset firstgid=\"1\" source=\"" + source + "\"/>"));
    return dir.file("m.tmx");
  };
  const struct {
    std::string map, tileset, says;  // the map, or a map naming the tileset
  } cases[] = {
      {dir.file("fifo.tmx"), "", "it is a FIFO"},
      {"", "fifo.tsx", "it is a FIFO"},
      {dir.file("folder.tmx"), "", "it is a folder"},
      {"", "zero.tsx", "leads out of the map's folder"},
      {"/dev/zero", "", "it is a device"},
      {"", "sub/passwd", "leads out of the map's folder"},
      {"", "sub/no such file", "leads out of the map's folder"},
      {"", "here/t.tsx", "loaded"},
  };
  for (const auto& c : cases) {
    const std::string map = c.map.empty() ? with(c.tileset) : c.map;
    const auto start = std::chrono::steady_clock::now();
    const OUTCOME o = in_child([&] { return load(map); }, 10, 1024);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(o.ended) << map << ": " << o.said;
    EXPECT_NE(o.said.find(c.says), std::string::npos) << c.tileset << ": " << o.said;
    EXPECT_LT(took.count(), 5) << map;
    // Of the file outside, not even whether it was there or how large.
    EXPECT_EQ(o.said.find("bytes"), std::string::npos) << o.said;
    EXPECT_EQ(o.said.find("XML"), std::string::npos) << o.said;
  }
  // A picture through a link out, too.
  write(dir.file("p.tsx"), std::regex_replace(kTileset, std::regex("t.png"), "sub/passwd"));
  EXPECT_NE(load(with("p.tsx")).find("leads out"), std::string::npos);
}

// 4,096 tilesets name one file whose picture is decoded once for all of them; the caps on the
// bytes read and the pixels decoded each refuse with their reason.
TEST(MapFiles, EachFileIsReadAndDecodedOnceWithinTheLoadsCaps) {
  kastrel_testing::TempDir dir;
  GRAPHICS::BITMAP picture;
  ASSERT_TRUE(picture.CREATE(1024, 1024, 0xFF336699u, 32));
  ASSERT_TRUE(picture.SAVETOFILE(dir.file("t.png"), true)) << LASTERROR();
  write(dir.file("t.tsx"),
        std::regex_replace(kTileset, std::regex("tilecount=\"2\""), "tilecount=\"4096\""));
  std::string refs;
  for (int i = 0; i < 4096; ++i)
    refs += "<tileset firstgid=\"" + std::to_string(1 + i * 4096) + "\" source=\"t.tsx\"/>";
  write(dir.file("m.tmx"), map_with(refs));
  const auto start = std::chrono::steady_clock::now();
  TILEMAP map;
  ASSERT_TRUE(map.LOADFROMFILE(dir.file("m.tmx"))) << LASTERROR();
  std::printf(
      "4096 references to one tileset and its 1024 x 1024 picture load in %.0f ms\n",
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  ASSERT_EQ(map.TILESETS.size(), 4096u);
  for (const TILESET& t : map.TILESETS)
    ASSERT_EQ(t.IMAGE.HANDLE(), map.TILESETS[0].IMAGE.HANDLE()) << "decoded again";
  SETMAXMAPPIXELS(1024 * 1024 - 1);
  EXPECT_FALSE(map.LOADFROMFILE(dir.file("m.tmx")));
  EXPECT_NE(std::string(LASTERROR()).find("(SETMAXMAPPIXELS)"), std::string::npos) << LASTERROR();
  SETMAXMAPPIXELS(DEFAULTMAXMAPPIXELS);
  SETMAXMAPBYTES(100000);  // the map alone is larger
  EXPECT_FALSE(map.LOADFROMFILE(dir.file("m.tmx")));
  EXPECT_NE(std::string(LASTERROR()).find("(SETMAXMAPBYTES)"), std::string::npos) << LASTERROR();
  SETMAXMAPBYTES(0);
  EXPECT_TRUE(map.LOADFROMFILE(dir.file("m.tmx"))) << LASTERROR();
  SETMAXMAPBYTES(DEFAULTMAXMAPBYTES);
}

// Hostile files, each in a child with 60 s and 1 GiB: a reason, never a hang, a crash or an
// exception, and the memory parsing takes beside the file's size.
TEST(MapFiles, HostileMapsFailWithAReasonWithinTimeAndMemory) {
  kastrel_testing::TempDir dir;
  auto repeat = [](const std::string& text, size_t bytes) {
    std::string out;
    out.reserve(bytes + text.size());
    while (out.size() < bytes) out += text;
    return out;
  };
  const size_t size = size_t(8) << 20;
  GRAPHICS::BITMAP big;
  ASSERT_TRUE(big.CREATE(4096, 4096, 0xFF000000u, 32));
  ASSERT_TRUE(big.SAVETOFILE(dir.file("big.png"), true)) << LASTERROR();
  std::string naming_big;
  for (int i = 0; i < 24; ++i)
    naming_big += "<tileset firstgid=\"" + std::to_string(1 + i * 4) +
                  "\" name=\"b\" tilewidth=\"2048\" tileheight=\"2048\" tilecount=\"4\" "
                  "columns=\"2\"><image source=\"big.png\"/></tileset>";
  const struct {
    const char* name;
    std::string text;
  } files[] = {
      {"json-layers.tmj", "{\"layers\":[" + repeat("{},", size) + "{}]}"},
      {"json-layers-32MiB.tmj", "{\"layers\":[" + repeat("{},", (size_t(32) << 20) - 64) + "{}]}"},
      {"json-unknown.tmj", "{\"junk\":[" + repeat("{\"a\":[]},", size) + "{}]}"},
      {"json-numbers.tmj",
       "{\"layers\":[{\"type\":\"tilelayer\",\"width\":1,\"height\":1,\"data\":[" +
           repeat("0,", size) + "0]}]}"},
      {"json-strings.tmj", "{\"properties\":[" + repeat("{\"name\":\"\"},", size) + "{}]}"},
      {"xml-elements.tmx", "<map>" + repeat("<objectgroup/>", size) + "</map>"},
      {"xml-objects.tmx",
       "<map><objectgroup>" + repeat("<object/>", size) + "</objectgroup></map>"},
      {"xml-tiles.tmx", "<map><layer width=\"1\" height=\"1\"><data>" + repeat("<tile/>", size) +
                            "</data></layer></map>"},
      {"24-tilesets-one-4096px-picture.tmx", map_with(naming_big)},
  };
  double worst = 0;
  std::printf("%-36s %10s %10s %7s  %s\n", "file", "bytes", "peak MB", "ratio", "outcome");
  for (const auto& f : files) {
    write(dir.file(f.name), f.text);
    const OUTCOME o = in_child([&] { return load(dir.file(f.name)); }, 60, 1024);
    const double ratio = o.peak_mb * 1048576 / double(f.text.size());
    std::printf("%-36s %10zu %10.1f %7.2f  %.80s\n", f.name, f.text.size(), o.peak_mb, ratio,
                o.said.c_str());
    EXPECT_TRUE(o.ended) << f.name << ": " << o.said;
    EXPECT_FALSE(o.said.empty()) << f.name;
    if (f.name[0] != '2') {
      worst = std::max(worst, ratio);
    } else if (!kSanitized) {
      EXPECT_LT(o.peak_mb, 200) << "the picture decoded once";
    }
  }
  std::printf("largest peak memory to file size: %.2f%s\n", worst,
              kSanitized ? " (sanitized: not checked)" : "");
  // The worst is a file of bare objects, each some 200 bytes as a MAPOBJECT: the map's own
  // structures, not the parse (a layer's cells take 4 bytes each, unknown members nothing).
  if (!kSanitized) {
    EXPECT_LT(worst, 34);
  }
}

}  // namespace
