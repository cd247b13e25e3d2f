// The job journal's text: what it keeps and what makes it unreadable (every
// job it may hold then counts as interrupted).
#include "core/job_journal.h"

#include <gtest/gtest.h>

namespace kolibra {
namespace {

TEST(JobJournal, TextRoundTripAndDamage) {
  JobJournal j;
  j.slots[0] = JournalEntry{JobStage::kTenderSent, "1:2:3:4.5", "1:2:9:4.1"};
  j.slots[3] = JournalEntry{JobStage::kDone, "", ""};
  const JobJournal back = ParseJournal(JournalText(j));
  EXPECT_FALSE(back.unreadable);
  ASSERT_TRUE(back.slots[0] && back.slots[3]);
  EXPECT_EQ(back.slots[0]->stage, JobStage::kTenderSent);
  EXPECT_EQ(back.slots[0]->startIdentity, "1:2:3:4.5");
  EXPECT_EQ(back.slots[0]->commandIdentity, "1:2:9:4.1");
  // A record of an older version holds no command file identity.
  const JobJournal old = ParseJournal("2,started,7:8:9:1.2\r\n");
  ASSERT_TRUE(old.slots[1]);
  EXPECT_EQ(old.slots[1]->startIdentity, "7:8:9:1.2");
  EXPECT_EQ(old.slots[1]->commandIdentity, "");
  EXPECT_EQ(back.slots[3]->stage, JobStage::kDone);
  EXPECT_FALSE(back.slots[1] || back.slots[2]);

  // A torn or foreign file: slot out of range, unknown stage, no fields.
  for (const char* damaged : {"5,done,x\r\n", "1,half,x\r\n", "1\r\n", "12,done,x\r\n"}) {
    EXPECT_TRUE(ParseJournal(damaged).unreadable) << damaged;
  }
}

}  // namespace
}  // namespace kolibra
