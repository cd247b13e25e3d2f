// What the operator's actions tell the job cycle. The app's job cycle
// implements it and alone changes the cycle state and the polling timer;
// the parts below the app reach it through AppContext::cycleEvents.
#pragma once

#include <cstdint>

namespace kolibra {

struct TestReceiptFiles;

class CycleEvents {
 public:
  virtual ~CycleEvents() = default;
  // A new polling interval was chosen: it applies from now, the polling
  // running or stopped as it was.
  virtual void IntervalChosen(int32_t intervalMs) = 0;
  // A slot's box was ticked or cleared: the polling follows it.
  virtual void SlotSwitched(bool ticked) = 0;
  // The test receipt's files were written: its job runs from them.
  virtual void TestReceiptWritten(const TestReceiptFiles& files) = 0;
};

}  // namespace kolibra
