#include "tests/testing/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

namespace kastrel_testing {
namespace {

std::string find_in_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

}  // namespace

Xvfb::Xvfb(const std::string& geometry) {
  const std::string program = find_in_path("Xvfb");
  if (program.empty()) {
    error_ = "Xvfb is not installed (Debian package xvfb)";
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  // Xvfb writes its display number to the descriptor given with -displayfd once it listens.
  const std::string fd_arg = std::to_string(fds[1]);
  std::vector<std::string> args = {program,  "-displayfd", fd_arg, "-screen", "0",
                                   geometry, "-nolisten",  "tcp",  "-noreset"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);

  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    // Keep the write end open across exec; silence the server's chatter.
    fcntl(fds[1], F_SETFD, 0);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (null_fd >= 0) close(null_fd);
  if (pid < 0) {
    close(fds[0]);
    error_ = "fork failed";
    return;
  }
  pid_ = pid;

  // Read "N\n". The bound only keeps a broken installation from hanging the test run.
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool done = false;
  while (!done) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error_ = "Xvfb did not report its display in time";
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    char buf[32];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "Xvfb ended before it reported a display";
      break;
    }
    for (ssize_t i = 0; i < n && !done; ++i) {
      if (buf[i] == '\n') {
        done = true;
      } else if (buf[i] >= '0' && buf[i] <= '9' && number.size() < 8) {
        number.push_back(buf[i]);
      }
    }
  }
  close(fds[0]);
  if (done && !number.empty()) {
    display_ = ":" + number;
  } else {
    if (error_.empty()) error_ = "Xvfb reported no display number";
    stop();
  }
}

Xvfb::~Xvfb() { stop(); }

void Xvfb::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  // Give it a moment to remove its socket and lock file, then make sure.
  for (int i = 0; i < 500; ++i) {
    const pid_t r = waitpid(pid_, nullptr, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace kastrel_testing
