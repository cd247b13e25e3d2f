// The driver as a whole, against the simulator over loopback TCP:
//  - idle CPU at the default 1000 ms polling (scaled to 60 s);
//  - one 50-line receipt: the driver's CPU time for the job and the wall
//    time split into conversion, reset command, sending, closing reply and
//    the pause tick, read from the job's trace file time stamps.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "conversion/convert.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
const std::string kBin = KOLIBRA_BINARY_DIR;

using kolibra::support::ChildProcess;
using kolibra::support::EcrSimulator;
using kolibra::support::ProcessCpuMs;
using kolibra::support::WaitFor;
using kolibra::support::WriteFile;

struct Rig {
  fs::path root, data, settings;
  EcrSimulator sim;
  ChildProcess driver;
  bool ok = false;

  explicit Rig(bool trace, const std::string& polling) {
    std::string t = (fs::temp_directory_path() / "kolibra-bench-XXXXXX").string();
    if (!mkdtemp(t.data())) return;
    root = t;
    data = root / "data";
    settings = root / "settings";
    fs::create_directories(data);
    fs::create_directories(settings);
    WriteFile(settings / "KBCHKCOM.TXT", "1000\r\n");
    WriteFile(settings / "KBTIMER1.TXT", polling + "\r\n");
    WriteFile(settings / "KBCHKSCO.TXT", std::string("0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n") +
                                         (trace ? "1" : "0") + "\r\n0\r\n");
    if (!sim.Start({"--port", "0"}, 1, root / "sim.log")) return;
    if (!driver.Start({kBin + "/kolibra", "--headless", "--settings-dir", settings.string(), "--data-dir",
                       data.string(), "--ecr-port", std::to_string(sim.Port())},
                      root / "driver.log"))
      return;
    ok = WaitFor([&] { return fs::exists(data / "SR_MATR.001"); }, 20000);
  }
  ~Rig() {
    if (!root.empty()) fs::remove_all(root);
  }
};

void BM_IdleCpuPer60s(benchmark::State& state) {
  Rig rig(false, "1");
  if (!rig.ok) {
    state.SkipWithError("driver or simulator did not start");
    return;
  }
  double cpu = 0, seconds = 0;
  for (auto _ : state) {
    double before = ProcessCpuMs(rig.driver.pid());
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += ProcessCpuMs(rig.driver.pid()) - before;
  }
  double per60 = cpu * 60.0 / seconds;
  state.counters["cpu_ms_per_60s"] = per60;
  state.counters["ratio_to_30ms_target"] = per60 / 30.0;
}
BENCHMARK(BM_IdleCpuPer60s)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Milliseconds since midnight of a trace line's time stamp "YYYYMMDD_hhmmss.mmm".
double StampMs(const std::string& line) {
  if (line.size() < 19 || line[8] != '_') return -1;
  auto n = [&](int pos, int len) { return std::stoi(line.substr(pos, len)); };
  return ((n(9, 2) * 60 + n(11, 2)) * 60 + n(13, 2)) * 1000.0 + n(16, 3);
}

// Argument: 1 = trace files on (needed for the breakdown), 0 = off (the
// default setting, for the CPU figure).
void BM_Receipt50Lines(benchmark::State& state) {
  const bool trace = state.range(0) == 1;
  Rig rig(trace, "100ms");
  if (!rig.ok) {
    state.SkipWithError("driver or simulator did not start");
    return;
  }
  std::string job;
  for (int i = 0; i < 49; ++i) job += "SALE,N1,P" + std::to_string(100 + i) + ",:ARTICOLO " + std::to_string(i) + ";\r\n";
  job += "TEND,N1;\r\n";
  double cpu = 0, wall = 0;
  int jobs = 0;
  for (auto _ : state) {
    double before = ProcessCpuMs(rig.driver.pid());
    auto t0 = std::chrono::steady_clock::now();
    WriteFile(rig.data / "SR_DATI.001", job);
    WriteFile(rig.data / "SR_START.001", "1\r\n");
    if (!WaitFor([&] { return !fs::exists(rig.data / "SR_START.001"); }, 60000)) {
      state.SkipWithError("job did not finish");
      return;
    }
    wall += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    cpu += ProcessCpuMs(rig.driver.pid()) - before;
    ++jobs;
    // Let the pause tick pass so the next job is not delayed by it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  }
  state.counters["driver_cpu_ms_per_job"] = cpu / jobs;
  state.counters["ratio_cpu_to_5ms_target"] = cpu / jobs / 5.0;
  state.counters["wall_ms_per_job"] = wall / jobs;

  // Breakdown. The conversion is timed here, on the same command file; the
  // rest comes from the time stamps of the newest trace file: from its first
  // line to the reset command " K" is conversion plus link set-up (the
  // connection is re-opened before every job), then the reset command, the
  // job lines, and the closing reply after the last payment line.
  WriteFile(rig.root / "job.txt", job);
  kolibra::ConversionEnv env;
  std::vector<std::string> lines;
  auto c0 = std::chrono::steady_clock::now();
  kolibra::ConvertCommandFile((rig.root / "job.txt").string(), lines, env);
  const double convMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - c0).count();

  fs::path newest;
  for (auto& d : fs::recursive_directory_iterator(rig.data))
    if (d.path().filename().string().rfind("TRACE_", 0) == 0 && d.is_regular_file() &&
        d.path().filename() > newest.filename())
      newest = d.path();
  std::ifstream in(newest, std::ios::binary);
  std::string line;
  double start = -1, resetSent = -1, firstLine = -1, lastTender = -1, end = -1;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const double t = StampMs(line);
    if (t < 0) continue;
    if (start < 0) start = t;
    if (line.find(" --> ") != std::string::npos) {
      if (resetSent < 0) resetSent = t;
      else if (firstLine < 0) firstLine = t;
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "1T") == 0) lastTender = t;
    }
    end = t;
  }
  state.counters["ms_conversion"] = convMs;
  if (!trace) return;
  if (start >= 0 && firstLine >= 0) {
    state.counters["ms_link_setup"] = resetSent - start - convMs;
    state.counters["ms_reset_command"] = firstLine - resetSent;
    state.counters["ms_sending"] = (lastTender >= 0 ? lastTender : end) - firstLine;
    state.counters["ms_closing_reply"] = lastTender >= 0 ? end - lastTender : 0;
  }
  state.counters["ms_pause_tick"] = 1000;
}
BENCHMARK(BM_Receipt50Lines)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
