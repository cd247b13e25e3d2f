// The manual (the plain-text rendering scripts/manual.sh makes) explains every catalogue text and every
// text a job's outcome writes or shows; the catalogue is read from its header, so a new text fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
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

// Blank runs become one space, none at either end; groff's UTF-8 hyphens, minus, curly quotes and
// no-break space read back as ASCII.
std::string Normalise(std::string text) {
  static const std::pair<const char*, const char*> kMarks[] = {
      {"\xE2\x80\x90", "-"}, {"\xE2\x80\x91", "-"},  {"\xE2\x88\x92", "-"}, {"\xE2\x80\x98", "'"},
      {"\xE2\x80\x99", "'"}, {"\xE2\x80\x9C", "\""}, {"\xE2\x80\x9D", "\""}, {"\xC2\xA0", " "}};
  for (const auto& [mark, ascii] : kMarks) text = std::regex_replace(text, std::regex(mark), ascii);
  text = std::regex_replace(text, std::regex(R"(\s+)"), " ");
  if (text.starts_with(' ')) text.erase(0, 1);
  if (text.ends_with(' ')) text.pop_back();
  return text;
}

// name -> text of every "constexpr const char* kName = "...";", adjacent literals joined.
std::map<std::string, std::string> CatalogueTexts(const std::string& header) {
  static const std::regex decl(R"re(constexpr const char\*\s*(\w+)\s*=((\s*"([^"\\]|\\.)*")+)\s*;)re");
  static const std::regex literal(R"re("(([^"\\]|\\.)*)")re"), escape(R"re(\\(.))re");
  std::map<std::string, std::string> texts;
  for (std::sregex_iterator d(header.begin(), header.end(), decl), end; d != end; ++d) {
    const std::string literals = (*d)[2];
    std::string& text = texts[(*d)[1]];
    for (std::sregex_iterator l(literals.begin(), literals.end(), literal); l != end; ++l) {
      text += std::regex_replace((*l)[1].str(), escape, "$1");
    }
  }
  return texts;
}

TEST(ManualCatalogue, ManualHoldsEveryText) {
  std::map<std::string, std::string> needed = CatalogueTexts(ReadFile(KOLIBRA_SOURCE_DIR "/src/core/messages.h"));
  // The reading finds new texts only if it sees the declarations as compiled, split texts included.
  const char* const compiled[][2] = {{"kErrNoAnswer", kErrNoAnswer}, {"kErrLinkSetup", kErrLinkSetup},
      {"kErrUncertain", kErrUncertain}, {"kErrDumpGeneric", kErrDumpGeneric}, {"kTrayIdleTip", kTrayIdleTip}};
  for (const auto& [name, value] : compiled) EXPECT_EQ(needed[name], value) << name;
  const std::string manual = Normalise(ReadFile(KOLIBRA_MANUAL_TEXT));
  ASSERT_FALSE(manual.empty()) << "no manual text at " KOLIBRA_MANUAL_TEXT;
  needed.merge(CatalogueTexts(ReadFile(KOLIBRA_SOURCE_DIR "/src/conversion/conversion_messages.h")));
  ASSERT_FALSE(needed.empty());
  // What the outcome step writes or shows for each job result, and a failed dump's texts.
  for (JobResult code : {JobResult::kOk, JobResult::kNoAnswer, JobResult::kConversionRefused, JobResult::kLinkSetupFailed,
                         JobResult::kOutcomeUncertain, JobResult::kCommandFileMissing,
                         JobResult::kCommandFileUnreadable}) {
    const std::string n = std::to_string(static_cast<int>(code));
    needed["error file of result " + n] = OutcomeErrorText(code);
    needed["status of result " + n] = OutcomeStatusText(code);
  }
  needed["failed dump, error file"] = DumpErrorText(-1);
  needed["failed dump, window"] = DumpFailedText(-1);

  for (const auto& [name, text] : needed) {
    const std::string wanted = Normalise(text);
    EXPECT_TRUE(wanted.empty() || manual.find(wanted) != std::string::npos)
        << name << ": \"" << text << "\" is not in the manual (doc/mankolibra.ms)";
  }
}

}  // namespace
}  // namespace kolibra
