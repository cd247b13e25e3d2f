// Conversion driver: reads a command file, finds the customer code, runs each
// record through the normalizer, the record handlers or the line converter,
// post-processes the produced lines, puts the payments in order and writes
// XON.txt.
#include "conversion/convert.h"
#include "conversion/conversion_messages.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <optional>
#include <system_error>

#include "conversion/code_checks.h"
#include "conversion/line_converter.h"
#include "conversion/normalizer.h"
#include "conversion/numbers.h"
#include "conversion/record_handlers.h"
#include "conversion/record_text.h"
#include "conversion/text_util.h"
#include "conversion/utf8_text.h"
#include "platform/file_system.h"
#include "platform/file_writes.h"

namespace kolibra {

namespace {

// The ECR command stream of the last converted job, in the data folder.
constexpr const char* kStreamFileName = "XON.txt";

void ShowMessage(ConversionEnv& env, const std::string& text) {
  if (env.notifier != nullptr) env.notifier->MessageBox(text);
}

void Trace(ConversionEnv& env, const std::string& text) {
  if (env.trace) env.trace(text);
}

// Splits the file contents at CR LF, LF or a lone CR. Refuses (false) more
// than kMaxCommandFileLines lines.
bool SplitLines(std::string_view text, std::vector<std::string>& lines) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    if (lines.size() == kMaxCommandFileLines) return false;
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  return true;
}

bool HasField(std::string_view line, std::string_view key) {
  return FindNoCase(line, key) != std::string_view::npos;
}

void PreScanCustomerCode(ConversionState& state) {
  std::string value;
  for (const std::string& line : state.lines) {
    if (line.size() < 4) continue;
    if (StartsWithNoCase(line, "LOTT") && GetField(false, value, line, ",C")) {
      const std::size_t open = value.find('[');
      if (open != std::string::npos) value.erase(0, open + 1);
      if (value.find(']') != std::string::npos) value.pop_back();
      if (value.size() == 8) {
        state.customerCode = value;
        break;
      }
      continue;
    }
    if (ContainsNoCase(std::string_view(line).substr(0, 5), "PRNT")) {
      if (GetField(false, value, line, ",:") && (value.size() == 16 || value.size() == 11) &&
          (CheckCodiceFiscale(value) || CheckPartitaIva(value))) {
        state.codeCandidate = value;
      }
    } else if (StartsWithNoCase(line, "FUNC,N39") && !state.codeCandidate.empty()) {
      state.customerCode = state.codeCandidate;
      break;
    }
  }
  if (!state.customerCode.empty()) state.customerCodeEmitted = true;
}

StepFailure CountTenderLine(ConversionState& state) {
  if (state.tenderLineCount == std::numeric_limits<int16_t>::max()) return ConversionFailure{"Overflow", 6, 0};
  ++state.tenderLineCount;
  return std::nullopt;
}

// Turns the "|" placeholder into "H" or "*" (or removes it at the start) and
// counts payment lines.
StepFailure PostProcess(ConversionState& state) {
  std::string& line = state.lineResult;
  const std::size_t bar = line.find('|');
  if (bar != std::string::npos) {
    for (char& c : line) c = UpperCp1252(c);
    if (bar == 0) {
      line.erase(0, 1);
    } else {
      line[bar] = state.percent ? '*' : 'H';
    }
  }
  return IsTenderLine(line) ? CountTenderLine(state) : std::nullopt;
}

// Moves the payment lines that end with the last-tender suffix behind all
// the others, keeping their order.
void ReorderPayments(ConversionState& state) {
  if (state.tenderLineCount <= 1 || state.lastTenderSuffix.empty()) return;
  const std::string& suffix = state.lastTenderSuffix;
  std::stable_partition(state.output.begin(), state.output.end(), [&](const std::string& l) {
    const bool last = IsTenderLine(l) && l.size() >= suffix.size() &&
                      l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0;
    return !last;
  });
}

// "CHEQ" (case-sensitive) outside the text fields of a normalized line.
bool HasChequeMarker(std::string_view line) {
  std::size_t fieldStart = 0;
  while (fieldStart <= line.size()) {
    std::size_t fieldEnd = line.find(',', fieldStart);
    if (fieldEnd == std::string_view::npos) fieldEnd = line.size();
    const std::string_view field = line.substr(fieldStart, fieldEnd - fieldStart);
    if (!(fieldStart > 0 && !field.empty() && field[0] == ':') &&
        field.find("CHEQ") != std::string_view::npos) {
      return true;
    }
    fieldStart = fieldEnd + 1;
  }
  return false;
}

// Keys of the fields that the handlers and the line converter read as a
// price, quantity, amount or percentage of the record. The record format
// gives none of them a sign: returns and discounts have records and flags of
// their own.
std::string_view AmountKeys(std::string_view line) {
  for (const char* k : {"SALE", "PLUD"}) {
    if (StartsWithNoCase(line, k)) return "PQ";
  }
  for (const char* k : {"TEND", "TICK"}) {
    if (StartsWithNoCase(line, k)) return "VQ";
  }
  for (const char* k : {"ADDS", "DISC", "MAGG", "DOST", "MOST"}) {
    if (StartsWithNoCase(line, k)) return "V%";
  }
  for (const char* k : {"BANC", "CARD", "CRED", "CASH"}) {
    if (StartsWithNoCase(line, k)) return "V";
  }
  return HasChequeMarker(line) ? "V" : "";
}

// The output list with the "938F" lines of the credit records in front.
std::vector<std::string> TakeOutput(ConversionState& state) {
  if (state.leadingCreditFunctions == 0) return std::move(state.output);
  std::vector<std::string> lines;
  lines.reserve(state.leadingCreditFunctions + state.output.size());
  lines.assign(state.leadingCreditFunctions, "938F");
  for (std::string& l : state.output) lines.push_back(std::move(l));
  state.output.clear();
  return lines;
}

enum class LineOutcome { kDone, kRefuse };

// One record through the dispatch: the handlers in their order, then the line
// converter for a record that produced nothing.
Checked<LineOutcome> ConvertLine(ConversionState& state, const std::string& rawLine) {
  state.lineResult.clear();
  std::string line;
  if (rawLine.find("OPFS") == std::string::npos) {
    line = NormalizeRecordLine(rawLine, kRecordTextWidth);
  } else {
    // Without the normalizer's digit clean-up the values of such a line go
    // out as they are, unquoted ones too: no control byte may come with them.
    line = rawLine;
    std::replace_if(line.begin(), line.end(), IsControlByte, ' ');
  }
  // A negative amount means nothing in the record format: the digit clean-up
  // would silently make it positive, and on a line that skips the normalizer
  // the sign would reach the ECR.
  if (HasNegativeField(rawLine, AmountKeys(line))) return LineOutcome::kRefuse;
  state.percent = ContainsNoCase(line, ",%");

  auto keyword = [&line](std::string_view key) { return StartsWithNoCase(line, key); };
  auto finish = [&state](StepFailure failure = std::nullopt) -> Checked<LineOutcome> {
    if (failure) return *failure;
    if (!state.lineResult.empty()) state.output.push_back(state.lineResult);
    state.lineResult.clear();
    return LineOutcome::kDone;
  };
  std::string value;

  if (keyword("OPFS")) return finish(HandleOpfs(state, line));
  if (keyword("CLFS") || keyword("DATE")) return finish();
  if (keyword("FUNC,")) {
    if (GetField(false, value, line, ",N") && IsNumeric(value)) {
      const Checked<double> function = NumericValue(value);
      if (!function.ok()) return function.failure();
      if (function.value() == 39) return finish();
    }
  }
  // A record claimed by one of the handlers below; only then can the later
  // tests meet a line that is not theirs.
  bool claimed = false;
  if (keyword("BARC")) {
    if (StepFailure f = HandleBarc(state, line); f) return *f;
    claimed = true;
  }
  if (keyword("DISP,") && HasField(line, ",:")) return finish(HandleDisp(state, line));
  if (keyword("OPEN,") && HasField(line, ",N")) {
    HandleOpen(state, line);
    return finish();
  }
  if (keyword("OPNF") && !state.invoiceMode) {
    HandleOpnf(state, line);
    return finish();
  }
  if (keyword("CLNF") && !state.invoiceMode) {
    HandleClnf(state, line);
    return finish();
  }
  if (keyword("PLUD") || keyword("SALE,")) {
    if (StepFailure f = HandleSale(state, line); f) return *f;
    claimed = true;
  }
  if (keyword("PRNT")) {
    const HandlerResult r = HandlePrnt(state, line);
    if (r == HandlerResult::kDropLine) return LineOutcome::kDone;
    if (r == HandlerResult::kRefuse) return LineOutcome::kRefuse;
    claimed = true;
  }
  if (keyword("ADDS,") && HasField(line, ",V")) {
    HandleSurcharge(state, line);
    return finish();
  }
  if (keyword("TEND") && HasField(line, ",N")) {
    if (StepFailure f = HandleTend(state, line); f) return *f;
    claimed = true;
  }
  if (keyword("BANC")) {
    HandleBanc(state, line);
    claimed = true;
  }
  // "CHEQ" anywhere marks a cheque record, but not inside a text nor in a
  // record already handled (a sale or printed line mentioning a cheque).
  if (keyword("CARD") || (!claimed && HasChequeMarker(line))) {
    HandleCardCheq(state, line);
    claimed = true;
  }
  if (keyword("TICK")) {
    if (StepFailure f = HandleTick(state, line); f) return *f;
  }
  if (keyword("CRED")) {
    if (StepFailure f = HandleCred(state, line); f) return *f;
  }
  if (keyword("EXTL,")) HandleExtl(state, line);
  if (state.settings.rt && keyword("NDCR")) {
    const Checked<HandlerResult> r = HandleNdcr(state, line);
    if (!r.ok()) return r.failure();
    if (r.value() == HandlerResult::kDropLine) return LineOutcome::kDone;
    if (r.value() == HandlerResult::kRefuse) return LineOutcome::kRefuse;
  }
  if (state.settings.rt && keyword("DELD")) {
    const Checked<HandlerResult> r = HandleDeld(state, line);
    if (!r.ok()) return r.failure();
    if (r.value() == HandlerResult::kDropLine) return LineOutcome::kDone;
    if (r.value() == HandlerResult::kRefuse) return LineOutcome::kRefuse;
  }
  if (keyword("LOTT") && HasField(line, ",C")) return finish();

  if (state.lineResult.empty()) {
    std::string answer = CallLineConverter(line);
    if (ContainsNoCase(answer, "ERRO")) {
      if (ContainsNoCase(answer, "C211")) return LineOutcome::kDone;
      return LineOutcome::kRefuse;
    }
    state.lineResult = std::move(answer);
  }

  if (StepFailure f = PostProcess(state); f) return *f;
  if (!state.lineResult.empty()) state.output.push_back(std::move(state.lineResult));
  state.lineResult.clear();
  return LineOutcome::kDone;
}

// Written whole (WriteFileAtomically): a reader finds the old file or the
// new one, and whatever was planted under the name since it was deleted is
// replaced, never written through.
bool WriteStreamFile(FileSystem& fs, const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return WriteFileAtomically(fs, path, text).ok();
}

int16_t Convert(std::string_view text, const std::string& path, std::vector<std::string>& jobLines,
                ConversionEnv& env) {
  env.tenderLineCount = 0;
  env.refusal.clear();
  env.step = 0;
  ConversionState state(env.settings);
  // A file written in UTF-8 is converted as the code-page text it stands
  // for; any other file is code-page text already.
  const std::optional<std::string> transcoded = Utf8ToCp1252(text);
  if (transcoded) text = *transcoded;
  Trace(env, " ------------ File SR_Dati ------------ ");
  if (!SplitLines(text, state.lines)) {
    ShowMessage(env, (path.empty() ? std::string("Il file") : kFilePrefix + path) +
                         kFileTooManyLinesSuffix + std::to_string(kMaxCommandFileLines) + ")");
    return 1;
  }
  if (env.trace) {
    for (const std::string& line : state.lines) env.trace(" - " + line);
  }
  Trace(env, " -------------------------------------- ");

  PreScanCustomerCode(state);
  const std::string streamPath =
      env.dataDir.empty() || env.fs == nullptr ? std::string() : JoinPath(env.dataDir, kStreamFileName);
  if (!streamPath.empty()) env.fs->Remove(streamPath);
  if (state.lines.empty()) return 0;

  jobLines.clear();
  if (!state.customerCode.empty()) state.output.push_back(QuoteText(state.customerCode) + "@39F");

  for (env.step = 1; env.step <= state.lines.size(); ++env.step) {
    const std::string& line = state.lines[env.step - 1];
    const Checked<LineOutcome> outcome = ConvertLine(state, line);
    if (!outcome.ok()) {
      const ConversionFailure& f = outcome.failure();
      ShowMessage(env, ConversionErrorText(f.description, f.number, f.step != 0 ? static_cast<std::size_t>(f.step) : env.step));
      env.tenderLineCount = state.tenderLineCount;
      return 1;
    }
    if (outcome.value() == LineOutcome::kRefuse) {
      env.refusal = "riga " + std::to_string(env.step) + " non convertibile: " + line;
      env.tenderLineCount = state.tenderLineCount;
      jobLines = TakeOutput(state);
      return 1;
    }
  }
  env.step = 0;
  ReorderPayments(state);
  env.tenderLineCount = state.tenderLineCount;
  jobLines = TakeOutput(state);

  if (!streamPath.empty() && !WriteStreamFile(*env.fs, streamPath, jobLines)) {
    ShowMessage(env, kStreamNotWritten + streamPath);
    return 1;
  }
  return 0;
}

}  // namespace

