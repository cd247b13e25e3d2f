// The outcome of an operation that can fail, with the reason it failed:
// the system's own text for the error ("Permission denied") or a short
// text of ours. Logs put the reason after the driver's Italian line;
// files the calling application reads never carry it.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace kolibra {

class Status {
 public:
  Status() = default;  // success
  static Status Ok() { return Status(); }
  // A failure; an empty cause reads "unknown error".
  static Status Failed(std::string cause) {
    Status s;
    s.failed_ = true;
    s.cause_ = cause.empty() ? "unknown error" : std::move(cause);
    return s;
  }

  bool ok() const { return !failed_; }
  // Empty on success.
  const std::string& Cause() const { return cause_; }
  // TEXT followed by ": CAUSE" on failure; TEXT alone on success.
  std::string Explain(std::string_view text) const {
    std::string line(text);
    if (failed_) line += ": " + cause_;
    return line;
  }

 private:
  bool failed_ = false;
  std::string cause_;
};

// A value, or the failure that kept it from being made.
template <class T>
class StatusOr {
 public:
  StatusOr(T value) : value_(std::move(value)) {}
  StatusOr(Status failure) : status_(std::move(failure)) {}
  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  T& value() { return value_; }
  const T& value() const { return value_; }

 private:
  Status status_;
  T value_{};
};

// The failure the system reports for CODE (an errno value on POSIX, a
// GetLastError code on Windows), with the system's text for it.
Status OsError(int code);
// The calling thread's last system error (errno / GetLastError).
Status LastOsError();

}  // namespace kolibra
