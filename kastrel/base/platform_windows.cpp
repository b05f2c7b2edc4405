#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>
#include <shellapi.h>
// The engine's TRUE and FALSE, not Windows' macros.
#undef TRUE
#undef FALSE

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>

#include "kastrel/base/detail/platform.h"

namespace KASTREL::PLATFORM {

namespace {

HANDLE handle_of(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::string narrow(const wchar_t* text, int length = -1) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "";
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  if (length < 0) out.pop_back();  // the terminator
  return out;
}

// UTF-8 to the system's wide form; false for text that is not UTF-8.
bool widen(const std::string& text, std::wstring* out) {
  out->clear();
  if (text.empty()) return true;
  if (text.size() > INT32_MAX) return false;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  out->resize(size_t(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out->data(), n);
  return out->find(L'\0') == std::wstring::npos;
}

std::string system_error(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n > 0 ? narrow(text, int(n)) : "";
  LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.' ||
                          out.back() == ' '))
    out.pop_back();
  return out.empty() ? "system error " + std::to_string(error) : out;
}

constexpr const char* kNotUtf8 = "the path is not valid UTF-8";

bool missing_error(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Paths the engine builds use '/'; the system's own answers are turned the same way.
std::string slashed(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

// STEM and an ending no other call shares: the process's id against other processes, a random
// number against the other threads and the calls before.
std::string unique_name(const std::string& stem) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  char ending[40];
  std::snprintf(ending, sizeof ending, "-%lx-%016llx",
                static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long long>(random()));
  return stem + ending;
}


// The names Windows takes for devices in every folder, whatever their extension (AUX.tsx is
// the device AUX): opening one may wait on the device for ever, so they are refused by name.
bool device_name(const std::wstring& path) {
  if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"//./", 0) == 0) return true;
  const size_t cut = path.find_last_of(L"/\\:");
  std::wstring name = path.substr(cut == std::wstring::npos ? 0 : cut + 1);
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
  for (wchar_t& c : name)
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL" || name == L"CONIN$" ||
      name == L"CONOUT$")
    return true;
  const bool numbered =
      name.size() == 4 && (name.rfind(L"COM", 0) == 0 || name.rfind(L"LPT", 0) == 0);
  const wchar_t n = numbered ? name[3] : 0;
  return numbered && ((n >= L'0' && n <= L'9') || n == 0xB9 || n == 0xB2 || n == 0xB3);
}

constexpr const char* kDevice = "it is a device";

}  // namespace

std::string LASTSYSTEMERROR() { return system_error(GetLastError()); }

// ---- reading ---------------------------------------------------------------------------------

BOOLEAN READFILE::OPEN(const std::string& PATH) {
  CLOSE();
  IMISSING = false;
  std::wstring wide;
  if (!widen(PATH, &wide) || wide.empty()) {
    IREASON = wide.empty() && PATH.empty() ? "no file named" : kNotUtf8;
    return FALSE;
  }
  if (device_name(wide)) {
    IREASON = kDevice;
    return FALSE;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    IREASON = "it is a folder";
    return FALSE;
  }
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    IMISSING = missing_error(error);
    IREASON = system_error(error);
    return FALSE;
  }
  // CON, NUL, COM1, pipes: only files on a disk are read.
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    IREASON = "it is a device or pipe";
  } else if (!GetFileSizeEx(h, &size)) {
    IREASON = LASTSYSTEMERROR();
  } else {
    IHANDLE = reinterpret_cast<intptr_t>(h);
    ISIZE = uint64_t(size.QuadPart);
    return TRUE;
  }
  CloseHandle(h);
  return FALSE;
}

void READFILE::CLOSE() {
  if (IHANDLE != -1) CloseHandle(handle_of(IHANDLE));
  IHANDLE = -1;
  ISIZE = 0;
}

