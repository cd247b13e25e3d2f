// Conversion driver: reads a command file, finds the customer code, runs each
// record through the normalizer, the record handlers or the line converter,
// post-processes the produced lines, puts the payments in order and writes
// XON.txt.
#include "conversion/convert.h"
#include "conversion/conversion_messages.h"

#include <algorithm>
#include <cstdio>
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

namespace kolibra {

namespace {

constexpr const char* kXonFileName = "XON.txt";

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

void CountTenderLine(ConversionState& state) {
  if (state.tenderLineCount == std::numeric_limits<int16_t>::max()) {
    throw ConversionFailure{"Overflow", 6, 0};
  }
  ++state.tenderLineCount;
}

// Turns the "|" placeholder into "H" or "*" (or removes it at the start) and
// counts payment lines.
void PostProcess(ConversionState& state) {
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
  if (IsTenderLine(line)) CountTenderLine(state);
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
LineOutcome ConvertLine(ConversionState& state, const std::string& rawLine) {
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
  auto finish = [&state]() {
    if (!state.lineResult.empty()) state.output.push_back(state.lineResult);
    state.lineResult.clear();
    return LineOutcome::kDone;
  };
  std::string value;

  if (keyword("OPFS")) {
    HandleOpfs(state, line);
    return finish();
  }
  if (keyword("CLFS") || keyword("DATE")) return finish();
  if (keyword("FUNC,")) {
    if (GetField(false, value, line, ",N") && IsNumeric(value) && NumericValue(value) == 39) {
      return finish();
    }
  }
  // A record claimed by one of the handlers below; only then can the later
  // tests meet a line that is not theirs.
  bool claimed = false;
  if (keyword("BARC")) {
    HandleBarc(state, line);
    claimed = true;
  }
  if (keyword("DISP,") && HasField(line, ",:")) {
    HandleDisp(state, line);
    return finish();
  }
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
    HandleSale(state, line);
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
    HandleTend(state, line);
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
  if (keyword("TICK")) HandleTick(state, line);
  if (keyword("CRED")) HandleCred(state, line);
  if (keyword("EXTL,")) HandleExtl(state, line);
  if (state.settings.rt && keyword("NDCR")) {
    const HandlerResult r = HandleNdcr(state, line);
    if (r == HandlerResult::kDropLine) return LineOutcome::kDone;
    if (r == HandlerResult::kRefuse) return LineOutcome::kRefuse;
  }
  if (state.settings.rt && keyword("DELD")) {
    const HandlerResult r = HandleDeld(state, line);
    if (r == HandlerResult::kDropLine) return LineOutcome::kDone;
    if (r == HandlerResult::kRefuse) return LineOutcome::kRefuse;
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

  PostProcess(state);
  if (!state.lineResult.empty()) state.output.push_back(std::move(state.lineResult));
  state.lineResult.clear();
  return LineOutcome::kDone;
}

// Written once, as a new file: whatever was planted under the name since it
// was deleted is replaced, never written through.
bool WriteXon(FileSystem& fs, const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* f = fs.CreateFresh(path).value();
  if (f == nullptr) return false;
  bool written = true;
  for (const std::string& l : lines) {
    written = written && std::fwrite(l.data(), 1, l.size(), f) == l.size() &&
              std::fwrite("\r\n", 1, 2, f) == 2;
  }
  return std::fclose(f) == 0 && written;
}

int16_t Convert(std::string_view text, const std::string& path, std::vector<std::string>& jobLines,
                ConversionEnv& env) {
  env.tenderLineCount = 0;
  env.refusal.clear();
  ConversionState state(env.settings);
  std::size_t step = 0;
  std::optional<std::string> transcoded;
  try {
    // A file written in UTF-8 is converted as the code-page text it stands
    // for; any other file is code-page text already.
    transcoded = Utf8ToCp1252(text);
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
    const std::string xonPath =
        env.dataDir.empty() || env.fs == nullptr ? std::string() : JoinPath(env.dataDir, kXonFileName);
    if (!xonPath.empty()) env.fs->Remove(xonPath);
    if (state.lines.empty()) return 0;

    jobLines.clear();
    if (!state.customerCode.empty()) state.output.push_back(QuoteText(state.customerCode) + "@39F");

    for (step = 1; step <= state.lines.size(); ++step) {
      if (ConvertLine(state, state.lines[step - 1]) == LineOutcome::kRefuse) {
        env.refusal = "riga " + std::to_string(step) + " non convertibile: " + state.lines[step - 1];
        env.tenderLineCount = state.tenderLineCount;
        jobLines = TakeOutput(state);
        return 1;
      }
    }
    step = 0;
    ReorderPayments(state);
    env.tenderLineCount = state.tenderLineCount;
    jobLines = TakeOutput(state);

    if (!xonPath.empty() && !WriteXon(*env.fs, xonPath, jobLines)) {
      ShowMessage(env, kXonNotWritten + xonPath);
      return 1;
    }
    return 0;
  } catch (const ConversionFailure& f) {
    const int line = f.step != 0 ? f.step : static_cast<int>(step);
    ShowMessage(env, ConversionErrorText(f.description, f.number, line));
  } catch (const std::bad_alloc&) {
    ShowMessage(env, ConversionErrorText("Out of memory", 7, step));
  } catch (const std::exception& e) {
    ShowMessage(env, ConversionErrorText(e.what(), 51, step));
  } catch (...) {
    ShowMessage(env, ConversionErrorText("Internal error", 51, step));
  }
  env.tenderLineCount = state.tenderLineCount;
  return 1;
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
  try {
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
  } catch (const std::bad_alloc&) {
    ShowMessage(env, ConversionErrorText("Out of memory", 7, 0));
    return 1;
  }
  return Convert(text, commandFilePath, jobLines, env);
}

}  // namespace kolibra
