// kastrel-replay: replays a recorded session of any Kastrel game without a display and prints a
// hash of every frame written, so that two runs or two machines can be compared.
//   kastrel-replay [options] SESSION GAME [ARGUMENTS...]
//   kastrel-replay --hash DIR        hashes the frames already in DIR (those of a recording)
// The game runs with KASTREL_REPLAY set, so the engine feeds it the recording; the tool exits
// with the game's exit status (6: the session file is unusable, 7: the replay diverged, or a
// frame differs from the hash the recording keeps of it, 8: --whole and the recording is cut
// short). The game's standard output goes to the tool's standard error: the tool's standard
// output holds its own lines alone, with --verify ending on one summary line that scripts read:
//   kastrel-replay: N frames compared, M equal; the recording is whole
//   kastrel-replay: N frames compared, M equal; the recording is cut short after pass P

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/graphics/image.h"
#include "kastrel/png/png_image.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsage = 2;

int usage() {
  std::fprintf(stderr,
               "usage: kastrel-replay [options] SESSION GAME [ARGUMENTS...]\n"
               "       kastrel-replay --hash DIR\n"
               "options:\n"
               "  --frames DIR  write the frames to DIR (default: a temporary folder)\n"
               "  --every N     a frame every N passes (default 10)\n"
               "  --at LIST     frames after the passes listed, e.g. 1,50,400\n"
               "  --window      replay in a window instead of on the null driver\n"
               "  --verify      report every frame that differs from its recorded hash (status 7)\n"
               "                instead of stopping at the first, write no frame unless --frames,\n"
               "                --every or --at asks, and end on a summary line\n"
               "  --whole       a recording cut short (no end mark) fails with status 8\n"
               "  -C DIR        run the game in DIR (where it finds its pictures)\n");
  return kUsage;
}

// An option's error, naming it.
int refuse(const char* option, const char* what, const std::string& value) {
  std::fprintf(stderr, "kastrel-replay: %s: \"%s\" %s\n", option, value.c_str(), what);
  return kUsage;
}

// A pass number: 1 or more.
bool pass_number(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && value >= 1 && value <= INT32_MAX;
}

