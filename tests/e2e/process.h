// Child processes and job-folder helpers for the end-to-end tests: the built
// driver and the ECR simulator run as real programs, and the tests talk to
// them only through files, the way a calling application does.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Polls cond every 20 ms for up to timeoutMs; true when it held.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return cond();
}

// A child process with its stdout on a pipe and its stderr in a log file.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { Stop(); }

  bool Start(const std::vector<std::string>& argv, const fs::path& stderrLog) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], 1);
      int err = open(stderrLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (err >= 0) dup2(err, 2);
      close(out[0]);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    out_ = fdopen(out[0], "r");
    return true;
  }

  // Reads one line of the child's stdout (blocking), without its line end.
  std::string ReadLine() {
    if (!out_) return {};
    char buf[512];
    if (!fgets(buf, sizeof buf, out_)) return {};
    std::string s(buf);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  }

  // Sends SIGTERM and waits up to timeoutMs; SIGKILL after that. Returns the
  // exit status as waitpid gives it, or -1 when it had to be killed.
  int Stop(int timeoutMs = 10000) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = -1;
    bool done = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
    if (!done) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      status = -1;
    }
    pid_ = -1;
    if (out_) fclose(out_);
    out_ = nullptr;
    return status;
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status;
    return waitpid(pid_, &status, WNOHANG) == 0;
  }

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

}  // namespace e2e
