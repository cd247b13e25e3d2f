// The link against the ECR simulator, in process:
//  - a 200-line receipt sent with SendJobLines over loopback TCP and over a
//    pseudo-terminal: the driver's own CPU time per line, and its wall time
//    against a bare client that sends the same lines and waits for the same
//    answers (what the simulator's pacing and the round trips alone take);
//  - a silent ECR: the CPU time the full retry cycle of SendCommand over TCP
//    costs while it waits out its ten time-outs.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app_context.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/transmission.h"
#include "platform/posix/posix_platform.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace kolibra;

constexpr int kGapMs = 20;  // the simulator's pacing between answer chunks
constexpr int kLines = 200;

double CpuNowMs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double WallNowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// 199 sale lines and the payment line that closes the receipt.
std::vector<std::string> ReceiptLines() {
  std::vector<std::string> lines;
  for (int i = 1; i < kLines; ++i) lines.push_back("\"ARTICOLO " + std::to_string(i) + "\"123H1R");
  lines.push_back("1T");
  return lines;
}

using support::EcrSimulator;

// A client without the driver: writes each line and reads until the answers
// the simulator owes it have come (echo, plus the second answer on TCP; the
// closing reply, acknowledged, after the payment line).
class BareClient {
 public:
  explicit BareClient(int fd, bool tcp) : fd_(fd), tcp_(tcp) {}
  ~BareClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Run(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
      if (!WriteAll(line)) return false;
      const bool closes = line == "1T";
      const std::size_t owed = tcp_ ? 2 * line.size() : line.size();
      std::string got;
      while (got.size() < owed || (closes && got.find('\x03') == std::string::npos)) {
        if (!ReadSome(got)) return false;
      }
      if (closes && !WriteAll("\x06")) return false;
    }
    return true;
  }

 private:
  bool WriteAll(const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
      const ssize_t n = ::write(fd_, s.data() + done, s.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool ReadSome(std::string& got) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) return false;
    got.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  int fd_;
  bool tcp_;
};

