// The ECR simulator run as a child process, and small descriptor helpers for
// talking to it the way the driver does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kolibra::sim {

// The simulator built in this tree; "" if it is not built.
inline std::string SimulatorPath() {
  const std::string path = KOLIBRA_BINARY_DIR "/kolibra-ecr-sim";
  return ::access(path.c_str(), X_OK) == 0 ? path : "";
}

// One read() within timeoutMs; "" on time-out or end of stream.
inline std::string ReadChunk(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return "";
  char buf[8192];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

class Simulator {
 public:
  // Starts the simulator and reads its `endpoints` endpoint lines.
  bool Start(std::vector<std::string> args, int endpoints = 1) {
    const std::string path = SimulatorPath();
    if (path.empty()) return false;
    args.insert(args.begin(), path);
    bool limited = false;
    for (const auto& a : args) limited = limited || a.rfind("--exit-after-ms", 0) == 0;
    if (!limited) args.push_back("--exit-after-ms=60000");  // never outlive a broken test
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    while (static_cast<int>(lines_.size()) < endpoints) {
      const std::string c = ReadChunk(fds[0], 5000);
      if (c.empty()) break;
      text += c;
      for (std::size_t nl; (nl = text.find('\n')) != std::string::npos; text.erase(0, nl + 1)) {
        lines_.push_back(text.substr(0, nl));
      }
    }
    ::close(fds[0]);
    return static_cast<int>(lines_.size()) >= endpoints;
  }
  ~Simulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
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
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

 private:
  pid_t pid_ = -1;
  std::vector<std::string> lines_;
};

}  // namespace kolibra::sim
