#include "replay.h"

#include <algorithm>
#include <cstdint>

#include "tally.h"

namespace ecrsim {
namespace {

constexpr char kStx = 0x02;
constexpr char kXon = 0x11;
constexpr std::size_t kStampLength = 25;  // "YYYYMMDD_hhmmss.mmm <--> "

bool ReadDigits(const std::string& s, std::size_t at, std::size_t n, int64_t& out) {
  out = 0;
  if (at + n > s.size()) return false;
  for (std::size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// Days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The time stamp of a trace line in milliseconds; false for a line without one.
bool StampMs(const std::string& line, int64_t& ms) {
  int64_t y, mo, d, h, mi, s, milli;
  if (line.size() < kStampLength || line.compare(19, 6, " <--> ") != 0 || line[8] != '_' || line[15] != '.' ||
      !ReadDigits(line, 0, 4, y) || !ReadDigits(line, 4, 2, mo) || !ReadDigits(line, 6, 2, d) ||
      !ReadDigits(line, 9, 2, h) || !ReadDigits(line, 11, 2, mi) || !ReadDigits(line, 13, 2, s) ||
      !ReadDigits(line, 16, 3, milli)) {
    return false;
  }
  ms = (((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60 + s) * 1000 + milli;
  return true;
}

// The network link marks its command answers: the echo, the second answer
// and the waits that ended without one.
constexpr const char* kMarks[] = {" ( 0 )", " ( 1 )", " ( TimeOut )", " ( General TimeOut  )", " ( WSError )"};

bool StripMark(std::string& text) {
  for (const char* mark : kMarks) {
    const std::string m = mark;
    if (text.size() >= m.size() && text.compare(text.size() - m.size(), m.size(), m) == 0) {
      text.resize(text.size() - m.size());
      return true;
    }
  }
  return false;
}

struct Traced {
  int64_t ms;
  std::string text;
  bool marked;
};

bool IsDumpRequest(const std::string& command) { return command == "48F" || command == "47F" || command == "41F"; }

// The bytes the ECR sent for one command, from its traced answers.
void Finish(ReplayStep& step, const std::vector<Traced>& traced) {
  bool marked = false;
  for (const Traced& t : traced) marked = marked || t.marked;
  std::string sent;  // what the answers kept so far carry
  int64_t last = step.sentMs;
  for (std::size_t i = 0; i < traced.size(); ++i) {
    const Traced& t = traced[i];
    // Marked answers are the network link's whole stream; the dump then
    // traces the part it keeps again, unmarked. On the serial line the
    // first answer to a dump request is its whole stream.
    if (marked ? !t.marked : IsDumpRequest(step.command) && i > 0) continue;
    std::string bytes = t.text;
    // A closing reply is traced again once parsed; traced from its STX it
    // may repeat its start, read with the last line's echo.
    if (i > 0 && bytes == traced[i - 1].text && bytes.find(kStx) != std::string::npos) continue;
    if (!bytes.empty() && bytes[0] == kStx) {
      const std::size_t stx = sent.rfind(kStx);
      if (stx != std::string::npos && bytes.compare(0, sent.size() - stx, sent, stx) == 0) {
        bytes.erase(0, sent.size() - stx);
      }
    }
    if (bytes.empty()) continue;
    step.answers.push_back({bytes, static_cast<long>(t.ms > last ? t.ms - last : 0), t.ms});
    sent += bytes;
    last = t.ms;
  }
}

}  // namespace

void ParseTrace(const std::string& text, const std::string& name, std::vector<ReplayStep>& steps) {
  const std::size_t first = steps.size();
  ReplayStep step;
  bool open = false;
  std::vector<Traced> traced;
  auto close = [&] {
    if (!open) return;
    Finish(step, traced);
    steps.push_back(std::move(step));
    step = ReplayStep{};
    traced.clear();
    open = false;
  };
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int64_t ms = 0;
    if (!StampMs(line, ms)) continue;
    std::string body = line.substr(kStampLength);
    if (body.starts_with(" --> ")) {
      close();
      open = true;
      step.command = body.substr(5);
      step.where = name + " line " + std::to_string(number);
      step.sentMs = ms;
    } else if (open && body.starts_with(" <-- ")) {
      body.erase(0, 5);
      const bool marked = StripMark(body);
      traced.push_back({ms, body, marked});
    }
  }
  close();
  // An XON that releases the line was read, and traced, with the answers to
  // the command it let through: it belongs after the answers before it, when
  // the driver wrote that command.
  for (std::size_t i = first + 1; i < steps.size(); ++i) {
    std::vector<ReplayAnswer>& answers = steps[i].answers;
    if (answers.empty() || answers[0].bytes[0] != kXon) continue;
    ReplayStep& before = steps[i - 1];
    const int64_t from = before.answers.empty() ? before.sentMs : before.answers.back().tracedMs;
    before.answers.push_back({std::string(1, kXon), static_cast<long>(std::max<int64_t>(steps[i].sentMs - from, 0)),
                              steps[i].sentMs});
    answers[0].bytes.erase(0, 1);
    answers[0].afterMs = 0;
    if (answers[0].bytes.empty()) answers.erase(answers.begin());
  }
  if (steps.size() > first && IsDumpRequest(steps[first].command)) {
    ReplayStep reset;
    reset.command = " K";
    reset.reset = true;
    reset.where = name + " (reset before the dump)";
    steps.insert(steps.begin() + static_cast<std::ptrdiff_t>(first), reset);
  }
}

const ReplayStep* Replay::Next(const std::string& command, std::string& report) {
  ++commands_;
  if (stopped_) return nullptr;
  // The serial link writes a command again, untraced, when no answer came.
  if (next_ > 0 && command == steps_[next_ - 1].command && steps_[next_ - 1].answers.empty() &&
      !steps_[next_ - 1].reset) {
    return nullptr;
  }
  const std::string n = std::to_string(commands_);
  if (next_ >= steps_.size()) {
    ++differences_;
    report = "command " + n + " comes after the end of the trace: \"" + Printable(command) + "\"";
    return nullptr;
  }
  const ReplayStep& step = steps_[next_];
  if (command != step.command) {
    ++differences_;
    std::size_t at = 0;
    while (at < command.size() && at < step.command.size() && command[at] == step.command[at]) ++at;
    report = "command " + n + " differs from " + step.where + " at byte " + std::to_string(at + 1) +
             ":\n  sent:  \"" + Printable(command) + "\"\n  trace: \"" + Printable(step.command) + "\"";
    if (stopAtDifference_) {
      stopped_ = true;
      report += "\nreplay stopped: no more answers";
      return nullptr;
    }
  }
  ++next_;
  return &step;
}

}  // namespace ecrsim
