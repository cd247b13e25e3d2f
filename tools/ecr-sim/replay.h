// Replay of the driver's own trace files: the commands it sent and what the
// ECR answered to each, so that the simulator can play a shop's ECR.
// Pure logic, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ecrsim {

// One write of the ECR, `afterMs` after the previous one (or the command).
struct ReplayAnswer {
  std::string bytes;
  long afterMs = 0;
  int64_t tracedMs = 0;  // its trace line's time stamp
};

// A command of the trace and what the ECR sent while the driver waited on it.
struct ReplayStep {
  std::string command;
  std::vector<ReplayAnswer> answers;
  // The reset " K" that opens every dump, which tracedump.txt does not hold:
  // answered as any ECR answers it, the link's way.
  bool reset = false;
  std::string where;  // "FILE line N", for the reports
  int64_t sentMs = 0;  // the command's time stamp
};

// Appends the steps of one trace file. The commands are the "-->" lines;
// their answers the "<--" lines that follow, with the lines that only
// repeat a traced answer (the dump's trimmed answers, a closing reply traced
// again once parsed) left out. A dump's trace gets its reset in front.
void ParseTrace(const std::string& text, const std::string& name, std::vector<ReplayStep>& steps);

// Walks the steps as the driver's commands come.
class Replay {
 public:
  explicit Replay(std::vector<ReplayStep> steps, bool stopAtDifference)
      : steps_(std::move(steps)), stopAtDifference_(stopAtDifference) {}

  // The step whose answers go out for `command`, or null for none (a
  // repeat of an unanswered command, a stopped replay, the trace's end).
  // A command other than the trace's next one is reported in `report`.
  const ReplayStep* Next(const std::string& command, std::string& report);

  std::size_t played() const { return next_; }
  std::size_t size() const { return steps_.size(); }
  long differences() const { return differences_; }

 private:
  std::vector<ReplayStep> steps_;
  bool stopAtDifference_;
  bool stopped_ = false;
  std::size_t next_ = 0;
  long commands_ = 0;
  long differences_ = 0;
};

}  // namespace ecrsim
