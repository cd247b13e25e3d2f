// kolibra-ecr-sim: plays the fiscal cash register over TCP and/or a
// pseudo-terminal. Single-threaded; every wait is one poll() bounded by the
// next scheduled answer, the next paced byte or the exit deadline.
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
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ecr.h"
#include "options.h"
#include "replay.h"
#include "tally.h"

namespace ecrsim {
namespace {

constexpr char kAck = 0x06;
constexpr char kXoff = 0x13;
constexpr char kXon = 0x11;
// What the ECR answers, in place of the second answer, to a command it
// cannot print for want of paper.
constexpr const char* kPaperOutAnswer = "ERR07";
// A paced line that fell behind by more than this restarts from now rather
// than catching up in a burst.
constexpr int64_t kPaceSlackUs = 2000;
constexpr size_t kReadSize = 4096;
// Answers a peer has not taken yet; beyond this the peer is dropped (TCP)
// or the backlog is discarded (pty), so memory stays bounded.
constexpr size_t kMaxBacklog = 256 * 1024;

int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t NowMs() { return NowUs() / 1000; }

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
  bool reboot = false;  // no bytes: the ECR reboots once the chunks before it went out
};

// One write of an answer, `afterMs` after the previous one (or after the
// command, for the first).
struct Piece {
  std::string bytes;
  long afterMs = 0;
};

struct Peer {
  const char* name = "";
  bool serial = false;
  int fd = -1;
  std::deque<Chunk> scheduled;
  std::string out;    // the chunk being written, not yet taken by the peer
  size_t queued = 0;  // bytes in `out` and `scheduled`
  bool writeBlocked = false;  // the last write would have blocked: wait for POLLOUT
  int64_t lineFreeUs = 0;     // paced pty: when the bytes written so far are out
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
  long commands = 0;  // over both links, for --paper-out and --reboot-after
  bool rebootPending = false;
  int64_t rebootUntil = -1;
  bool cutDone = false;         // --cut-at-close has cut the link
  int64_t ptyDeafUntil = -1;    // the cut pty ignores commands until then
  LineTally tally;
  std::unique_ptr<Replay> replay;  // set with --replay

  void Log(const std::string& line) {
    if (opt.verbose) std::fprintf(stderr, "%s\n", line.c_str());
  }

  void ResetPeer(Peer& p) {
    DiscardBacklog(p);
    p.commands = 0;
    p.stopped = false;
    p.awaitingAck = false;
    p.writeBlocked = false;
  }

  bool Rebooting(int64_t now) const { return now < rebootUntil; }

  static bool HoldsReboot(const Peer& p) {
    return std::any_of(p.scheduled.begin(), p.scheduled.end(), [](const Chunk& c) { return c.reboot; });
  }

  // The ECR restarts: the TCP client is dropped, pending answers are lost
  // and the open receipt is forgotten.
  void Reboot(int64_t now) {
    if (!rebootPending) return;
    rebootPending = false;
    rebootUntil = now + opt.rebootMs;
    Log("[ecr] rebooting (--reboot-after)");
    ecr.receipt.sales = 0;
    ecr.receipt.tendered = 0;
    tally.Forget();
    CloseTcpClient("reboot");
    DiscardBacklog(pty);
    pty.awaitingAck = false;
  }

  // Rewrites the stats file whole, through a temporary file, so that a
  // reader never sees half of it.
  void WriteStats() {
    if (opt.statsFile.empty()) return;
    const std::string text = tally.StatsText();
    const std::string temp = opt.statsFile + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok || std::rename(temp.c_str(), opt.statsFile.c_str()) != 0) {
      std::fprintf(stderr, "kolibra-ecr-sim: cannot write %s: %s\n", opt.statsFile.c_str(),
                   std::strerror(errno));
    }
  }