int64_t READFILE::READ(void* TO, size_t BYTES) {
  size_t done = 0;
  while (done < BYTES) {
    const DWORD ask = DWORD(std::min<size_t>(BYTES - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle_of(IHANDLE), static_cast<uint8_t*>(TO) + done, ask, &got, nullptr)) {
      IREASON = LASTSYSTEMERROR();
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return int64_t(done);
}

BOOLEAN READFILE::SEEK(uint64_t AT) {
  LARGE_INTEGER to{};
  to.QuadPart = LONGLONG(AT);
  if (AT <= uint64_t(INT64_MAX) && SetFilePointerEx(handle_of(IHANDLE), to, nullptr, FILE_BEGIN))
    return TRUE;
  IREASON = LASTSYSTEMERROR();
  return FALSE;
}

// ---- writing ---------------------------------------------------------------------------------

// A disk file opened for writing as disposition says (CREATE_ALWAYS, CREATE_NEW), or
// INVALID_HANDLE_VALUE with the reason, and the system's error code where the system refused.
static HANDLE open_for_writing(const std::string& path, DWORD disposition, std::string* reason,
                               DWORD* code) {
  *code = 0;
  std::wstring wide;
  if (!widen(path, &wide) || wide.empty()) {
    *reason = path.empty() ? "no file named" : kNotUtf8;
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *code = GetLastError();
    *reason = system_error(*code);
    return INVALID_HANDLE_VALUE;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    *reason = "it is a device or pipe";
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

BOOLEAN WRITEFILE::CREATE(const std::string& PATH, bool) {
  CLOSE();
  DWORD error;
  HANDLE h = open_for_writing(PATH, CREATE_ALWAYS, &IREASON, &error);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  IHANDLE = reinterpret_cast<intptr_t>(h);
  return TRUE;
}

BOOLEAN WRITEFILE::CREATENEW(const std::string& PATH, bool, int32_t) {
  CLOSE();
  // CREATE_NEW fails on any name that exists, a link or junction included: nothing is followed.
  DWORD error;
  HANDLE h = open_for_writing(PATH, CREATE_NEW, &IREASON, &error);
  IEXISTED = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  IHANDLE = reinterpret_cast<intptr_t>(h);
  return TRUE;
}

BOOLEAN WRITEFILE::WRITE(const void* DATA, size_t BYTES) {
  for (size_t done = 0; done < BYTES;) {
    const DWORD ask = DWORD(std::min<size_t>(BYTES - done, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(handle_of(IHANDLE), static_cast<const uint8_t*>(DATA) + done, ask, &put,
                   nullptr) ||
        put == 0) {
      IREASON = put == 0 && GetLastError() == 0 ? "the disk is full" : LASTSYSTEMERROR();
      return FALSE;
    }
    done += put;
  }
  return TRUE;
}

BOOLEAN WRITEFILE::FLUSH() {
  if (FlushFileBuffers(handle_of(IHANDLE))) return TRUE;
  IREASON = LASTSYSTEMERROR();
  return FALSE;
}

BOOLEAN WRITEFILE::TRUNCATE(uint64_t BYTES) {
  LARGE_INTEGER to{};
  to.QuadPart = LONGLONG(BYTES);
  if (SetFilePointerEx(handle_of(IHANDLE), to, nullptr, FILE_BEGIN) &&
      SetEndOfFile(handle_of(IHANDLE)))
    return TRUE;
  IREASON = LASTSYSTEMERROR();
  return FALSE;
}

BOOLEAN WRITEFILE::CLOSE() {
  if (IHANDLE == -1) return TRUE;
  const bool ok = CloseHandle(handle_of(IHANDLE)) != 0;
  if (!ok) IREASON = LASTSYSTEMERROR();
  IHANDLE = -1;
  return ok ? TRUE : FALSE;
}

BOOLEAN REPLACEFILE(const std::string& PATH, const std::string& TEMP, const void* DATA,
                    size_t BYTES, bool DURABLE, bool PRIVATE, std::string* REASON) {
  WRITEFILE out;
  std::string temp;
  // A name of its own for each call: another process saving the same file at once, or a file
  // planted at the name, never shares it.
  bool ok = false;
  for (int attempt = 0; attempt < 8 && !ok; ++attempt) {
    temp = unique_name(TEMP);
    ok = out.CREATENEW(temp, PRIVATE) != FALSE;
    if (!out.EXISTED()) break;
  }
  const char* step = "create";
  if (ok)
    ok = (step = "write", out.WRITE(DATA, BYTES)) && (!DURABLE || (step = "flush", out.FLUSH()));
  if (ok && !out.CLOSE()) ok = false, step = "write";
  std::string why = out.REASON();
  std::wstring from, to;
  if (ok) {
    // Over an existing file in one step; write-through returns once the move is on the disk.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (DURABLE ? MOVEFILE_WRITE_THROUGH : 0);
    if (!widen(temp, &from) || !widen(PATH, &to)) {
      ok = false, step = "replace the file with", why = kNotUtf8;
    } else {
      // The file open in another process (a reader without leave to delete it, a virus
      // scanner), or being replaced by one, refuses for a moment: tried again until a deadline,
      // a read-only file or a folder at once refused for good.
      const ULONGLONG deadline = GetTickCount64() + 5000;
      for (DWORD wait = 1;; wait = std::min<DWORD>(wait * 2, 50)) {
        if (MoveFileExW(from.c_str(), to.c_str(), flags)) break;
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(to.c_str());
        const bool transient =
            error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
            (error == ERROR_ACCESS_DENIED &&
             (attributes == INVALID_FILE_ATTRIBUTES ||
              !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))));
        if (!transient || GetTickCount64() >= deadline) {
          ok = false, step = "replace the file with", why = system_error(error);
          break;
        }
        Sleep(wait);
      }
    }
  }
  if (!ok) {
    out.CLOSE();
    if (std::string(step) != "create") REMOVEFILE(temp);
    *REASON = std::string("cannot ") + step + " " + temp + ": " + why;
    return FALSE;
  }
  return TRUE;
}

BOOLEAN REMOVEFILE(const std::string& PATH) {
  std::wstring wide;
  return widen(PATH, &wide) && DeleteFileW(wide.c_str()) ? TRUE : FALSE;
}

bool ISFOLDER(const std::string& PATH) {
  std::wstring wide;
  if (!widen(PATH, &wide) || wide.empty()) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ISWRITABLE(const std::string& PATH) {
  std::wstring wide;
  if (!widen(PATH, &wide) || wide.empty()) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

BOOLEAN MAKEFOLDER(const std::string& PATH, bool, std::string* REASON) {
  if (ISFOLDER(PATH)) return TRUE;
  std::wstring wide;
  if (!widen(PATH, &wide)) {
    *REASON = kNotUtf8;
    return FALSE;
  }
  if (CreateDirectoryW(wide.c_str(), nullptr)) return TRUE;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS && ISFOLDER(PATH)) return TRUE;
  *REASON = error == ERROR_ALREADY_EXISTS ? "it is not a folder" : system_error(error);
  return FALSE;
}

// ---- the program and the player --------------------------------------------------------------

std::string PROGRAMPATH() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return "";
    if (n < path.size()) return slashed(narrow(path.c_str(), int(n)));
    if (path.size() >= 32768) return "";
    path.resize(path.size() * 2);
  }
}

std::string PROGRAMFOLDER() {
  const std::string path = PROGRAMPATH();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string PROGRAMNAME() {
  std::string name = PROGRAMPATH();
  name = name.substr(name.rfind('/') + 1);
  if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0)
    name.resize(name.size() - 4);
  return name;
}

bool ISSEPARATOR(char C) { return C == '/' || C == '\\'; }

std::string FOLDEROF(const std::string& PATH) {
  size_t cut = 0;
  for (size_t i = 0; i < PATH.size(); ++i)
    if (ISSEPARATOR(PATH[i]) || (i == 1 && PATH[i] == ':')) cut = i + 1;
  return PATH.substr(0, cut);
}

std::string REALPATH(const std::string& PATH, std::string* REASON, bool* MISSING) {
  if (MISSING != nullptr) *MISSING = false;
  std::wstring wide;
  if (!widen(PATH, &wide) || wide.empty()) {
    *REASON = PATH.empty() ? "no file named" : kNotUtf8;
    return "";
  }
  if (device_name(wide)) {
    *REASON = kDevice;
    return "";
  }
  // Opened for no access at all (folders too), only to ask the system for its final name.
  HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (MISSING != nullptr) *MISSING = missing_error(error);
    *REASON = system_error(error);
    return "";
  }
  std::wstring out(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, out.data(), DWORD(out.size()), VOLUME_NAME_DOS);
  if (n >= out.size()) {
    out.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, out.data(), DWORD(out.size()), VOLUME_NAME_DOS);
  }
  CloseHandle(h);
  if (n == 0 || n >= out.size()) {
    // Without the system's final name, the full name (links then stay as they are).
    n = GetFullPathNameW(wide.c_str(), DWORD(out.size()), out.data(), nullptr);
    if (n >= out.size()) {
      out.resize(n + 1);
      n = GetFullPathNameW(wide.c_str(), DWORD(out.size()), out.data(), nullptr);
    }
    if (n == 0 || n >= out.size()) {
      *REASON = LASTSYSTEMERROR();
      return "";
    }
  }
  out.resize(n);
  if (out.rfind(L"\\\\?\\UNC\\", 0) == 0)
    out = L"\\\\" + out.substr(8);
  else if (out.rfind(L"\\\\?\\", 0) == 0)
    out = out.substr(4);
  return slashed(narrow(out.c_str(), int(out.size())));
}

