// Whole command files through the conversion, for what the record handlers
// do together with the driver: comment lines, placeholders, payment order,
// the credit function ahead of the customer code, refusals and overflow.
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
  ConversionSettings settings;
  int16_t result;
  Lines output;  // job lines on success
};

ConversionSettings Settings(const std::string& family, bool pag4 = false, bool rt = false) {
  ConversionSettings s;
  s.paymentsIndex = 0;
  s.pag4Bancomat = pag4;
  s.tenderFamily = family;
  s.rt = rt;
  s.rtSerial = rt ? "99ZTA123456" : "";
  return s;
}

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
  env.settings = c.settings;
  env.dataDir = dir.path();
  env.notifier = &notifier;
  Lines jobLines;
  ASSERT_EQ(ConvertCommandFile(path, jobLines, env), c.result);
  if (c.result != 0) return;
  EXPECT_EQ(jobLines, c.output);
  EXPECT_TRUE(notifier.messages.empty());
  std::string xon;
  for (const std::string& l : c.output) xon += l + "\r\n";
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("XON.txt")), xon);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordsFileTest,
    ::testing::Values(
        FileCase{"BreadAndMilk",
                 {"SALE,N1,P1000,:Pane;", "SALE,N2,P2.50,Q2,:Latte;", "TEND,N4,V500;", "TEND,N1,V1500;"},
                 Settings("ZT"), 0,
                 {"\"PANE\"1000H1R", "\"  2 X 2.5\"@", "\"LATTE\"1*500H2R", "1500H1T", "500H4T"}},
        FileCase{"FirstItemCommentFollows",
                 {"PLUD,N1,P1.99;", "SALE,N2,P0.5;", "TEND,N1;"}, Settings("ZT"), 0,
                 {"1*199H1R", "\" ^---**  1 X 1.99\"@", "\"  1 X 0.5\"@", "1*50H2R", "1T"}},
        FileCase{"ReturnAndModifierPlaceholders",
                 {"SALE,N1,P100,R;", "SALE,N1,P200,S,:Sconto;", "SALE,N1,P300,S1,R;"}, Settings("ZT"), 0,
                 {"9M100H1R", "0M\"SCONTO\"200H1R", "17MH9M300H1R"}},
        FileCase{"DebitLastOnZt", {"TEND,N4;", "TEND,N1,V500;"}, Settings("ZT"), 0, {"500H1T", "4T"}},
        FileCase{"DebitInPlaceOnOt", {"TEND,N4;", "TEND,N1,V500;"}, Settings("OT"), 0, {"4T", "500H1T"}},
        FileCase{"BancomatTickedNeverMoves", {"TEND,N4,V100;", "TEND,N1;"}, Settings("ZT", true), 0,
                 {"100H3T", "1T"}},
        FileCase{"CreditFunctionBeforeCustomerCode",
                 {"PRNT,:RSSMRA80A01H501U;", "SALE,N1,P1000;", "FUNC,N39;", "CRED,T3,V900;"}, Settings("AT"),
                 0, {"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R", "900H3T"}},
        FileCase{"InvoiceHeading",
                 {"OPFS,N7,:Cliente Uno,>IT01234567890;", "EXTL,:Consegna a domicilio;", "SALE,N1,P100;"},
                 Settings("ZT"), 0,
                 {"\"0007\"@", "99F", "\"Cliente Uno\"@", "\"IT01234567890\"@", "937F",
                  "\"CONSEGNA A DOMICILIO\"@", "100H1R"}},
        FileCase{"DisplayDrawerBarcode", {"DISP,N5,:Ciao;", "OPEN,N1;", "BARC,T2,H,:123;"}, Settings("ZT"), 0,
                 {"\"CIAO\"2%", "a", "\"123\"4B"}},
        FileCase{"ReturnInsideCreditNote",
                 {"NDCR,>VR,D01022024;", "SALE,N1,P100,R;", "TEND,N1;"}, Settings("ZT", false, true), 0,
                 {"99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F", "100H1R", "1T"}},
        FileCase{"BadReferenceRefuses", {"SALE,N1,P100;", "NDCR,>A;"}, Settings("ZT", false, true), 1, {}},
        FileCase{"SixteenBitOverflowRefuses", {"SALE,N1,P100;", "TEND,N70000;"}, Settings("ZT"), 1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordsFileTest, OverflowIsReportedNotWrapped) {
  fakes::ScratchDir dir;
  const std::string path = dir.File("SR_DATI.001");
  fakes::WriteFileBytes(path, "SALE,N1,P100;\r\nTEND,N70000;\r\n");
  fakes::FakeNotifier notifier;
  ConversionEnv env;
  env.settings.paymentsIndex = 2;
  env.dataDir = dir.path();
  env.notifier = &notifier;
  Lines jobLines;
  EXPECT_EQ(ConvertCommandFile(path, jobLines, env), 1);
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0].rfind("Errore Conv = ", 0), 0u) << notifier.messages[0];
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("XON.txt")), "");
}

}  // namespace
}  // namespace kolibra
