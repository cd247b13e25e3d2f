#include "ecr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace ecrsim {
namespace {

// Amounts beyond this are clamped so that sums never overflow.
constexpr int64_t kMaxCents = 1000000000000000LL;  // 10^15

// One keystroke token of a command line: an optional number and the key
// that follows it ("1000H", "3R", "2*", "9M", "=").
struct Token {
  std::string number;
  char key = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// Splits a command line into tokens, skipping quoted texts (which may hold
// any character, digits and key letters included).
std::vector<Token> Tokenize(const std::string& line) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == '"') {
      size_t close = line.find('"', i + 1);
      i = (close == std::string::npos) ? line.size() : close + 1;
      continue;
    }
    Token t;
    while (i < line.size() && (IsDigit(line[i]) || line[i] == '.' || line[i] == ',')) {
      t.number += line[i++];
    }
    if (i < line.size() && line[i] != '"') t.key = line[i++];
    tokens.push_back(t);
  }
  return tokens;
}

int64_t DigitsValue(const std::string& digits) {
  int64_t v = 0;
  for (char c : digits) {
    v = v * 10 + (c - '0');
    if (v > kMaxCents) return kMaxCents;
  }
  return v;
}

// A quantity such as "3", "2.5" or "2,5" (the decimal separator follows the
// till's regional settings). Anything unreadable counts as 1.
double QuantityValue(const std::string& text) {
  double whole = 0, scale = 0;
  bool any = false;
  for (char c : text) {
    if (IsDigit(c)) {
      any = true;
      if (scale == 0) {
        whole = whole * 10 + (c - '0');
      } else {
        whole += (c - '0') * scale;
        scale /= 10;
      }
      if (whole > 1e9) return 1e9;
    } else if ((c == '.' || c == ',') && scale == 0) {
      scale = 0.1;
    } else {
      return 1;
    }
  }
  return any ? whole : 1;
}

int64_t Clamp(double v) {
  if (!(v == v)) return 0;  // NaN
  if (v > kMaxCents) return kMaxCents;
  if (v < -kMaxCents) return -kMaxCents;
  return std::llround(v);
}

// Reads the "<q>*<amount>H" part that stands right before tokens[end].
bool AmountBefore(const std::vector<Token>& tokens, size_t end, int64_t& cents) {
  if (end == 0) return false;
  const Token& amount = tokens[end - 1];
  if (amount.key != 'H' || !AllDigits(amount.number)) return false;
  double value = static_cast<double>(DigitsValue(amount.number));
  if (end >= 2 && tokens[end - 2].key == '*' && !tokens[end - 2].number.empty()) {
    value *= QuantityValue(tokens[end - 2].number);
  }
  cents = Clamp(value);
  return true;
}

std::string Four(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", n % 10000);
  return buf;
}

}  // namespace

void InitEcr(EcrState& ecr, const EcrConfig& config) {
  ecr.config = config;
  ecr.receipt = ReceiptState{};
  ecr.receipt.nextReceipt = config.firstReceipt;
}

LineAmount ParseLine(const std::string& line) {
  LineAmount out;
  std::vector<Token> tokens = Tokenize(line);
  if (tokens.empty()) return out;
  const Token& last = tokens.back();
  size_t end = tokens.size() - 1;

  if (last.key == 'R' && AllDigits(last.number)) {
    out.kind = LineAmount::kSale;
    out.hasAmount = AmountBefore(tokens, end, out.cents);
    for (const Token& t : tokens) {
      if (t.key == 'M' && t.number == "9") out.cents = -out.cents;  // return
    }
  } else if (last.key == 'M' && last.number == "8") {
    if (AmountBefore(tokens, end, out.cents)) {
      out.kind = LineAmount::kSurcharge;
      out.hasAmount = true;
    }
  } else if (last.key == 'T' && AllDigits(last.number) && last.number.size() <= 2) {
    out.kind = LineAmount::kTender;
    out.hasAmount = AmountBefore(tokens, end, out.cents);
  }
  return out;
}

bool IsDumpCommand(const std::string& command) {
  return command == " K" || command == "48F" || command == "47F" || command == "41F";
}

CommandAnswers HandleCommand(EcrState& ecr, const std::string& command) {
  CommandAnswers a;
  const EcrConfig& cfg = ecr.config;
  ReceiptState& r = ecr.receipt;

  if (command == " K") {
    // The reset key abandons whatever receipt was left open.
    r.sales = 0;
    r.tendered = 0;
    a.second.assign(1, 'K');  // (assign from a literal trips a false GCC 12 warning)
    a.serialWrite = command;
    return a;
  }
  if (command == "48F") {
    a.second = command + (cfg.rtMode ? "6" : "0");
  } else if (command == "47F") {
    a.second = command + cfg.mfSerial + " " + cfg.rtSerial;
  } else if (command == "41F") {
    a.second = command + cfg.serial;
  }
  if (!a.second.empty()) {
    a.serialWrite = a.second;  // the echo and the answer in one write
    return a;
  }

  a.serialWrite = command;
  if (command.size() > 1) a.second = command;

  LineAmount line = ParseLine(command);
  switch (line.kind) {
    case LineAmount::kSale:
    case LineAmount::kSurcharge:
      r.sales = std::max(-kMaxCents, std::min(kMaxCents, r.sales + line.cents));
      break;
    case LineAmount::kTender:
      if (!line.hasAmount) {
        a.closesReceipt = true;
      } else {
        r.tendered = std::min(kMaxCents, r.tendered + line.cents);
        a.closesReceipt = r.tendered >= r.sales;
      }
      break;
    case LineAmount::kOther:
      break;
  }
  return a;
}

std::string BuildClosingReply(EcrState& ecr, const std::tm& t) {
  ReceiptState& r = ecr.receipt;
  char head[64];
  std::snprintf(head, sizeof head, "%02d-%02d-%04d %02d-%02d", t.tm_mday % 100,
                (t.tm_mon + 1) % 100, (t.tm_year + 1900) % 10000, t.tm_hour % 100,
                t.tm_min % 100);
  // STX, "DD-MM-YYYY HH-MM", the till name, then "first-receipt" ending three
  // characters before ETX (the FT models add 16 characters after them).
  std::string reply = "\x02";
  reply += head;
  reply += " CASSA ";
  reply += Four(ecr.config.firstNumber);
  reply += "-";
  reply += Four(r.nextReceipt);
  reply += "  ";
  if (ecr.config.modelFt) reply += " TOTALE EURO    ";
  reply += "\x03";

  r.nextReceipt = r.nextReceipt >= 9999 ? 1 : r.nextReceipt + 1;
  r.receiptsClosed++;
  r.sales = 0;
  r.tendered = 0;
  return reply;
}

}  // namespace ecrsim
