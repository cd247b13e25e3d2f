// kolibra-ecr-sim: plays the fiscal cash register over TCP and/or a
// pseudo-terminal. Single-threaded; every wait is one poll() bounded by the
// next scheduled answer.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "ecr.h"
#include "options.h"

namespace ecrsim {
namespace {

constexpr char kAck = 0x06;
constexpr char kXoff = 0x13;
constexpr size_t kReadSize = 4096;
// Answers a peer has not taken yet; beyond this the peer is dropped (TCP)
// or the backlog is discarded (pty), so memory stays bounded.
constexpr size_t kMaxBacklog = 256 * 1024;

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

// Same length, every byte different from the original.
std::string Garble(const std::string& bytes) {
  std::string out = bytes;
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    c = (u >= 0x20 && u < 0x7f) ? static_cast<char>((u - 0x20 + 1) % 95 + 0x20) : '?';
  }
  return out;
}

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

struct Chunk {
  int64_t due = 0;
  std::string bytes;
};

struct Peer {
  const char* name = "";
  bool serial = false;
  int fd = -1;
  std::deque<Chunk> scheduled;
  std::string out;    // the chunk being written, not yet taken by the peer
  size_t queued = 0;  // bytes in `out` and `scheduled`
  long commands = 0;
  bool stopped = false;  // pty after --drop-after
  bool awaitingAck = false;  // a closing reply went out, its ACK not yet seen
};

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  int saved = errno;
  char b = 1;
  ssize_t ignored = write(g_signalPipe[1], &b, 1);
  (void)ignored;
  errno = saved;
}

struct Sim {
  Options opt;
  EcrState ecr;
  int listenFd = -1;
  Peer tcp;
  Peer pty;
  int ptySlave = -1;
  std::string ptyPath;
  bool linkCreated = false;
  long acks = 0;

  void Log(const std::string& line) {
    if (opt.verbose) std::fprintf(stderr, "%s\n", line.c_str());
  }

  void ResetPeer(Peer& p) {
    DiscardBacklog(p);
    p.commands = 0;
    p.stopped = false;
    p.awaitingAck = false;
  }

  void CloseTcpClient(const char* why) {
    if (tcp.fd < 0) return;
    Log(std::string("[tcp] connection closed (") + why + ")");
    close(tcp.fd);
    tcp.fd = -1;
    ResetPeer(tcp);
  }

  // Queues the answers as separate chunks, `gap` apart, each after `delay`.
  void Schedule(Peer& p, const std::vector<std::string>& chunks, int64_t now) {
    int64_t t = now;
    if (!p.scheduled.empty()) t = std::max(t, p.scheduled.back().due + opt.gapMs);
    bool first = true;
    for (const std::string& bytes : chunks) {
      if (!first) t += opt.gapMs;
      first = false;
      t += opt.delayMs;
      p.scheduled.push_back(Chunk{t, bytes});
      p.queued += bytes.size();
    }
    if (p.queued > kMaxBacklog) {
      if (!p.serial) {
        CloseTcpClient("peer does not read");
      } else {
        Log("[pty] backlog discarded");
        DiscardBacklog(p);
      }
    }
  }

  void HandleChunk(Peer& p, const std::string& data, int64_t now) {
    size_t start = 0;
    while (start < data.size() && data[start] == kAck) {
      ++acks;
      Log(std::string("[") + p.name + "] <- ACK");
      p.awaitingAck = false;
      ++start;
    }
    if (start == data.size()) return;
    std::string command = data.substr(start);
    if (p.awaitingAck) {
      Log(std::string("[") + p.name + "] the closing reply was not acknowledged");
      p.awaitingAck = false;
    }
    Log(std::string("[") + p.name + "] <- " + Printable(command));
    if (p.stopped || opt.silent) return;

    ++p.commands;
    if (opt.dropAfter >= 0 && p.commands > opt.dropAfter) {
      if (!p.serial) {
        CloseTcpClient("--drop-after");
      } else {
        Log("[pty] no more answers (--drop-after)");
        p.stopped = true;
        DiscardBacklog(p);
      }
      return;
    }

    CommandAnswers answers = HandleCommand(ecr, command);
    std::vector<std::string> chunks;
    if (p.serial) {
      std::string write = opt.echoOnly ? command : answers.serialWrite;
      if (opt.garbageEcho) write = Garble(write);
      if (opt.xoff) write.insert(command.size(), 1, kXoff);
      chunks.push_back(write);
    } else {
      std::string echo = opt.garbageEcho ? Garble(command) : command;
      if (opt.xoff) echo += kXoff;
      chunks.push_back(echo);
      if (!opt.echoOnly && !answers.second.empty()) {
        chunks.push_back(opt.garbageEcho ? Garble(answers.second) : answers.second);
      }
    }
    if (answers.closesReceipt) {
      time_t wall = time(nullptr);
      tm local{};
      localtime_r(&wall, &local);
      std::string reply = BuildClosingReply(ecr, local);
      if (!opt.echoOnly && !opt.noClosing) {
        chunks.push_back(reply);
        p.awaitingAck = true;
      }
    }
    Schedule(p, chunks, now);
  }