std::string PLAYERDATAFOLDER(std::string* REASON) {
  if (const wchar_t* appdata = _wgetenv(L"APPDATA"); appdata != nullptr && appdata[0] != 0)
    return slashed(narrow(appdata));
  wchar_t* known = nullptr;
  std::string out;
  if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known) == S_OK)
    out = slashed(narrow(known));
  CoTaskMemFree(known);
  if (out.empty()) *REASON = "neither APPDATA nor the roaming application data folder is known";
  return out;
}

bool GETENVIRONMENT(const char* NAME, std::string* VALUE) {
  std::wstring name;
  const wchar_t* value = widen(NAME, &name) ? _wgetenv(name.c_str()) : nullptr;
  if (value != nullptr) *VALUE = narrow(value);
  return value != nullptr;
}

std::vector<std::string> PROGRAMARGUMENTS(int ARGC, char** ARGV) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  // The same split as main's (a launcher may have quoted oddly): else main's own, as it came.
  if (wide != nullptr && count == ARGC) {
    for (int i = 0; i < count; ++i) out.push_back(narrow(wide[i]));
  } else {
    out.assign(ARGV, ARGV + ARGC);
  }
  LocalFree(wide);
  return out;
}

void SETENVIRONMENT(const char* NAME, const char* VALUE) {
  std::wstring name, value;
  if (!widen(NAME, &name) || (VALUE != nullptr && !widen(VALUE, &value))) return;
  // The C run-time's copy first (getenv reads it; an empty value removes the variable there),
  // then the system's, which started programs inherit.
  _wputenv((name + L"=" + value).c_str());
  SetEnvironmentVariableW(name.c_str(), VALUE != nullptr ? value.c_str() : nullptr);
}

