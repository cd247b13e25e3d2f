#include "platform/log_line.h"

#include <gtest/gtest.h>

namespace kolibra {
namespace {

TEST(LogLineTest, StampedAndOneLineWhateverTheBreaks) {
  EXPECT_EQ(FormatLogLine(7, 5, 9, ""), "kolibra: 07:05:09 \n");
  EXPECT_EQ(FormatLogLine(23, 59, 0, std::string(kMessageBoxLogPrefix) + "a\r\nb\rc\nd\n\ne"),
            "kolibra: 23:59:00 MESSAGGIO: a b c d  e\n");
}

}  // namespace
}  // namespace kolibra
