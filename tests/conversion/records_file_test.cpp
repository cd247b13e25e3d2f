// Whole command files through the conversion, for what the record handlers
// do together with the driver: comment lines, placeholders, payment order and
// the credit function ahead of the customer code.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/convert.h"
#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

using Lines = std::vector<std::string>;

struct FileCase {
  const char* name;
  Lines records;
  std::string family;
  bool rt;
  Lines output;  // empty: the conversion is refused
};

class RecordsFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(RecordsFileTest, Converts) {
  const FileCase& c = GetParam();
  fakes::ScratchDir dir;
  std::string text;
  for (const std::string& r : c.records) text += r + "\r\n";
  const std::string path = dir.File("SR_DATI.001");
  fakes::WriteFileBytes(path, text);

  fakes::FakeNotifier notifier;
  ConversionEnv env;
  env.settings.tenderFamily = c.family;
  env.settings.rt = c.rt;
  env.settings.rtSerial = "99ZTA123456";
  env.dataDir = dir.path();
  env.notifier = &notifier;
  Lines jobLines;
  const int16_t result = ConvertCommandFile(path, jobLines, env);
  if (c.output.empty()) {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(fakes::ReadFileBytes(dir.File("XON.txt")), "");
    return;
  }
  ASSERT_EQ(result, 0) << (notifier.messages.empty() ? "" : notifier.messages[0]);
  EXPECT_EQ(jobLines, c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordsFileTest,
    ::testing::Values(
        FileCase{"BreadAndMilk",
                 {"SALE,N1,P1000,:Pane;", "SALE,N2,P2.50,Q2,:Latte;", "TEND,N4,V500;", "TEND,N1,V1500;"},
                 "ZT", false,
                 {"\"PANE\"1000H1R", "\"  2 X 2.5\"@", "\"LATTE\"1*500H2R", "1500H1T", "500H4T"}},
        FileCase{"FirstItemCommentFollows", {"PLUD,N1,P1.99;", "SALE,N2,P0.5;", "TEND,N1;"}, "ZT", false,
                 {"1*199H1R", "\" ^---**  1 X 1.99\"@", "\"  1 X 0.5\"@", "1*50H2R", "1T"}},
        FileCase{"ReturnAndModifierPlaceholders",
                 {"SALE,N1,P100,R;", "SALE,N1,P200,S,:Sconto;", "SALE,N1,P300,S1,R;"}, "ZT", false,
                 {"9M100H1R", "0M\"SCONTO\"200H1R", "17MH9M300H1R"}},
        FileCase{"DebitInPlaceOnOt", {"TEND,N4;", "TEND,N1,V500;"}, "OT", false, {"4T", "500H1T"}},
        FileCase{"CreditFunctionBeforeCustomerCode",
                 {"PRNT,:RSSMRA80A01H501U;", "SALE,N1,P1000;", "FUNC,N39;", "CRED,T3,V900;"}, "AT", false,
                 {"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R", "900H3T"}},
        FileCase{"InvoiceHeading", {"OPFS,N7,:Cliente Uno;", "EXTL,:Consegna;", "SALE,N1,P100;"}, "ZT", false,
                 {"\"0007\"@", "99F", "\"Cliente Uno\"@", "937F", "\"CONSEGNA\"@", "100H1R"}},
        FileCase{"ReturnInsideCreditNote", {"NDCR,>VR,D01022024;", "SALE,N1,P100,R;"}, "ZT", true,
                 {"99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F", "100H1R"}},
        FileCase{"BadReferenceRefuses", {"SALE,N1,P100;", "NDCR,>A;"}, "ZT", true, {}},
        FileCase{"SixteenBitOverflowRefuses", {"SALE,N1,P100;", "TEND,N70000;"}, "ZT", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kolibra
