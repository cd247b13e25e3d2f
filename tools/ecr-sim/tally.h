// Which receipt lines the simulated ECR took, so that a line printed once can
// be told from one the driver made it print twice. Pure logic, no I/O.
#pragma once

#include <map>
#include <string>

namespace ecrsim {

class LineTally {
 public:
  // The ECR took `command` as a line of the open receipt. A command already
  // taken in the same receipt counts as a duplicate.
  void Take(const std::string& command);
  // The open receipt was printed and closed.
  void Close();
  // The open receipt was abandoned (reset key, reboot): its lines are not
  // counted as printed.
  void Forget();

  long receipts() const { return receipts_; }
  long taken() const { return taken_; }
  long duplicates() const { return duplicates_; }
  // Per command, the most times it was taken within one receipt, for the
  // commands taken more than once in some receipt.
  const std::map<std::string, long>& repeated() const { return repeated_; }

  // "receipts=N", "taken=M", "duplicates=K", then "line <count> <command>" for
  // every distinct command of the closed receipts (count summed over them),
  // with bytes outside printable ASCII and the backslash written as \xNN.
  std::string StatsText() const;

 private:
  std::map<std::string, long> open_;
  std::map<std::string, long> printed_;
  std::map<std::string, long> repeated_;
  long receipts_ = 0;
  long taken_ = 0;
  long duplicates_ = 0;
};

// Bytes outside 0x20..0x7E, and the backslash, written as \xNN.
std::string Printable(const std::string& bytes);

}  // namespace ecrsim