  void CloseTcpClient(const char* why) {
    if (tcp.fd < 0) return;
    Log(std::string("[tcp] connection closed (") + why + ")");
    close(tcp.fd);
    tcp.fd = -1;
    ResetPeer(tcp);
  }

  // Queues the pieces as chunks of their own; answers to an earlier command
  // still waiting are followed a gap later.
  void Schedule(Peer& p, const std::vector<Piece>& pieces, int64_t now) {
    int64_t t = now;
    if (!p.scheduled.empty()) t = std::max(t, p.scheduled.back().due + opt.gapMs);
    for (const Piece& piece : pieces) {
      t += piece.afterMs;
      p.scheduled.push_back(Chunk{t, piece.bytes});
      p.queued += piece.bytes.size();
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
    if (replay) {
      PlayStep(p, command, now);
      return;
    }
    if (p.stopped || opt.silent || Rebooting(now) || (p.serial && now < ptyDeafUntil)) return;

    ++p.commands;
    ++commands;
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

    // What follows the echo: on TCP the second answer, on the pty the dump
    // answer that the same write carries after the echo.
    std::string second;
    CommandAnswers answers;
    if (commands == opt.paperOut) {
      Log(std::string("[") + p.name + "] paper out: command not taken");
      second = kPaperOutAnswer;
    } else {
      answers = HandleCommand(ecr, command);
      second = p.serial ? answers.serialWrite.substr(std::min(command.size(), answers.serialWrite.size()))
                        : answers.second;
      if (command == " K") {
        tally.Forget();
      } else if (!IsDumpCommand(command)) {
        tally.Take(command);
      }
    }
    if (answers.closesReceipt && opt.cutAtClose && !cutDone) {
      CutAtClose(p, now);
      return;
    }
    if (opt.echoOnly) second.clear();
    std::string echo = command;
    if (opt.garbageEcho) {
      echo = Garble(echo);
      second = Garble(second);
    }
    if (opt.xoff) echo += kXoff;

    // The pty writes echo and answer at once unless the answer is delayed;
    // TCP does so only with --merge-answer. After an XOFF with --xon-after
    // nothing more comes before the XON.
    const bool xon = opt.xonAfterMs >= 0;
    const bool merge = !xon && (p.serial ? opt.answerDelayMs == 0 : opt.mergeAnswer);
    const long between = opt.gapMs + opt.delayMs;
    std::vector<Piece> pieces;
    if (merge) {
      pieces.push_back({echo + second, opt.delayMs + opt.echoDelayMs + opt.answerDelayMs});
    } else {
      pieces.push_back({echo, opt.delayMs + opt.echoDelayMs});
    }
    if (xon) pieces.push_back({std::string(1, kXon), opt.xonAfterMs});
    if (!merge && !second.empty()) pieces.push_back({second, between + opt.answerDelayMs});

    if (answers.closesReceipt) {
      time_t wall = time(nullptr);
      tm local{};
      localtime_r(&wall, &local);
      std::string reply = BuildClosingReply(ecr, local);
      tally.Close();
      WriteStats();
      if (!opt.echoOnly && !opt.noClosing) {
        const size_t parts = std::min(static_cast<size_t>(opt.replyChunks), reply.size());
        const long pause = opt.chunkPauseMs >= 0 ? opt.chunkPauseMs : opt.gapMs;
        for (size_t i = 0, from = 0; i < parts; ++i) {
          // Equal parts, the longer ones first.
          const size_t size = reply.size() / parts + (i < reply.size() % parts ? 1 : 0);
          pieces.push_back({reply.substr(from, size), i == 0 ? between + opt.replyDelayMs : pause});
          from += size;
        }
        p.awaitingAck = true;
      }
    }
    Schedule(p, pieces, now);
    if (commands == opt.rebootAfter && p.fd >= 0) {
      const int64_t at = p.scheduled.empty() ? now : p.scheduled.back().due;
      p.scheduled.push_back(Chunk{at, "", true});
      rebootPending = true;
    }
  }

  // Answers the command with the trace's next step; the receipt bookkeeping
  // follows the commands, and the receipt closes with a traced closing reply.
  void PlayStep(Peer& p, const std::string& command, int64_t now) {
    std::string report;
    const ReplayStep* step = replay->Next(command, report);
    if (!report.empty()) std::fprintf(stderr, "kolibra-ecr-sim: replay: %s\n", report.c_str());
    if (command == " K") {
      tally.Forget();
    } else if (!IsDumpCommand(command)) {
      tally.Take(command);
    }
    if (step == nullptr) return;
    std::vector<Piece> pieces;
    if (step->reset) {
      // The reset's answers as the ECR of this link gives them.
      pieces.push_back({command, 0});
      if (!p.serial) pieces.push_back({"K", opt.gapMs});
    }
    std::string bytes;
    for (const ReplayAnswer& a : step->answers) {
      pieces.push_back({a.bytes, a.afterMs / opt.replaySpeed});
      bytes += a.bytes;
    }
    const std::size_t stx = bytes.find('\x02');
    if (stx != std::string::npos && bytes.find('\x03', stx) != std::string::npos) {
      tally.Close();
      WriteStats();
      p.awaitingAck = true;
    }
    Schedule(p, pieces, now);
  }

  static constexpr std::size_t kMaxTraceBytes = 64u << 20;

  // Reads the --replay files in order; false, said on stderr, when one
  // cannot be read or is no trace: not a plain file (a folder, a device such
  // as /dev/zero), larger than any trace, or without a single traced command
  // (an empty file, random bytes).
  bool LoadReplay() {
    if (opt.replayFiles.empty()) return true;
    std::vector<ReplayStep> steps;
    for (const std::string& path : opt.replayFiles) {
      const auto refuse = [&](const char* why) {
        std::fprintf(stderr, "kolibra-ecr-sim: %s: %s\n", path.c_str(), why);
        return false;
      };
      struct stat st;
      if (stat(path.c_str(), &st) != 0) return refuse("cannot read it");
      if (!S_ISREG(st.st_mode)) return refuse("not a trace file (not a plain file)");
      if (static_cast<unsigned long long>(st.st_size) > kMaxTraceBytes) return refuse("not a trace file (over 64 MB)");
      std::ifstream in(path, std::ios::binary);
      std::string text;
      char block[65536];
      // In blocks, so that a file that grows meanwhile is still capped.
      while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxTraceBytes) return refuse("not a trace file (over 64 MB)");
      }
      if (!in.is_open() || in.bad()) return refuse("cannot read it");
      const std::size_t slash = path.find_last_of('/');
      const std::size_t before = steps.size();
      ParseTrace(text, slash == std::string::npos ? path : path.substr(slash + 1), steps);
      if (steps.size() == before) return refuse("not a kolibra trace (no traced command in it)");
    }
    replay = std::make_unique<Replay>(std::move(steps), opt.replayStop);
    return true;
  }

  // The receipt is printed, then the link goes before the command that closed
  // it is answered: the driver cannot know whether it was taken.
  void CutAtClose(Peer& p, int64_t now) {
    cutDone = true;
    time_t wall = time(nullptr);
    tm local{};
    localtime_r(&wall, &local);
    BuildClosingReply(ecr, local);
    tally.Close();
    WriteStats();
    if (!p.serial) {
      CloseTcpClient("--cut-at-close");
    } else {
      Log("[pty] no answers for a while (--cut-at-close)");
      DiscardBacklog(p);
      ptyDeafUntil = now + opt.rebootMs;
    }
  }

  bool Paced(const Peer& p) const { return p.serial && opt.baud > 0; }
  // 10 bits a byte.
  int64_t ByteUs() const { return 10000000 / opt.baud; }

  // Writes the due chunks, each with a write of its own, as far as the peer
  // takes them; on a paced pty only the bytes the line has carried by now
  // (and up to a millisecond ahead).
  void Flush(Peer& p, int64_t now) {
    while (p.fd >= 0) {
      if (p.out.empty()) {
        if (p.scheduled.empty() || p.scheduled.front().due > now) return;
        Chunk chunk = std::move(p.scheduled.front());
        p.scheduled.pop_front();
        if (chunk.reboot) {
          Reboot(now);
          return;
        }
        p.out = std::move(chunk.bytes);
        Log(std::string("[") + p.name + "] -> " + Printable(p.out));
        if (p.out.empty()) continue;
      }
      size_t length = p.out.size();
      int64_t start = 0;
      if (Paced(p)) {
        const int64_t nowUs = NowUs();
        if (nowUs < p.lineFreeUs) return;
        start = nowUs - p.lineFreeUs > kPaceSlackUs ? nowUs : p.lineFreeUs;
        const int64_t fits = std::max<int64_t>(1, (nowUs + 1000 - start) / ByteUs());
        length = static_cast<size_t>(std::min<int64_t>(fits, static_cast<int64_t>(length)));
      }
      p.writeBlocked = false;
      ssize_t n = p.serial ? write(p.fd, p.out.data(), length)
                           : send(p.fd, p.out.data(), length, MSG_NOSIGNAL);
      if (n > 0) {
        if (Paced(p)) p.lineFreeUs = start + n * ByteUs();
        p.queued -= static_cast<size_t>(n);
        p.out.erase(0, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        p.writeBlocked = true;
        return;
      }
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

  void Accept(int64_t now) {
    int fd = accept(listenFd, nullptr, nullptr);
    if (fd < 0) return;
    if (Rebooting(now) || (tcp.fd >= 0 && opt.singleClient)) {
      Log(Rebooting(now) ? "[tcp] connection closed at once (rebooting)"
                         : "[tcp] second client closed at once (--single-client)");
      close(fd);
      return;
    }
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
      // A reboot whose place in the answers was discarded happens at once.
      if (rebootPending && !HoldsReboot(tcp) && !HoldsReboot(pty)) Reboot(now);
      Flush(tcp, now);
      Flush(pty, now);

      int64_t wake = deadline;
      for (Peer* p : {&tcp, &pty}) {
        // A chunk that would block waits for POLLOUT, not for a timer.
        if (p->fd < 0 || p->writeBlocked) continue;
        int64_t due = -1;
        if (!p->out.empty()) {
          if (Paced(*p)) due = (p->lineFreeUs + 999) / 1000;  // the line's next byte
        } else if (!p->scheduled.empty()) {
          due = p->scheduled.front().due;
        }
        if (due >= 0 && (wake < 0 || due < wake)) wake = due;
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
        fds[count++] = pollfd{tcp.fd, static_cast<short>(POLLIN | (tcp.writeBlocked ? POLLOUT : 0)), 0};
      }
      if (pty.fd >= 0) {
        ptyIndex = count;
        fds[count++] = pollfd{pty.fd, static_cast<short>(POLLIN | (pty.writeBlocked ? POLLOUT : 0)), 0};
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
      if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) Accept(now);
    }
    std::fprintf(stderr,
                 "kolibra-ecr-sim: receipts closed %ld, lines taken %ld, lines taken twice %ld, "
                 "ACK received %ld\n",
                 tally.receipts(), tally.taken(), tally.duplicates(), acks);
    if (replay) {
      std::fprintf(stderr, "kolibra-ecr-sim: replay: %zu of %zu commands played, %ld differences\n",
                   replay->played(), replay->size(), replay->differences());
    }
    if (opt.verbose) {
      for (const auto& [command, count] : tally.repeated()) {
        std::fprintf(stderr, "kolibra-ecr-sim: taken %ld times in one receipt: %s\n", count,
                     Printable(command).c_str());
      }
    }
    WriteStats();
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
  if (!sim.LoadReplay()) return 2;
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
