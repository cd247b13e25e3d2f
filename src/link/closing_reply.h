// The receipt's closing reply: collected after the last payment line,
// acknowledged, and turned into the two records of the output file.
#pragma once

#include <optional>
#include <string>

#include "core/app_context.h"
#include "link/link_wait.h"

namespace kolibra {

// Collects the closing reply over the current link, acknowledges it and
// writes the output records to ctx.link.output. False only on a socket
// failure. Throws LinkFault when the reply is too short for its fields.
bool ReadClosingReply(AppContext& ctx);

// The two output-file lines (without line ends) for a reply; nullopt when
// the reply has no STX or no ETX. Throws LinkFault when a field position
// falls outside the reply.
struct OutputRecords {
  std::string time;
  std::string date;
};
std::optional<OutputRecords> BuildOutputRecords(const std::string& reply, bool footerRt, bool modelFt);

// A field of the closing reply as "0000" when it is numeric, else unchanged.
std::string FormatFourDigits(const std::string& field);

}  // namespace kolibra
