// Font files only Linux can set up: a FIFO and a device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "kastrel/base/error.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/graphics/font.h"

namespace {

using namespace KASTREL;

// A fallback that is no regular file is refused at once with the reason, never waited on.
TEST(FontFiles, AFallbackThatIsNoRegularFileIsRefusedAtOnce) {
  if (access(GRAPHICS::DEFAULTFONTPATH(), R_OK) != 0) GTEST_SKIP() << "no default font";
  const kastrel_testing::TempDir dir;
  const std::string fifo = dir.file("fifo.ttf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  GRAPHICS::FONT font;
  ASSERT_TRUE(font.OPEN(GRAPHICS::DEFAULTFONTPATH(), 12)) << LASTERROR();
  const struct {
    std::string path;
    const char* says;
  } cases[] = {{fifo, "FIFO"}, {"/dev/zero", "device"}, {dir.path(), "folder"}};
  for (const auto& [path, says] : cases) {
    auto adding = std::async(std::launch::async, [&font, &path] {
      const bool added = font.ADDFALLBACK(path) != FALSE;
      return added ? std::string("added") : std::string(LASTERROR());
    });
    if (adding.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "ADDFALLBACK blocked on " << path;
      close(open(fifo.c_str(), O_WRONLY));  // frees a reader stuck in open
    }
    const std::string reason = adding.get();
    EXPECT_NE(reason.find(says), std::string::npos) << path << ": " << reason;
  }
}

}  // namespace
