// The user manual holds every text of the message catalogue and every text
// a job's outcome writes or shows, so that an integrator finds each one
// explained. The catalogue is read from its header, so that a text added
// there fails this test until the manual documents it; the manual is read
// from the plain-text rendering that scripts/manual.sh makes beside
// mankolibra.pdf.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "core/messages.h"
#include "outcome/job_outcome.h"

namespace kolibra {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Blank runs become one space, without blanks at either end; the marks groff
// sets in place of ASCII ones (hyphen, minus, curly quotes, no-break space,
// all UTF-8) read back as the ASCII ones.
std::string Normalise(const std::string& text) {
  static const std::pair<std::string, char> kMarks[] = {
      {"\xE2\x80\x90", '-'}, {"\xE2\x80\x91", '-'},  {"\xE2\x88\x92", '-'}, {"\xE2\x80\x98", '\''},
      {"\xE2\x80\x99", '\''}, {"\xE2\x80\x9C", '"'}, {"\xE2\x80\x9D", '"'}, {"\xC2\xA0", ' '}};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    for (const auto& [mark, ascii] : kMarks) {
      if (text.compare(i, mark.size(), mark) == 0) {
        c = ascii;
        i += mark.size() - 1;
        break;
      }
    }
    const bool blank = std::isspace(static_cast<unsigned char>(c));
    if (!blank || (!out.empty() && out.back() != ' ')) out += blank ? ' ' : c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The catalogue as its header declares it: name -> text of every
// "constexpr const char* kName = "...";", adjacent literals joined.
std::map<std::string, std::string> CatalogueTexts(const std::string& header) {
  std::map<std::string, std::string> texts;
  const std::string marker = "constexpr const char*";
  for (std::size_t at = header.find(marker); at != std::string::npos; at = header.find(marker, at + 1)) {
    std::size_t i = at + marker.size();
    while (i < header.size() && std::isspace(static_cast<unsigned char>(header[i]))) ++i;
    std::string name;
    while (i < header.size() && (std::isalnum(static_cast<unsigned char>(header[i])) || header[i] == '_')) {
      name += header[i++];
    }
    const std::size_t end = header.find(';', i);
    std::string text;
    for (i = header.find('"', i); i < end; i = header.find('"', i + 1)) {
      for (++i; i < header.size() && header[i] != '"'; ++i) {
        if (header[i] == '\\' && i + 1 < header.size()) ++i;
        text += header[i];
      }
    }
    texts[name] = text;
  }
  return texts;
}

TEST(ManualCatalogue, HeaderIsReadAsCompiled) {
  // The reading above is what finds new texts: it must see the declarations
  // as the compiler does, texts split over lines included.
  const auto texts = CatalogueTexts(ReadFile(KOLIBRA_SOURCE_DIR "/src/core/messages.h"));
  const std::pair<const char*, const char*> compiled[] = {
      {"kErrNoAnswer", kErrNoAnswer},   {"kErrLinkSetup", kErrLinkSetup},
      {"kErrUncertain", kErrUncertain}, {"kErrDumpGeneric", kErrDumpGeneric},
      {"kTrayIdleTip", kTrayIdleTip},
  };
  for (const auto& [name, value] : compiled) {
    ASSERT_TRUE(texts.count(name)) << name;
    EXPECT_EQ(texts.at(name), value) << name;
  }
}

TEST(ManualCatalogue, ManualHoldsEveryText) {
  const std::string manual = Normalise(ReadFile(KOLIBRA_MANUAL_TEXT));
  ASSERT_FALSE(manual.empty()) << "no manual text at " KOLIBRA_MANUAL_TEXT;

  std::map<std::string, std::string> needed =
      CatalogueTexts(ReadFile(KOLIBRA_SOURCE_DIR "/src/core/messages.h"));
  needed.merge(CatalogueTexts(ReadFile(KOLIBRA_SOURCE_DIR "/src/conversion/conversion_messages.h")));
  ASSERT_FALSE(needed.empty());
  // What the outcome step writes or shows for each job result, and a failed
  // dump's texts.
  for (JobResult code : {JobResult::kOk, JobResult::kNoAnswer, JobResult::kConversionRefused,
                         JobResult::kLinkSetupFailed, JobResult::kOutcomeUncertain,
                         JobResult::kCommandFileMissing}) {
    const std::string n = std::to_string(static_cast<int>(code));
    needed["error file of result " + n] = OutcomeErrorText(code);
    needed["status of result " + n] = OutcomeStatusText(code);
  }
  needed["failed dump, error file"] = DumpErrorText(-1);
  needed["failed dump, window"] = DumpFailedText(-1);

  for (const auto& [name, text] : needed) {
    const std::string wanted = Normalise(text);
    if (wanted.empty()) continue;
    EXPECT_NE(manual.find(wanted), std::string::npos)
        << name << ": \"" << text << "\" is not in the manual (doc/mankolibra.ms)";
  }
}

}  // namespace
}  // namespace kolibra
