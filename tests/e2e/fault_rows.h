// The link faults the simulator plays, one row each: shared by the fault
// table and the replay of its traces.
#pragma once

#include <ostream>

#include "e2e/e2e_fixture.h"

namespace kolibra::e2e {

// The simulator counts its commands from the driver's start: the dump takes
// four (" K", 48F, 47F, 41F), then the job's " K" is the 5th and the lines of
// kReceipt the 6th to 9th.
struct FaultRow {
  const char* name;
  bool pty;
  std::vector<std::string> simArgs;
  // Error lines the job may end with; none when it must print.
  std::vector<std::string> errors;
  // Whether the fault is over by the end of the job, so the next job prints.
  bool transient = true;
  // The job under the fault and its lines.
  const char* commands = kReceipt;
  std::vector<std::string> lines = kReceiptLines;
  // The job fails although the ECR closed its receipt: `lines` were printed.
  bool printed = false;
  // How long the job may take, from its start file to its answer.
  int jobMs = 90000;
};

// Its first payment line covers the total: the ECR closes the receipt there.
inline const char kCoveredByFirstPayment[] = "SALE,N1,P1000;\r\nTEND,N1,V1000;\r\nTEND,N2,V500;\r\n";
inline const std::vector<std::string> kCoveredLines{"1000H1R", "1000H1T"};

// Keeps the test names in ctest's listing short.
inline void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

inline const FaultRow kFaultRows[] = {
    {"MergedEchoAndAnswerTcp", false, {"--merge-answer"}, {}},
    // Past the driver's echo time-outs: the line is waited for, never resent.
    // The ECR stays slow, so no next job.
    {"SlowSecondAnswerTcp", false, {"--answer-delay-ms", "3500"}, {}, false,
     "SALE,N1,P1000,:Pane;\r\nTEND,N1,V1500;\r\n", {"\"PANE\"1000H1R", "1500H1T"}},
    {"ClosingReplyInThreeChunksTcp", false, {"--reply-chunks", "3", "--chunk-pause-ms", "400"}, {}},
    {"ClosingReplyInTwoChunksTcp", false, {"--reply-chunks", "2", "--chunk-pause-ms", "1000"}, {}},
    // The plain serial link: dump and receipt over a pseudo-terminal.
    {"PlainPty", true, {}, {}},
    {"ClosingReplyInThreeChunksPty", true, {"--reply-chunks", "3", "--chunk-pause-ms", "400"}, {}},
    // The XON comes 500 ms after each XOFF: nothing is written meanwhile and
    // each dump answer is read whole after the XON.
    {"XoffThenXonAfter500msPty", true, {"--xon-after-ms", "500"}, {}},
    {"Paced9600BaudPty", true, {"--baud", "9600"}, {}},
    // The ECR reboots for 2 s: after the first sale line the job has not
    // reached its payment (E504); after the last sale line the payment may
    // already be on the dropped connection (E520, or E504 if the drop was
    // seen first).
    {"RebootAfterFirstSaleTcp", false, {"--reboot-after", "6", "--reboot-ms", "2000"}, {kErrE504}},
    {"RebootAfterLastSaleTcp", false, {"--reboot-after", "8", "--reboot-ms", "2000"}, {kErrE520, kErrE504}},
    // The pty goes silent for 3 s: right after the reset " K" (E504), or
    // with the payment line written into the silence (E520).
    {"SilentAfterResetPty", true, {"--reboot-after", "5", "--reboot-ms", "3000"}, {kErrE504}},
    {"SilentBeforePaymentPty", true, {"--reboot-after", "8", "--reboot-ms", "3000"}, {kErrE520}},
    // The ECR prints on the first payment line and the link goes before it
    // answers: uncertain, never "not printed", and the second payment line
    // is not sent.
    {"CutAfterPrintingOnFirstPaymentTcp", false, {"--cut-at-close"}, {kErrE520}, true, kCoveredByFirstPayment,
     kCoveredLines, true},
    {"CutAfterPrintingOnFirstPaymentPty", true, {"--cut-at-close"}, {kErrE520}, true, kCoveredByFirstPayment,
     kCoveredLines, true},
    // XOFF after every echo and never an XON: a short fixed pause after each
    // XOFF, no waiting for the XON, so the receipt takes a few seconds at most.
    {"XoffWithoutXonTcp", false, {"--xoff"}, {}, true, kReceipt, kReceiptLines, false, 6000},
    {"XoffWithoutXonPty", true, {"--xoff"}, {}, true, kReceipt, kReceiptLines, false, 6000},
};

}  // namespace kolibra::e2e
