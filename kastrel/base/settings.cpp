#include "kastrel/base/settings.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/detail/player_files.h"
#include "kastrel/base/error.h"

namespace KASTREL {

namespace {

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

bool usable_key(const std::string& key) {
  return !key.empty() && key[0] != '#' && key.find_first_of("=\n\r") == std::string::npos &&
         !std::isspace(static_cast<unsigned char>(key.front())) &&
         !std::isspace(static_cast<unsigned char>(key.back()));
}

std::atomic<uint64_t> g_max_settings_bytes{DEFAULTMAXSETTINGSBYTES};

}  // namespace

void SETMAXSETTINGSBYTES(uint64_t BYTES) {
  g_max_settings_bytes.store(BYTES, std::memory_order_relaxed);
}
uint64_t MAXSETTINGSBYTES() { return g_max_settings_bytes.load(std::memory_order_relaxed); }

namespace {

// The whole file as LOAD finds it: its bytes, no file, or why it cannot be read.
FILEREAD read_file(const std::string& filename, std::string* text) {
  std::vector<uint8_t> bytes;
  std::string reason;
  bool missing = false;
  if (!PLATFORM::READWHOLEFILE(filename, MAXSETTINGSBYTES(), &bytes, &reason, &missing)) {
    if (missing) return FILEREAD::MISSING;
    *text = "cannot read " + filename + ": " + reason +
            (reason.find("over the cap") != std::string::npos ? " (SETMAXSETTINGSBYTES)" : "");
    return FILEREAD::FAILED;
  }
  text->assign(bytes.begin(), bytes.end());
  return FILEREAD::READ;
}

}  // namespace

BOOLEAN SETTINGS::LOAD(const std::string& FILENAME) {
  IFILENAME = FILENAME;
  IVALUES.clear();
  // A session replay answers from its recording; a recording keeps what was read.
  const PLAYERFILEHOOKS* hooks = PLAYERFILEHOOKSSET();
  std::string text;
  FILEREAD state = FILEREAD::MISSING;
  if (hooks == nullptr || !hooks->LOADANSWER(&state, &text)) {
    state = read_file(FILENAME, &text);
    if (hooks != nullptr) hooks->LOADED(state, text);
  }
  if (state == FILEREAD::MISSING) return TRUE;
  if (state == FILEREAD::FAILED) {
    SETLASTERROR("SETTINGS::LOAD: %s", text.c_str());
    return FALSE;
  }
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
      SETLASTERROR("SETTINGS::LOAD: %s, line %d: not a key=value line", FILENAME.c_str(), number);
      IVALUES.clear();
      return FALSE;
    }
    IVALUES[line.substr(0, eq)] = unescaped(line.substr(eq + 1));
  }
  return TRUE;
}

BOOLEAN SETTINGS::SAVE(const std::string& FILENAME) {
  IFILENAME = FILENAME;
  return SAVE();
}

BOOLEAN SETTINGS::SAVE() {
  if (IFILENAME.empty()) {
    SETLASTERROR("SETTINGS::SAVE: no file named (LOAD or SAVE one first)");
    return FALSE;
  }
  // A session replay writes nothing and answers as the recording's SAVE did; a recording keeps
  // the answer.
  const PLAYERFILEHOOKS* hooks = PLAYERFILEHOOKSSET();
  BOOLEAN answer = FALSE;
  std::string reason;
  if (hooks != nullptr && hooks->SAVEANSWER(&answer, &reason)) {
    if (answer == FALSE) SETLASTERROR("%s", reason.c_str());
    return answer;
  }
  answer = WRITE();
  if (hooks != nullptr) hooks->SAVED(answer, answer != FALSE ? "" : LASTERROR());
  return answer;
}

BOOLEAN SETTINGS::WRITE() {
  std::string text;
  for (const auto& [key, value] : IVALUES) text += key + "=" + escaped(value) + "\n";
  // The old file's permissions carry over; a new one is the player's own.
  std::string reason;
  if (!PLATFORM::REPLACEFILE(IFILENAME, IFILENAME + ".saving", text.data(), text.size(), true,
                             true, &reason)) {
    SETLASTERROR("SETTINGS::SAVE: %s; %s is as it was", reason.c_str(), IFILENAME.c_str());
    return FALSE;
  }
  return TRUE;
}

int32_t SETTINGS::GETINT(const std::string& KEY, int32_t DEFAULT) const {
  const auto it = IVALUES.find(KEY);
  if (it == IVALUES.end() || it->second.empty()) return DEFAULT;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(it->second.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return DEFAULT;
  return int32_t(v);
}

float SETTINGS::GETFLOAT(const std::string& KEY, float DEFAULT) const {
  const auto it = IVALUES.find(KEY);
  if (it == IVALUES.end() || it->second.empty()) return DEFAULT;
  char* end = nullptr;
  const float v = std::strtof(it->second.c_str(), &end);
  return *end == '\0' && std::isfinite(v) ? v : DEFAULT;
}

bool SETTINGS::GETBOOL(const std::string& KEY, bool DEFAULT) const {
  const auto it = IVALUES.find(KEY);
  if (it == IVALUES.end()) return DEFAULT;
  const std::string& v = it->second;
  if (v == "true" || v == "yes" || v == "on" || v == "1") return true;
  if (v == "false" || v == "no" || v == "off" || v == "0") return false;
  return DEFAULT;
}

std::string SETTINGS::GETSTRING(const std::string& KEY, const std::string& DEFAULT) const {
  const auto it = IVALUES.find(KEY);
  return it == IVALUES.end() ? DEFAULT : it->second;
}

BOOLEAN SETTINGS::SETTEXT(const std::string& KEY, std::string TEXT) {
  if (!usable_key(KEY)) {
    SETLASTERROR("SETTINGS: \"%s\" cannot be a key", escaped(KEY).c_str());
    return FALSE;
  }
  IVALUES[KEY] = std::move(TEXT);
  return TRUE;
}

BOOLEAN SETTINGS::SETINT(const std::string& KEY, int32_t VALUE) {
  return SETTEXT(KEY, std::to_string(VALUE));
}

BOOLEAN SETTINGS::SETFLOAT(const std::string& KEY, float VALUE) {
  // The shortest text that reads back as the same float: 0.8f is "0.8", never "0.800000012".
  char text[64];
#if defined(__cpp_lib_to_chars)
  const std::to_chars_result written = std::to_chars(text, text + sizeof text, VALUE);
  return SETTEXT(KEY, std::string(text, written.ptr));
#else
  // A standard library without floating-point to_chars: the fewest digits that read back, in
  // the shorter of plain and exponent form, as to_chars writes them.
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*e", digits - 1, double(VALUE));
    if (std::strtof(text, nullptr) != VALUE && digits < 9) continue;
    const char* e = std::strchr(text, 'e');
    if (e == nullptr) break;  // inf, nan
    char plain[64];
    std::snprintf(plain, sizeof plain, "%.*f", std::max(0, digits - 1 - std::atoi(e + 1)),
                  double(VALUE));
    if (std::strlen(plain) <= std::strlen(text)) std::strcpy(text, plain);
    break;
  }
  return SETTEXT(KEY, text);
#endif
}

BOOLEAN SETTINGS::SETBOOL(const std::string& KEY, bool VALUE) {
  return SETTEXT(KEY, VALUE ? "true" : "false");
}

BOOLEAN SETTINGS::SETSTRING(const std::string& KEY, const std::string& VALUE) {
  return SETTEXT(KEY, VALUE);
}

}  // namespace KASTREL
