#include "kastrel/base/testing/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kastrel_testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const EnvChanges& env,
                           const std::string& cwd) {
  if (argv.empty() || dir_.path().empty()) return;
  // Everything the child needs is prepared here: between fork and exec it only makes system
  // calls, since another thread of the test may hold the allocator's lock.
  std::vector<std::string> env_strings, args = argv;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (env.find(entry.substr(0, entry.find('='))) == env.end()) env_strings.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (value) env_strings.push_back(name + "=" + *value);
  }
  std::vector<char*> envp, argp;
  for (auto& s : env_strings) envp.push_back(s.data());
  for (auto& s : args) argp.push_back(s.data());
  envp.push_back(nullptr);
  argp.push_back(nullptr);
  const int out_fd = open(dir_.file("stdout").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int err_fd = open(dir_.file("stderr").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = out_fd < 0 || err_fd < 0 || null_fd < 0 ? -1 : fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(null_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  for (const int fd : {out_fd, err_fd, null_fd}) {
    if (fd >= 0) close(fd);
  }
  if (pid < 0) return;
  // Also from this side, so a kill right after the start reaches the group.
  setpgid(pid, pid);
  pid_ = pid;
}

ChildProcess::~ChildProcess() {
  // Only while the leader is unreaped is its group surely still ours.
  if (pid_ > 0 && !reap(false)) {
    ::kill(-pid_, SIGKILL);
    reap(true);
  }
}

bool ChildProcess::reap(bool block) {
  if (ended_) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  ended_ = true;
  if (WIFEXITED(status)) exit_status_ = WEXITSTATUS(status);
  return true;
}

bool ChildProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void ChildProcess::signal_group(int signal) {
  if (pid_ > 0 && !ended_) ::kill(-pid_, signal);
}

std::string ChildProcess::output() const { return read_file(dir_.file("stdout")); }
std::string ChildProcess::errors() const { return read_file(dir_.file("stderr")); }

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env,
              std::chrono::milliseconds timeout, const std::string& cwd) {
  ChildProcess child(argv, env, cwd);
  RunResult result;
  if (!child.wait(timeout)) {
    result.timed_out = true;
    child.signal_group(SIGKILL);
    child.wait(std::chrono::seconds(10));
  }
  result.exit_status = child.exit_status();
  result.output = child.output();
  result.errors = child.errors();
  return result;
}

EnvChanges sanitizer_env() {
  const std::string end = ":exitcode=86";
  return {{"ASAN_OPTIONS", "detect_leaks=1" + end},
          {"UBSAN_OPTIONS", "print_stacktrace=1" + end},
          {"LSAN_OPTIONS",
           "suppressions=" KASTREL_SOURCE_DIR "/kastrel/device/testing/lsan.supp" + end}};
}

}  // namespace kastrel_testing