  // Writes the due chunks, each with a write of its own, as far as the peer
  // takes them.
  void Flush(Peer& p, int64_t now) {
    while (p.fd >= 0) {
      if (p.out.empty()) {
        if (p.scheduled.empty() || p.scheduled.front().due > now) return;
        p.out = std::move(p.scheduled.front().bytes);
        p.scheduled.pop_front();
        Log(std::string("[") + p.name + "] -> " + Printable(p.out));
      }
      ssize_t n = p.serial ? write(p.fd, p.out.data(), p.out.size())
                           : send(p.fd, p.out.data(), p.out.size(), MSG_NOSIGNAL);
      if (n > 0) {
        p.queued -= static_cast<size_t>(n);
        p.out.erase(0, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (!p.serial) {
        CloseTcpClient("write failed");
      } else {
        DiscardBacklog(p);
      }
      return;
    }
  }

  void DiscardBacklog(Peer& p) {
    p.scheduled.clear();
    p.out.clear();
    p.queued = 0;
  }

  void ReadFrom(Peer& p, int64_t now) {
    char buf[kReadSize];
    ssize_t n = read(p.fd, buf, sizeof buf);
    if (n > 0) {
      HandleChunk(p, std::string(buf, static_cast<size_t>(n)), now);
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      if (!p.serial) CloseTcpClient(n == 0 ? "by peer" : "read failed");
    }
  }

  void Accept() {
    int fd = accept(listenFd, nullptr, nullptr);
    if (fd < 0) return;
    if (tcp.fd >= 0) CloseTcpClient("replaced by a new connection");
    SetNonBlocking(fd);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    tcp.fd = fd;
    ResetPeer(tcp);
    Log("[tcp] client connected");
  }

  bool OpenTcp() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(opt.port));
    if (inet_pton(AF_INET, opt.listenAddress.c_str(), &addr.sin_addr) != 1) {
      std::fprintf(stderr, "kolibra-ecr-sim: '%s' is not an IPv4 address\n",
                   opt.listenAddress.c_str());
      return false;
    }
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (listenFd < 0 ||
        setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd, 4) != 0 || !SetNonBlocking(listenFd)) {
      std::fprintf(stderr, "kolibra-ecr-sim: cannot listen on %s:%d: %s\n",
                   opt.listenAddress.c_str(), opt.port, std::strerror(errno));
      return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("tcp %s:%d\n", opt.listenAddress.c_str(), ntohs(addr.sin_port));
    return true;
  }

