// The receipt's closing reply: collected after the last payment line,
// acknowledged, and turned into the two records of the output file.
#pragma once

#include <optional>
#include <string>

#include "core/app_context.h"
#include "link/link_error.h"

namespace kolibra {

// Collects the closing reply (up to its ETX) over the current link,
// acknowledges it and adds the output records to ctx.link.outputBytes. False on
// a socket failure and when no framed reply came; error 5 when the reply is
// too short for its fields.
LinkResult<bool> ReadClosingReply(AppContext& ctx);

// The two output-file lines (without line ends) for a reply; nullopt when
// the reply has no STX or no ETX, error 5 when a field position falls
// outside the reply.
struct OutputRecords {
  std::string time;
  std::string date;
};
LinkResult<std::optional<OutputRecords>> BuildOutputRecords(const std::string& reply, bool footerRt,
                                                            bool modelFt);

// A field of the closing reply as "0000" when it is numeric, else unchanged.
std::string FormatFourDigits(const std::string& field);

}  // namespace kolibra
