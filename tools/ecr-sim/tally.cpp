#include "tally.h"

#include <cstdio>

namespace ecrsim {

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

void LineTally::Take(const std::string& command) {
  ++taken_;
  long& count = ++open_[command];
  if (count > 1) {
    ++duplicates_;
    long& most = repeated_[command];
    if (count > most) most = count;
  }
}

void LineTally::Close() {
  for (const auto& [command, count] : open_) printed_[command] += count;
  open_.clear();
  ++receipts_;
}

void LineTally::Forget() { open_.clear(); }

std::string LineTally::StatsText() const {
  std::string out = "receipts=" + std::to_string(receipts_) + "\ntaken=" + std::to_string(taken_) +
                    "\nduplicates=" + std::to_string(duplicates_) + "\n";
  for (const auto& [command, count] : printed_) {
    out += "line " + std::to_string(count) + " " + Printable(command) + "\n";
  }
  return out;
}

}  // namespace ecrsim
