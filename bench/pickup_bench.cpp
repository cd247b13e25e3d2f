// How soon an idle driver takes a job, against the simulator over loopback
// TCP at the default 1000 ms polling, with the data folder watched and with
// the watch switched off (KOLIBRA_NO_FOLDER_WATCH, as where no changes
// arrive):
//  - pickup: from the start file written to the driver's first act on the
//    link, the close of its connection before the new connect of the job,
//    seen by a relay between driver and simulator; median and 95th
//    percentile over 50 jobs written at random moments of the polling period;
//  - the driver's idle CPU over 60 s.
// KOLIBRA_PICKUP_DRIVER, when set, is the command (words split at blanks)
// that runs the driver in place of build/kolibra: scripts/bench-windows.sh
// runs kolibra.exe under Wine this way, for the pickup figures only.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
const std::string kBin = KOLIBRA_BINARY_DIR;

using kolibra::support::ChildProcess;
using kolibra::support::EcrSimulator;
using kolibra::support::ProcessCpuMs;
using kolibra::support::WaitFor;
using kolibra::support::WriteFile;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// Passes bytes between the driver and the simulator, one connection at a
// time, and notes when the driver closes its side.
class Relay {
 public:
  explicit Relay(int simPort) : simPort_(simPort) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 4);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  int port() const { return port_; }
  int64_t lastCloseUs() const { return lastClose_; }

 private:
  void Run() {
    int driver = -1, sim = -1;
    char buf[4096];
    while (!stop_) {
      pollfd p[3] = {{listen_, POLLIN, 0}, {driver, POLLIN, 0}, {sim, POLLIN, 0}};
      if (poll(p, 3, 50) <= 0) continue;
      if (p[0].revents & POLLIN) {
        const int c = accept(listen_, nullptr, nullptr);
        if (driver >= 0) close(driver);
        if (sim >= 0) close(sim);
        driver = c;
        sim = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(simPort_));
        connect(sim, reinterpret_cast<sockaddr*>(&a), sizeof a);
        continue;
      }
      for (int i = 1; i <= 2; ++i) {
        if (p[i].fd < 0 || p[i].revents == 0) continue;
        const ssize_t n = read(p[i].fd, buf, sizeof buf);
        if (n <= 0) {
          if (i == 1) lastClose_ = NowUs();
          close(driver);
          close(sim);
          driver = sim = -1;
          break;
        }
        ssize_t ignored = write(i == 1 ? sim : driver, buf, static_cast<size_t>(n));
        (void)ignored;
      }
    }
    if (driver >= 0) close(driver);
    if (sim >= 0) close(sim);
  }

  int simPort_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> lastClose_{0};
  std::thread thread_;
};

struct Rig {
  fs::path root, data, settings;
  EcrSimulator sim;
  std::unique_ptr<Relay> relay;
  ChildProcess driver;
  bool ok = false;

  explicit Rig(bool watched) {
    std::string t = (fs::temp_directory_path() / "kolibra-pickup-XXXXXX").string();
    if (!mkdtemp(t.data())) return;
    root = t;
    data = root / "data";
    settings = root / "settings";
    fs::create_directories(data);
    fs::create_directories(settings);
    WriteFile(settings / "KBCHKCOM.TXT", "1000\r\n");
    WriteFile(settings / "KBTIMER1.TXT", "1\r\n");
    WriteFile(settings / "KBCHKSCO.TXT", "0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n");
    if (!sim.Start({"--port", "0"}, 1, root / "sim.log")) return;
    relay = std::make_unique<Relay>(sim.Port());
    if (!watched) setenv("KOLIBRA_NO_FOLDER_WATCH", "1", 1);
    std::vector<std::string> argv;
    if (const char* command = getenv("KOLIBRA_PICKUP_DRIVER"); command != nullptr && *command != '\0') {
      std::istringstream words(command);
      for (std::string w; words >> w;) argv.push_back(w);
    } else {
      argv.push_back(kBin + "/kolibra");
    }
    for (const std::string& a : {std::string("--headless"), std::string("--settings-dir"), settings.string(),
                                 std::string("--data-dir"), data.string(), std::string("--ecr-port"),
                                 std::to_string(relay->port())}) {
      argv.push_back(a);
    }
    const bool started = driver.Start(argv, root / "driver.log");
    unsetenv("KOLIBRA_NO_FOLDER_WATCH");
    ok = started && WaitFor([&] { return fs::exists(data / "SR_MATR.001"); }, 60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past the dump's pause
  }
  ~Rig() {
    driver.Stop();
    relay.reset();
    if (!root.empty()) fs::remove_all(root);
  }
};

// Argument: 1 = the folder watched, 0 = polling alone.
void BM_Pickup(benchmark::State& state) {
  Rig rig(state.range(0) == 1);
  if (!rig.ok) {
    state.SkipWithError("driver or simulator did not start");
    return;
  }
  std::mt19937 random(7);
  std::uniform_int_distribution<int> phase(0, 999);
  std::vector<double> pickups;
  for (auto _ : state) {
    for (int job = 0; job < 50; ++job) {
      // Idle, past the pause, at a random moment of the polling period.
      std::this_thread::sleep_for(std::chrono::milliseconds(1100 + phase(random)));
      WriteFile(rig.data / "SR_DATI.001", "SALE,N1,P100;\r\nTEND,N1;\r\n");
      const int64_t t0 = NowUs();
      WriteFile(rig.data / "SR_START.001", "1\r\n");
      if (!WaitFor([&] { return rig.relay->lastCloseUs() > t0; }, 5000) ||
          !WaitFor([&] { return !fs::exists(rig.data / "SR_START.001"); }, 30000)) {
        state.SkipWithError("job not taken");
        return;
      }
      pickups.push_back((rig.relay->lastCloseUs() - t0) / 1000.0);
    }
  }
  std::sort(pickups.begin(), pickups.end());
  state.counters["pickup_median_ms"] = pickups[pickups.size() / 2];
  state.counters["pickup_p95_ms"] = pickups[(pickups.size() * 95) / 100];
  state.counters["ratio_median_to_20ms_target"] = pickups[pickups.size() / 2] / 20.0;
}
BENCHMARK(BM_Pickup)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdleCpuPer60s(benchmark::State& state) {
  Rig rig(state.range(0) == 1);
  if (!rig.ok) {
    state.SkipWithError("driver or simulator did not start");
    return;
  }
  for (auto _ : state) {
    const double before = ProcessCpuMs(rig.driver.pid());
    std::this_thread::sleep_for(std::chrono::seconds(60));
    state.counters["cpu_ms_per_60s"] = ProcessCpuMs(rig.driver.pid()) - before;
  }
}
BENCHMARK(BM_IdleCpuPer60s)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
