// Soak run of the driver against the simulator over loopback TCP:
//   soak_bench [N]   (N jobs, default 300)
// Submits N receipts one after another the way a calling application does
// (the next one a short gap after the previous start file is gone), keeping
// the driver's own pauses, and prints one figure per line: jobs, results,
// receipts the simulator closed, lines it took twice, the driver's memory and
// open file descriptors after the first dump and at the end, and its CPU and
// wall time per job. Exits non-zero when a line was taken twice, a job did not
// finish, or the closed receipts differ from the FINESCO results.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
const std::string kBin = KOLIBRA_BINARY_DIR;

using kolibra::support::ChildProcess;
using kolibra::support::EcrSimulator;
using kolibra::support::ReadFile;
using kolibra::support::WaitFor;
using kolibra::support::WriteFile;

constexpr int kGapMs = 50;         // after the start file is gone
constexpr int kJobTimeoutMs = 60000;

// A "Key:   value kB" line of /proc/PID/status, in kB; -1 if missing.
long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

long OpenFds(pid_t pid) {
  std::error_code ec;
  long n = 0;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end;
       it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

// utime + stime of /proc/PID/stat in seconds. The fields are counted after
// the closing parenthesis of the command name, which may hold spaces.
double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  std::istringstream in(stat.substr(paren + 2));
  std::string field;
  // After ")": state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i < 14; ++i) in >> field;
  unsigned long long utime = 0, stime = 0;
  in >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// One value "key=N" of the simulator's stats file; -1 if missing.
long StatsValue(const std::string& stats, const std::string& key) {
  std::istringstream in(stats);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// Job i: one to five sales with prices, departments, quantities and
// descriptions that change from job to job, then the payment.
std::string Job(int i) {
  std::string job;
  const int sales = 1 + i % 5;
  for (int s = 0; s < sales; ++s) {
    const int cents = 100 + (i * 37 + s * 113) % 9900;
    job += "SALE,N" + std::to_string(1 + (i + s) % 2) + ",P" + std::to_string(cents);
    if ((i + s) % 4 == 0) job += ",Q" + std::to_string(2 + s % 3);
    job += ",:ART " + std::to_string(i) + "-" + std::to_string(s) + ";\r\n";
  }
  job += "TEND,N1;\r\n";
  return job;
}

struct TempDir {
  fs::path path;
  TempDir() {
    std::string t = (fs::temp_directory_path() / "kolibra-soak-XXXXXX").string();
    if (mkdtemp(t.data())) path = t;
  }
  ~TempDir() {
    if (!path.empty()) fs::remove_all(path);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 300;
  if (jobs <= 0) {
    std::fprintf(stderr, "usage: %s [N]   (N jobs, default 300)\n", argv[0]);
    return 2;
  }

  TempDir root;
  if (root.path.empty()) return 2;
  const fs::path data = root.path / "data", settings = root.path / "settings";
  const fs::path statsFile = root.path / "sim.stats";
  fs::create_directories(data);
  fs::create_directories(settings);
  // Slot 1 only, network mode, trace files off, 200 ms polling.
  WriteFile(settings / "KBCHKCOM.TXT", "1000\r\n");
  WriteFile(settings / "KBCHKSCO.TXT", "0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n");
  WriteFile(settings / "KBTIMER1.TXT", "200ms\r\n");

  EcrSimulator sim;
  if (!sim.Start({"--port", "0", "--stats-file", statsFile.string()}, 1, root.path / "sim.log")) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 2;
  }
  ChildProcess driver;
  if (!driver.Start({kBin + "/kolibra", "--headless", "--settings-dir", settings.string(), "--data-dir",
                     data.string(), "--ecr-port", std::to_string(sim.Port())},
                    root.path / "driver.log") ||
      !WaitFor([&] { return fs::exists(data / "SR_MATR.001"); }, 20000)) {
    std::fprintf(stderr, "the driver did not dump slot 1:\n%s\n", ReadFile(root.path / "driver.log").c_str());
    return 2;
  }
  const pid_t pid = driver.pid();
  const long rssStart = StatusKb(pid, "VmRSS"), fdsStart = OpenFds(pid);
  const double cpuStart = CpuSeconds(pid);
  const auto wallStart = std::chrono::steady_clock::now();

  int submitted = 0, finesco = 0, errors = 0, unfinished = 0;
  for (int i = 0; i < jobs; ++i) {
    // The results of the previous job are taken away, as the calling
    // application does, so that each job's result is its own.
    for (const char* f : {"FINESCO.001", "SR_ERR.001", "SR_OUT.001"}) fs::remove(data / f);
    WriteFile(data / "SR_DATI.001", Job(i));
    WriteFile(data / "SR_START.001", "1\r\n");
    ++submitted;
    if (!WaitFor([&] { return !fs::exists(data / "SR_START.001"); }, kJobTimeoutMs)) {
      ++unfinished;
      std::fprintf(stderr, "job %d did not finish within %d ms\n", i + 1, kJobTimeoutMs);
      break;
    }
    if (fs::exists(data / "FINESCO.001")) {
      ++finesco;
    } else {
      ++errors;
      std::fprintf(stderr, "job %d: %s", i + 1, ReadFile(data / "SR_ERR.001").c_str());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kGapMs));
  }

  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const double cpu = CpuSeconds(pid) - cpuStart;
  const long rssEnd = StatusKb(pid, "VmRSS"), fdsEnd = OpenFds(pid);
  const long rssPeak = StatusKb(pid, "VmHWM");
  driver.Stop();
  sim.Stop();  // rewrites the stats file on exit
  const std::string stats = ReadFile(statsFile);
  const long receipts = StatsValue(stats, "receipts"), duplicates = StatsValue(stats, "duplicates");

  std::printf("jobs submitted: %d\n", submitted);
  std::printf("FINESCO results: %d\n", finesco);
  std::printf("error results: %d\n", errors);
  if (unfinished) std::printf("jobs not finished: %d\n", unfinished);
  std::printf("receipts closed: %ld\n", receipts);
  std::printf("lines taken twice: %ld\n", duplicates);
  std::printf("driver RSS kB: start %ld, end %ld (peak %ld)\n", rssStart, rssEnd, rssPeak);
  std::printf("driver open fds: start %ld, end %ld\n", fdsStart, fdsEnd);
  std::printf("driver CPU ms per job: %.2f (%.0f ms in all, in clock ticks of %.0f ms)\n",
              submitted ? cpu * 1000.0 / submitted : 0.0, cpu * 1000.0, 1000.0 / sysconf(_SC_CLK_TCK));
  std::printf("wall ms per job: %.0f\n", submitted ? wall * 1000.0 / submitted : 0.0);

  const bool ok = duplicates == 0 && unfinished == 0 && receipts == finesco;
  return ok ? 0 : 1;
}
