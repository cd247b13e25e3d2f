#include "conversion/line_converter.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "conversion/conversion_state.h"
#include "conversion/numbers.h"
#include "conversion/record_handlers.h"
#include "conversion/record_text.h"
#include "conversion/text_util.h"

namespace kolibra {

namespace {

ConvertSlToXtFn g_converter = &ConvertSlToXt;

const std::string kDrop = "ERRO C211";

// Digits with at most one point and nothing else ("10", "2.5", ".5", "5.").
bool IsPlainNumber(std::string_view s) { return IsNumberText(s, NumberForm{"", false, true, ""}); }

// The value of a discount or surcharge record: its percentage, else its
// amount; empty when it has neither in a readable form.
std::string AdjustmentValue(std::string_view line) {
  std::string v;
  if (GetField(false, v, line, ",%") && IsPlainNumber(v)) return v;
  if (GetField(false, v, line, ",V") && IsPlainNumber(v)) return v;
  return std::string();
}

std::string ConvertRecord(std::string_view line) {
  std::string_view trimmed = line;
  while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) {
    trimmed.remove_prefix(1);
  }
  if (trimmed.empty() || trimmed == ";") return kDrop;

  const std::string keyword = Upper(line.substr(0, std::min<std::size_t>(4, line.size())));
  std::string v;

  if (keyword == "SALE" || keyword == "PLUD") {
    static const ConversionSettings settings;
    ConversionState state(settings);
    HandleSale(state, std::string(line));
    return state.lineResult.empty() ? kDrop : state.lineResult;
  }
  if (keyword == "CLER") return "K";
  if (keyword == "CASH") {
    std::string r;
    if (GetField(false, v, line, ",:")) r += QuoteText(v);
    if (GetField(false, v, line, ",V") && IsPlainNumber(v)) r += v + "H";
    return r + "1T";
  }
  if (keyword == "FUNC") {
    if (!GetField(false, v, line, ",N") || v.empty() ||
        !std::all_of(v.begin(), v.end(), IsDigit)) {
      return "ERRO C003";
    }
    std::size_t nz = 0;
    while (nz + 1 < v.size() && v[nz] == '0') ++nz;
    v.erase(0, nz);
    return v == "39" ? kDrop : v + "F";
  }
  const bool item = keyword == "DISC" || keyword == "MAGG";
  const bool subtotal = keyword == "DOST" || keyword == "MOST";
  if (item || subtotal || keyword == "ADDS") {
    const std::string value = AdjustmentValue(line);
    if (value.empty()) return "ERRO C002";
    const char* code = (keyword == "DISC" || keyword == "DOST") ? "|3M" : "|8M";
    return (item ? "" : "=") + value + code;
  }
  if (keyword == "OPEN") return "a";
  if (keyword == "TEND" || keyword == "BANC" || keyword == "CARD" || keyword == "TICK" ||
      keyword == "CRED") {
    // A payment that its handler could not convert: dropping it would change
    // the receipt, so the conversion is refused.
    return "ERRO C004";
  }
  for (const char* k : {"EXTL", "PRNT", "DISP", "BARC", "OPNF", "CLNF", "NDCR", "DELD", "LOTT",
                        "DATE", "CLFS", "OPFS"}) {
    if (keyword == k) return kDrop;
  }
  return "ERRO C001";
}

void Answer(const std::string& text, char* output, char* error) {
  std::string r = text;
  if (r.find('\0') != std::string::npos) r = "ERRO C005";
  if (r.size() >= static_cast<std::size_t>(kLineConverterOutputSize)) r = "ERRO C064";
  std::memcpy(output, r.data(), r.size());
  output[r.size()] = '\0';
  const char* code = r.rfind("ERRO", 0) == 0 ? r.c_str() + 5 : "";
  std::size_t n = std::min<std::size_t>(std::strlen(code), kLineConverterErrorSize - 1);
  std::memcpy(error, code, n);
  error[n] = '\0';
}

}  // namespace

extern "C" int32_t ConvertSlToXt(const char* line, int32_t length, char* output, char* error) {
  const std::string_view record(line, length > 0 ? static_cast<std::size_t>(length) : 0);
  Answer(ConvertRecord(record), output, error);
  return 0;
}

void SetLineConverter(ConvertSlToXtFn converter) {
  g_converter = converter != nullptr ? converter : &ConvertSlToXt;
}

std::string CallLineConverter(std::string_view line) {
  if (line.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    return "ERRO C064";
  }
  char output[kLineConverterOutputSize];
  char error[kLineConverterErrorSize];
  std::memset(output, ' ', sizeof output);
  std::memset(error, ' ', sizeof error);
  g_converter(line.data(), static_cast<int32_t>(line.size()), output, error);
  const void* nul = std::memchr(output, '\0', sizeof output);
  const std::size_t n = nul != nullptr ? static_cast<const char*>(nul) - output : sizeof output;
  return std::string(output, n);
}

}  // namespace kolibra
