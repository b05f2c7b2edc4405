// Child processes for end-to-end tests: start a program with a chosen environment, wait for it
// with a bound, read what it printed, and never leave it running behind the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kastrel/base/testing/temp_dir.h"

namespace kastrel_testing {

// Environment changes: a value sets the variable, std::nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

class ChildProcess {
 public:
  // Starts argv[0] (searched in PATH when it has no slash) in its own process group, with this
  // process's environment changed by `env`, in `cwd` when not empty. Standard output and error
  // go to files that output() and errors() read back.
  ChildProcess(const std::vector<std::string>& argv, const EnvChanges& env = {},
               const std::string& cwd = {});
  // Kills the whole process group if it is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Waits until the process ends or `timeout` passes; true when it ended.
  bool wait(std::chrono::milliseconds timeout);
  bool running() { return pid_ > 0 && !reap(false); }
  void signal_group(int signal);
  // Exit status after a normal exit, or -1 (killed by a signal, or still running).
  int exit_status() const { return exit_status_; }
  std::string output() const;
  std::string errors() const;

 private:
  bool reap(bool block);

  TempDir dir_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int exit_status_ = -1;
};

struct RunResult {
  bool timed_out = false;
  int exit_status = -1;  // -1 when the program did not exit normally
  std::string output;
  std::string errors;
};

// Runs a program to its end (killing it after `timeout`).
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {},
              std::chrono::milliseconds timeout = std::chrono::seconds(60),
              const std::string& cwd = {});

// The sanitizer options for a game run as a child: a sanitizer report ends it with status 86,
// which never passes for a game's own status, and the leak checker leaves the leaks of the
// system's libraries (X, SDL's back ends) alone.
EnvChanges sanitizer_env();

}  // namespace kastrel_testing