int16_t ConvertCommandText(std::string_view text, std::vector<std::string>& jobLines,
                           ConversionEnv& env, const std::string& sourcePath) {
  return Convert(text, sourcePath, jobLines, env);
}

int16_t ConvertCommandFile(const std::string& commandFilePath, std::vector<std::string>& jobLines,
                           ConversionEnv& env) {
  env.tenderLineCount = 0;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(commandFilePath, ec)) {
    ShowMessage(env, FileMissingText(commandFilePath));
    return 1;
  }
  const std::string tooLarge = FileTooLargeText(commandFilePath, kMaxCommandFileSize / (1024 * 1024));
  const auto size = std::filesystem::file_size(commandFilePath, ec);
  if (!ec && size > kMaxCommandFileSize) {
    ShowMessage(env, tooLarge);
    return 1;
  }
  std::string text;
  std::ifstream in(commandFilePath, std::ios::binary);
  if (!in) {
    ShowMessage(env, FileUnreadableText(commandFilePath));
    return 1;
  }
  if (!ec) text.reserve(static_cast<std::size_t>(size));
  // Read in blocks, so that a file that grows meanwhile is still capped.
  char block[65536];
  while (in) {
    in.read(block, sizeof block);
    text.append(block, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxCommandFileSize) {
      ShowMessage(env, tooLarge);
      return 1;
    }
  }
  if (in.bad()) {
    ShowMessage(env, FileUnreadableText(commandFilePath));
    return 1;
  }
  return Convert(text, commandFilePath, jobLines, env);
}

}  // namespace kolibra
