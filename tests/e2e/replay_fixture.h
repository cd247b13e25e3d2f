// Sessions traced by the driver and replayed by the simulator to a fresh
// driver: what one left, and the checks that a replay gave the same.
#pragma once

#include <cstdio>

#include "e2e/e2e_fixture.h"

namespace kolibra::e2e {

// The traces of one job's session and the result files it left.
struct Session {
  std::string dump, job;
  std::map<std::string, std::string> results;
};

// What a simulator run with --verbose wrote to the driver, from its log.
inline std::string SentBytes(const std::string& log) {
  std::string out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[tcp] -> ") || line.starts_with("[pty] -> ")) out += line.substr(9);
  }
  return out;
}

// Milliseconds from a trace's first line to its last (within a day).
inline long TracedMs(const std::string& trace) {
  const auto ms = [](const std::string& line) {
    return ((std::stol(line.substr(9, 2)) * 60 + std::stol(line.substr(11, 2))) * 60 + std::stol(line.substr(13, 2))) *
               1000 +
           std::stol(line.substr(16, 3));
  };
  const std::size_t last = trace.rfind('\n', trace.size() - 2) + 1;
  const long d = ms(trace.substr(last)) - ms(trace);
  return d < 0 ? d + 86400000 : d;
}

class TracedE2E : public DriverE2E {
 protected:
  void SetUp() override {
    DriverE2E::SetUp();
    trace_ = true;
  }

  // The result files, the dump's trace and the job's (the only one so far).
  Session Keep() {
    Session s;
    for (const char* f : {"FINESCO.001", "SR_ERR.001", "SR_OUT.001", "SR_MATR.001", "SR_DATI.001"}) {
      s.results[f] = fs::exists(data_ / f) ? ReadFile(data_ / f) : "(none)";
    }
    s.dump = ReadFile(data_ / "tracedump.txt");
    for (const auto& f : fs::recursive_directory_iterator(data_)) {
      if (f.is_regular_file() && f.path().filename().string().starts_with("TRACE_")) s.job = ReadFile(f.path());
    }
    return s;
  }

  // Stops the driver and the simulator, then runs `commands` for a fresh
  // driver (an empty data folder) against the simulator replaying `played`;
  // `replayed` is what that left.
  void RunReplayed(bool pty, const Session& played, const char* commands, int jobMs, Session& replayed,
                   const std::vector<std::string>& extra = {}) {
    ASSERT_FALSE(played.job.empty()) << "no job trace";
    driver_.Stop();
    sim_.Stop();
    fs::remove_all(data_);
    fs::create_directories(data_);
    WriteFile(root_ / "tracedump.txt", played.dump);
    WriteFile(root_ / "job.txt", played.job);
    std::vector<std::string> args{"--replay", (root_ / "tracedump.txt").string(), "--replay",
                                  (root_ / "job.txt").string(), "--replay-speed", "10", "--verbose"};
    args.insert(args.end(), extra.begin(), extra.end());
    simLogFrom_ = ReadFile(root_ / "sim.log").size();
    ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(pty, args));
    ASSERT_TRUE(RunJob(commands, jobMs));
    replayed = Keep();
    sim_.Stop();
  }

  // What the replaying simulator wrote on stderr.
  std::string ReplayLog() { return ReadFile(root_ / "sim.log").substr(simLogFrom_); }

  // The same result files and answers (the recording simulator ran with
  // --verbose), every command of the traces played in order and nothing
  // else, and no longer than recorded.
  void ExpectReplayedAsRecorded(const Session& recorded, const Session& replayed) {
    EXPECT_EQ(replayed.results, recorded.results);
    const std::string log = ReplayLog();
    // From the dump's first request on: tracedump.txt lacks the reset before it.
    const auto fromDump = [](const std::string& log) {
      const std::string bytes = SentBytes(log);
      return bytes.substr(std::min(bytes.find("48F"), bytes.size()));
    };
    const std::string answers = fromDump(log);
    EXPECT_EQ(fromDump(ReadFile(root_ / "sim.log").substr(0, simLogFrom_)).substr(0, answers.size()), answers);
    EXPECT_LE(TracedMs(replayed.job), TracedMs(recorded.job) + 1000);
    std::size_t played = 0, steps = 0;
    long differences = -1;
    const std::size_t at = log.rfind("replay: ");
    ASSERT_NE(at, std::string::npos) << log;
    ASSERT_EQ(std::sscanf(log.c_str() + at, "replay: %zu of %zu commands played, %ld differences", &played,
                          &steps, &differences),
              3)
        << log;
    EXPECT_EQ(played, steps) << log;
    EXPECT_EQ(differences, 0) << log;
  }

  std::size_t simLogFrom_ = 0;
};

}  // namespace kolibra::e2e