int ConnectTcp(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

int OpenPty(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios tio;
  if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}

// The driver's link on the POSIX platform, writing the closing reply to a
// scratch output file.
struct Driver {
  PosixPlatform posix;
  AppContext ctx{posix.platform()};
  fs::path dir;

  Driver() {
    std::string t = (fs::temp_directory_path() / "kolibra-linkbench-XXXXXX").string();
    if (::mkdtemp(t.data())) dir = t;
    ctx.link.outputPath = (dir / "SR_OUT.001").string();
    InitLink(ctx);
  }
  ~Driver() {
    posix.socket().Close();
    CloseSerialPort(ctx);
    if (!dir.empty()) fs::remove_all(dir);
  }
  bool UseTcp(int port) {
    ctx.settings.linkMode = LinkMode::kNetwork;
    ctx.settings.address = "127.0.0.1";
    ctx.link.remotePort = port;
    return Reconnect(ctx, 10);
  }
  bool UsePty(const std::string& path) {
    ctx.settings.linkMode = LinkMode::kSerial;
    ctx.job.currentSlot = 1;
    posix.serial().SetDevicePath(1, path);
    if (!ConfigureSerialPort(ctx, 1).ok()) return false;
    return posix.serial().Open().ok();
  }
  // The output file holds the two records built from the closing reply.
  bool ReplyWritten() const {
    std::error_code ec;
    return fs::file_size(ctx.link.outputPath, ec) > 20 && !ec;
  }
};

double RusageMs(bool system) {
  rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  const timeval& tv = system ? ru.ru_stime : ru.ru_utime;
  return tv.tv_sec * 1e3 + tv.tv_usec / 1e3;
}

std::vector<std::string> SimArgs(bool tcp, bool merged) {
  std::vector<std::string> args{"--gap-ms", std::to_string(kGapMs), "--delay-ms", "0"};
  if (merged) args.push_back("--merge-answer");
  if (tcp) {
    args.insert(args.end(), {"--port", "0"});
  } else {
    args.insert(args.end(), {"--no-tcp", "--pty"});
  }
  return args;
}

// Each round sends the receipt once with the bare client and once with the
// driver, each against a simulator of its own with the same pacing, so that
// both see the same machine load. The reported time is the driver's.
void MeasureStream(benchmark::State& state, bool tcp, bool merged = false) {
  EcrSimulator bareSim, driverSim;
  if (!bareSim.Start(SimArgs(tcp, merged)) || !driverSim.Start(SimArgs(tcp, merged))) {
    state.SkipWithError("simulator did not start");
    return;
  }
  Driver driver;
  if (!(tcp ? driver.UseTcp(driverSim.Port()) : driver.UsePty(driverSim.Endpoint("pty")))) {
    state.SkipWithError("driver could not open the link");
    return;
  }
  const auto lines = ReceiptLines();
  double cpu = 0, user = 0, sys = 0, wall = 0, bareCpu = 0, bareWall = 0;
  int rounds = 0;
  for (auto _ : state) {
    {
      const int fd = tcp ? ConnectTcp(bareSim.Port()) : OpenPty(bareSim.Endpoint("pty"));
      BareClient bare(fd, tcp);
      const double w0 = WallNowMs();
      const double c0 = CpuNowMs();
      if (fd < 0 || !bare.Run(lines)) {
        state.SkipWithError("bare client did not get its answers");
        return;
      }
      bareCpu += CpuNowMs() - c0;
      bareWall += WallNowMs() - w0;
    }
    driver.ctx.tenderLineCount = 1;
    const double u0 = RusageMs(false), s0 = RusageMs(true);
    const double w0 = WallNowMs();
    const double c0 = CpuNowMs();
    const bool ok = SendJobLines(driver.ctx, lines);
    cpu += CpuNowMs() - c0;
    state.SetIterationTime((WallNowMs() - w0) / 1000.0);
    wall += WallNowMs() - w0;
    user += RusageMs(false) - u0;
    sys += RusageMs(true) - s0;
    if (!ok || !driver.ReplyWritten()) {
      state.SkipWithError("SendJobLines failed or wrote no closing reply");
      return;
    }
    ++rounds;
  }
  // Answer chunks paced by the gap: on TCP the second answer follows each
  // echo and the closing reply follows the last one; on the serial line only
  // the closing reply follows its line's write.
  const double pacingMs = tcp ? (kLines + 1) * kGapMs : kGapMs;
  const double perLine = 1000.0 / rounds / kLines;  // ms per run -> us per line
  const double wallMs = wall / rounds;
  const double bareMs = bareWall / rounds;
  state.counters["cpu_us_per_line"] = cpu * perLine;
  state.counters["ratio_to_50us_target"] = cpu * perLine / 50.0;
  state.counters["cpu_user_us_per_line"] = user * perLine;
  state.counters["cpu_sys_us_per_line"] = sys * perLine;
  state.counters["bare_cpu_us_per_line"] = bareCpu * perLine;
  state.counters["wall_ms_driver"] = wallMs;
  state.counters["wall_ms_bare_client"] = bareMs;
  state.counters["pacing_ms_computed"] = pacingMs;
  state.counters["wall_ratio_to_pacing"] = wallMs / bareMs;
  state.counters["wall_ratio_to_computed_pacing"] = wallMs / pacingMs;
}

void BM_Stream200LinesTcp(benchmark::State& state) { MeasureStream(state, true); }
BENCHMARK(BM_Stream200LinesTcp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

// Echo and second answer in one segment, as serial-to-Ethernet bridges send
// them: should cost no more than the split answers above.
void BM_Stream200LinesTcpMergedAnswers(benchmark::State& state) { MeasureStream(state, true, true); }
BENCHMARK(BM_Stream200LinesTcpMergedAnswers)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_Stream200LinesPty(benchmark::State& state) { MeasureStream(state, false); }
BENCHMARK(BM_Stream200LinesPty)->Iterations(10)->Unit(benchmark::kMillisecond)->UseManualTime();

// SendCommand over TCP to an ECR that never answers: ten 3000 ms time-outs,
// each followed by a 300 ms pause, measured whole.
void BM_SilentEcrFullCycleTcp(benchmark::State& state) {
  EcrSimulator sim;
  if (!sim.Start({"--port", "0", "--silent"})) {
    state.SkipWithError("simulator did not start");
    return;
  }
  Driver driver;
  if (!driver.UseTcp(sim.Port())) {
    state.SkipWithError("driver could not connect");
    return;
  }
  double cpu = 0, wall = 0;
  int rounds = 0;
  for (auto _ : state) {
    const double w0 = WallNowMs();
    const double c0 = CpuNowMs();
    const bool ok = SendCommand(driver.ctx, "\"ARTICOLO 1\"123H1R");
    cpu += CpuNowMs() - c0;
    wall += WallNowMs() - w0;
    if (ok) {
      state.SkipWithError("a silent ECR confirmed the command");
      return;
    }
    ++rounds;
  }
  const double cpuMs = cpu / rounds;
  state.counters["cpu_ms_full_cycle"] = cpuMs;
  state.counters["ratio_to_10ms_target"] = cpuMs / 10.0;
  state.counters["wall_s_full_cycle"] = wall / rounds / 1000.0;
}
BENCHMARK(BM_SilentEcrFullCycleTcp)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