  bool OpenPty() {
    int master = -1;
    if (openpty(&master, &ptySlave, nullptr, nullptr, nullptr) != 0) {
      std::fprintf(stderr, "kolibra-ecr-sim: cannot create a pseudo-terminal: %s\n",
                   std::strerror(errno));
      return false;
    }
    // Our own handle on the slave stays open: without it the master reports
    // a hang-up whenever the driver has the port closed.
    termios tio;
    if (tcgetattr(ptySlave, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(ptySlave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(ptySlave, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(master);
    const char* name = ptsname(master);
    ptyPath = name ? name : "";
    pty.fd = master;
    if (!opt.ptyLink.empty()) {
      struct stat st;
      if (lstat(opt.ptyLink.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
          std::fprintf(stderr, "kolibra-ecr-sim: %s exists and is not a symbolic link\n",
                       opt.ptyLink.c_str());
          return false;
        }
        unlink(opt.ptyLink.c_str());
      }
      if (symlink(ptyPath.c_str(), opt.ptyLink.c_str()) != 0) {
        std::fprintf(stderr, "kolibra-ecr-sim: cannot link %s: %s\n", opt.ptyLink.c_str(),
                     std::strerror(errno));
        return false;
      }
      linkCreated = true;
    }
    std::printf("pty %s\n", ptyPath.c_str());
    return true;
  }

  void RemoveLink() {
    if (!linkCreated) return;
    char target[4096];
    ssize_t n = readlink(opt.ptyLink.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<size_t>(n)) == ptyPath) {
      unlink(opt.ptyLink.c_str());
    }
    linkCreated = false;
  }

  void Run() {
    const int64_t deadline = opt.exitAfterMs >= 0 ? NowMs() + opt.exitAfterMs : -1;
    for (;;) {
      int64_t now = NowMs();
      if (deadline >= 0 && now >= deadline) break;
      Flush(tcp, now);
      Flush(pty, now);

      int64_t wake = deadline;
      for (Peer* p : {&tcp, &pty}) {
        // A chunk still being written waits for POLLOUT, not for a timer.
        if (p->fd >= 0 && p->out.empty() && !p->scheduled.empty()) {
          int64_t due = p->scheduled.front().due;
          if (wake < 0 || due < wake) wake = due;
        }
      }
      int timeout = -1;
      if (wake >= 0) timeout = static_cast<int>(std::min<int64_t>(std::max<int64_t>(wake - now, 0), 60000));

      pollfd fds[4];
      int count = 0;
      fds[count++] = pollfd{g_signalPipe[0], POLLIN, 0};
      int listenIndex = -1, tcpIndex = -1, ptyIndex = -1;
      if (listenFd >= 0) {
        listenIndex = count;
        fds[count++] = pollfd{listenFd, POLLIN, 0};
      }
      if (tcp.fd >= 0) {
        tcpIndex = count;
        fds[count++] = pollfd{tcp.fd, static_cast<short>(POLLIN | (tcp.out.empty() ? 0 : POLLOUT)), 0};
      }
      if (pty.fd >= 0) {
        ptyIndex = count;
        fds[count++] = pollfd{pty.fd, static_cast<short>(POLLIN | (pty.out.empty() ? 0 : POLLOUT)), 0};
      }
      int ready = poll(fds, static_cast<nfds_t>(count), timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        std::fprintf(stderr, "kolibra-ecr-sim: poll failed: %s\n", std::strerror(errno));
        break;
      }
      now = NowMs();
      if (fds[0].revents) break;  // SIGINT or SIGTERM
      if (tcpIndex >= 0 && tcp.fd >= 0 && fds[tcpIndex].revents) {
        if (fds[tcpIndex].revents & (POLLIN | POLLHUP | POLLERR)) ReadFrom(tcp, now);
      }
      if (ptyIndex >= 0 && fds[ptyIndex].revents & POLLIN) ReadFrom(pty, now);
      if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) Accept();
    }
    if (opt.verbose) {
      std::fprintf(stderr, "kolibra-ecr-sim: %d receipts closed, %ld ACK received\n",
                   ecr.receipt.receiptsClosed, acks);
    }
    CloseTcpClient("exiting");
    RemoveLink();
  }
};

}  // namespace
}  // namespace ecrsim

int main(int argc, char** argv) {
  using namespace ecrsim;
  Sim sim;
  std::string error;
  if (!ParseOptions(argc, argv, sim.opt, error)) {
    std::fprintf(stderr, "kolibra-ecr-sim: %s\nTry --help.\n", error.c_str());
    return 2;
  }
  if (sim.opt.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  InitEcr(sim.ecr, sim.opt.ecr);
  sim.tcp.name = "tcp";
  sim.pty.name = "pty";
  sim.pty.serial = true;

  if (pipe(g_signalPipe) != 0) return 1;
  for (int fd : g_signalPipe) {
    SetNonBlocking(fd);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  bool ok = (!sim.opt.tcp || sim.OpenTcp()) && (!sim.opt.pty || sim.OpenPty());
  std::fflush(stdout);
  if (!ok) {
    sim.RemoveLink();
    return 1;
  }
  sim.Run();
  return 0;
}