namespace {

// One argument as the C run-time of the started program splits its command line again.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

int RUNPROGRAM(const std::vector<std::string>& ARGV, const std::string& CWD, std::string* REASON,
               bool OUTPUTTOERRORS) {
  std::wstring line, arg, cwd;
  for (const std::string& a : ARGV) {
    if (!widen(a, &arg)) {
      *REASON = "an argument is not valid UTF-8";
      return -1;
    }
    line += (line.empty() ? L"" : L" ") + quoted(arg);
  }
  if (ARGV.empty() || !widen(CWD, &cwd)) {
    *REASON = ARGV.empty() ? "no program named" : kNotUtf8;
    return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // The program's standard output on this process's standard error: the three handles given
  // as inheritable copies (the ones this process got need not be inheritable).
  HANDLE given[3] = {nullptr, nullptr, nullptr};
  if (OUTPUTTOERRORS) {
    const DWORD which[3] = {STD_INPUT_HANDLE, STD_ERROR_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
      const HANDLE own = GetStdHandle(which[i]);
      if (own == nullptr || own == INVALID_HANDLE_VALUE ||
          !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &given[i], 0, TRUE,
                           DUPLICATE_SAME_ACCESS))
        given[i] = nullptr;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = given[0];
    startup.hStdOutput = given[1];
    startup.hStdError = given[2];
  }
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, 1, 0, nullptr,
                                      cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
  const std::string why = started ? std::string() : LASTSYSTEMERROR();
  for (HANDLE handle : given)
    if (handle != nullptr) CloseHandle(handle);
  if (!started) {
    *REASON = why;
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return int(status);
}

// ---- stop requests ---------------------------------------------------------------------------

namespace {

std::atomic<void (*)()> g_on_stop{nullptr};
std::atomic<int> g_requests{0};

BOOL WINAPI on_console_event(DWORD event) {
  void (*on_stop)() = g_on_stop.load();
  if (on_stop == nullptr || g_requests.fetch_add(1) > 0) return 0;  // the default: end
  on_stop();
  // Closing the console, logging off and shutting down end the process once this returns:
  // the game gets a few seconds (the system allows five) to finish its frame and its files.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    Sleep(4000);
  return 1;
}

}  // namespace

void CATCHSTOPREQUESTS(void (*ONSTOP)()) {
  const bool on = ONSTOP != nullptr, was = g_on_stop.exchange(ONSTOP) != nullptr;
  if (on == was) return;
  g_requests.store(0);
  SetConsoleCtrlHandler(on_console_event, on);
}

BOOLEAN ADDRESSSPACELEFT(size_t) { return TRUE; }

void PREPAREMEMORY(void*, size_t) {}

void WAITWHILE(const std::atomic<int32_t>& WORD, int32_t OLD) {
  static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t));
  // WaitOnAddress compares and sleeps as one step against WakeByAddress*: nothing is lost.
  WaitOnAddress(const_cast<std::atomic<int32_t>*>(&WORD), &OLD, sizeof OLD, INFINITE);
}

void WAKEONE(std::atomic<int32_t>& WORD) { WakeByAddressSingle(&WORD); }

namespace {

// A thread's end is seen through fiber-local storage, whose callback runs on the ending thread:
// each thread that sets a slot also holds a record of it there.
struct SLOTEND {
  uint32_t slot;
  void* value;
};
void (*slot_ended[THREADSLOTCOUNT])(void*) = {};
DWORD slot_fls[THREADSLOTCOUNT] = {};

void WINAPI thread_ended(void* record) {
  auto* end = static_cast<SLOTEND*>(record);
  if (end == nullptr) return;
  TlsSetValue(end->slot, nullptr);
  if (slot_ended[end->slot] != nullptr && end->value != nullptr) slot_ended[end->slot](end->value);
  delete end;
}

}  // namespace

uint32_t THREADSLOTNEW(void (*ENDED)(void* VALUE)) {
  const DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return THREADSLOTCOUNT;
  const DWORD fls = FlsAlloc(thread_ended);
  if (slot >= THREADSLOTCOUNT || fls == FLS_OUT_OF_INDEXES) {
    // Beyond the block's own slots a read is no faster than thread_local.
    TlsFree(slot);
    if (fls != FLS_OUT_OF_INDEXES) FlsFree(fls);
    return THREADSLOTCOUNT;
  }
  slot_ended[slot] = ENDED;
  slot_fls[slot] = fls;
  return uint32_t(slot);
}

bool THREADSLOTSET(uint32_t SLOT, void* VALUE) {
  if (SLOT >= THREADSLOTCOUNT) return false;
  auto* end = static_cast<SLOTEND*>(FlsGetValue(slot_fls[SLOT]));
  if (end == nullptr) {
    end = new (std::nothrow) SLOTEND{SLOT, VALUE};
    if (end == nullptr || !FlsSetValue(slot_fls[SLOT], end)) {
      delete end;
      return false;
    }
  }
  end->value = VALUE;
  return TlsSetValue(SLOT, VALUE) != 0;
}

}  // namespace KASTREL::PLATFORM