// Paths in UTF-8, both ways (a path's plain strings are in the system's code page on Windows).
fs::path path_of(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The frames in DIR by pass number.
std::vector<std::pair<long, fs::path>> frames_in(const fs::path& dir) {
  std::vector<std::pair<long, fs::path>> frames;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 9 && name.starts_with("pass-") && name.ends_with(".png"))
      frames.emplace_back(std::strtol(name.c_str() + 5, nullptr, 10), entry.path());
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

// FNV-1a over the decoded pixels (0xAARRGGBB, row by row), so the hash does not depend on how
// the file was compressed.
bool print_hashes(const fs::path& dir) {
  bool ok = true;
  for (const auto& [pass, path] : frames_in(dir)) {
    void* image = png_load(utf8_of(path), PNG_TARGET_NEW);
    VOX_IMAGE_INFO info;
    if (image == nullptr || !vox_hImageInfo(image, 4, &info)) {
      std::fprintf(stderr, "kastrel-replay: %s is not a readable picture\n",
                   utf8_of(path).c_str());
      vox_GfxImageDestroy(image);
      ok = false;
      continue;
    }
    uint64_t hash = 0xCBF29CE484222325ull;
    for (int32_t y = 0; y < info.height; ++y) {
      const uint8_t* row = info.pixels + size_t(y) * size_t(info.pitch);
      for (size_t i = 0; i < size_t(info.width) * size_t(info.bpp); ++i)
        hash = (hash ^ row[i]) * 0x100000001B3ull;
    }
    vox_GfxImageDestroy(image);
    std::printf("pass %ld %016" PRIx64 "\n", pass, hash);
  }
  std::fflush(stdout);
  return ok;
}

// The summary the game's replay wrote, as it was written when it has the summary's form;
// otherwise what became of it, without counts the game never gave.
std::string summary_line(const std::string& file, int status) {
  std::vector<uint8_t> bytes;
  std::string reason;
  bool missing = false;
  const std::string ended = "the game ended with status " + std::to_string(status);
  if (!KASTREL::PLATFORM::READWHOLEFILE(file, 4096, &bytes, &reason, &missing))
    return missing ? "no summary: " + ended + " before its replay wrote one"
                   : "no summary: " + ended + " and its summary cannot be read: " + reason;
  std::string text(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  int compared = -1, equal = -1, pass = -1, end = 0;
  const bool whole =
      std::sscanf(text.c_str(), "%d frames compared, %d equal; the recording is whole%n", &compared,
                  &equal, &end) == 2 &&
      size_t(end) == text.size();
  const bool cut = !whole &&
                   std::sscanf(text.c_str(),
                               "%d frames compared, %d equal; the recording is cut "
                               "short after pass %d%n",
                               &compared, &equal, &pass, &end) == 3 &&
                   size_t(end) == text.size();
  if ((!whole && !cut) || compared < 0 || equal < 0 || equal > compared)
    return "no summary: " + ended + " and its summary is not one";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = KASTREL::PLATFORM::PROGRAMARGUMENTS(argc, argv);
  args.erase(args.begin());
  if (args.size() == 2 && args[0] == "--hash") {
    std::error_code error;
    if (!fs::is_directory(path_of(args[1]), error)) return refuse("--hash", "is not a folder", args[1]);
    return print_hashes(path_of(args[1])) ? 0 : 1;
  }

  std::string frames, every, at, cwd;
  bool window = false, verify = false, whole = false, has_every = false, has_at = false;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    const std::string& option = args[i];
    if (option == "--window" || option == "--verify" || option == "--whole") {
      (option == "--window" ? window : option == "--verify" ? verify : whole) = true;
      continue;
    }
    if (i + 1 >= args.size()) return usage();
    const std::string& value = args[++i];
    if (option == "--frames")
      frames = value;
    else if (option == "--every")
      every = value, has_every = true;
    else if (option == "--at")
      at = value, has_at = true;
    else if (option == "-C")
      cwd = value;
    else
      return usage();
  }
  if (args.size() - i < 2) return usage();
  if (has_every && has_at) {
    std::fprintf(stderr, "kastrel-replay: --every and --at cannot be used together\n");
    return kUsage;
  }
  if (has_every && !pass_number(every)) return refuse("--every", "is not a pass number", every);
  if (has_at) {
    for (size_t start = 0; start <= at.size();) {
      const size_t comma = std::min(at.find(',', start), at.size());
      if (!pass_number(at.substr(start, comma - start)))
        return refuse("--at", "is not a list of pass numbers", at);
      start = comma + 1;
    }
  }
  if (!has_every) every = "10";
  const std::string session = utf8_of(fs::absolute(path_of(args[i])));

  // --verify checks the recorded hashes: frames only when asked for.
  const bool with_frames = !verify || !frames.empty() || has_every || has_at;
  // A folder of the tool's own for the summary, and for the frames when none is named.
  std::string temporary;
  std::error_code error;
  if (verify || frames.empty()) {
    const fs::path base = fs::temp_directory_path(error);
    for (unsigned n = unsigned(std::random_device{}()), tries = 0; tries < 100; ++n, ++tries) {
      const fs::path folder = base / ("kastrel-replay-" + std::to_string(n));
      if (fs::create_directory(folder, error)) {
        temporary = utf8_of(folder);
        break;
      }
    }
    if (temporary.empty()) {
      std::fprintf(stderr, "kastrel-replay: no temporary folder: %s\n", error.message().c_str());
      return kUsage;
    }
  }
  const std::string summary = verify ? temporary + "/summary.txt" : "";
  if (with_frames) {
    if (frames.empty()) frames = temporary;
    frames = utf8_of(fs::absolute(path_of(frames)));
    fs::create_directories(path_of(frames), error);
    for (const auto& [pass, path] : frames_in(path_of(frames))) fs::remove(path, error);  // stale
  } else {
    frames.clear();
  }

  namespace PLATFORM = KASTREL::PLATFORM;
  PLATFORM::SETENVIRONMENT("KASTREL_RECORD", nullptr);
  PLATFORM::SETENVIRONMENT("KASTREL_REPLAY", session.c_str());
  PLATFORM::SETENVIRONMENT("KASTREL_FRAMES", with_frames ? frames.c_str() : nullptr);
  PLATFORM::SETENVIRONMENT("KASTREL_FRAMES_EVERY", with_frames ? every.c_str() : nullptr);
  PLATFORM::SETENVIRONMENT("KASTREL_FRAMES_AT", at.empty() ? nullptr : at.c_str());
  PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_WINDOW", window ? "1" : nullptr);
  PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_VERIFY", verify ? "1" : nullptr);
  PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_WHOLE", whole ? "1" : nullptr);
  PLATFORM::SETENVIRONMENT("KASTREL_REPLAY_SUMMARY", summary.empty() ? nullptr : summary.c_str());
  const std::vector<std::string> game(args.begin() + ptrdiff_t(i) + 1, args.end());
  std::string reason;
  std::fflush(stdout);
  const int status = PLATFORM::RUNPROGRAM(game, cwd, &reason, true);
  if (status < 0) {
    std::fprintf(stderr, "kastrel-replay: cannot run %s: %s\n", game[0].c_str(), reason.c_str());
    if (!temporary.empty()) fs::remove_all(path_of(temporary), error);
    return 127;
  }
  // A frame that cannot be read back has said so; the game's own status still tells the result.
  if (with_frames) print_hashes(path_of(frames));
  if (verify) std::printf("kastrel-replay: %s\n", summary_line(summary, status).c_str());
  std::fflush(stdout);
  if (!temporary.empty()) fs::remove_all(path_of(temporary), error);
  return status;
}
