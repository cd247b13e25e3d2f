// Child processes for the tests and benchmarks that run the built programs (the driver and the
// ECR simulator), plus a few file and polling helpers.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace kolibra::support {

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// The local time now, as strftime writes it.
inline std::string Now(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char buf[32];
  std::strftime(buf, sizeof buf, format, localtime_r(&now, &local));
  return buf;
}

// CPU time a process has run, in ms, from the scheduler's nanosecond counter (finer than /proc/PID/stat).
inline double ProcessCpuMs(pid_t pid) {
  double ns = 0;
  std::ifstream("/proc/" + std::to_string(pid) + "/schedstat") >> ns;
  return ns / 1e6;
}

// Polls cond every 5 ms for up to timeoutMs; true when it held.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (; std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    if (cond()) return true;
  }
  return cond();
}

// One read() within timeoutMs; "" on time-out or end of stream.
inline std::string ReadChunk(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return "";
  char buf[8192];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

// A child process with its stdout on a pipe and its stderr appended to a log file (or left as it
// is when no log is given). Stopped with SIGTERM when it goes out of scope.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  bool Start(const std::vector<std::string>& argv, const std::filesystem::path& stderrLog = {}) {
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      const int err = stderrLog.empty() ? -1 : ::open(stderrLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (err >= 0) ::dup2(err, 2);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
    reaped_ = false;
    status_ = -1;
    return true;
  }

  // One line of the child's stdout without its line end; "" on time-out or end of stream.
  std::string ReadLine(int timeoutMs = 10000) {
    std::string line;
    for (;;) {
      pollfd p{out_, POLLIN, 0};
      char c;
      if (out_ < 0 || ::poll(&p, 1, timeoutMs) <= 0 || ::read(out_, &c, 1) != 1) return line;
      if (c == '\n') return line;
      if (c != '\r') line += c;
    }
  }

  // The child's stdout, bytes as written, until it closes it or timeoutMs pass with nothing read.
  std::string ReadAll(int timeoutMs) {
    std::string all;
    for (std::string chunk; out_ >= 0 && !(chunk = ReadChunk(out_, timeoutMs)).empty();) all += chunk;
    return all;
  }

  // SIGTERM, then up to timeoutMs for the child to end (SIGKILL after that): its waitpid status,
  // or -1 when it had to be killed.
  int Stop(int timeoutMs = 10000) {
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    if (pid_ <= 0) return -1;
    Kill(SIGTERM);
    const int status = WaitExit(timeoutMs);
    if (status == -1) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return status;
  }

  // Sends sig to the child unless it has already been reaped.
  void Kill(int sig) {
    if (pid_ > 0 && !Reap()) ::kill(pid_, sig);
  }

  // Up to timeoutMs for the child to end by itself: its waitpid status, or -1 while it still runs.
  int WaitExit(int timeoutMs) { return WaitFor([&] { return Reap(); }, timeoutMs) ? status_ : -1; }

  pid_t pid() const { return pid_; }

 private:
  // Collects the child's exit status once it has ended; true from then on.
  bool Reap() {
    if (pid_ > 0 && !reaped_) reaped_ = ::waitpid(pid_, &status_, WNOHANG) == pid_;
    return reaped_;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

// The ECR simulator as a child process; on start it prints one "<kind> <value>" line per endpoint
// ("tcp 127.0.0.1:PORT", "pty /dev/pts/N").
class EcrSimulator {
 public:
  bool Start(std::vector<std::string> args, int endpoints = 1, const std::filesystem::path& stderrLog = {}) {
    const std::string path = KOLIBRA_BINARY_DIR "/kolibra-ecr-sim";  // as built in this tree
    if (::access(path.c_str(), X_OK) != 0) return false;
    args.insert(args.begin(), path);
    lines_.clear();  // a restarted simulator has new endpoints
    if (!process_.Start(args, stderrLog)) return false;
    while (static_cast<int>(lines_.size()) < endpoints) {
      lines_.push_back(process_.ReadLine(5000));
      if (lines_.back().empty()) return false;
    }
    return true;
  }
  int Stop() { return process_.Stop(); }

  // The value of the endpoint line "<kind> <value>".
  std::string Endpoint(const std::string& kind) const {
    for (const auto& l : lines_) {
      if (l.rfind(kind + " ", 0) == 0) return l.substr(kind.size() + 1);
    }
    return {};
  }
  int Port() const {
    const std::string ep = Endpoint("tcp");
    return ep.empty() ? 0 : std::stoi(ep.substr(ep.rfind(':') + 1));
  }
  // A loopback connection to the simulator; -1 on failure.
  int Connect() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(Port()));
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
  }

 private:
  ChildProcess process_;
  std::vector<std::string> lines_;
};

}  // namespace kolibra::support
