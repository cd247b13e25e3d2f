// `kolibra ctl status --json`: the driver's state for a monitoring program,
// one JSON object (described by doc/status.schema.json).
#pragma once

#include <string>
#include <string_view>

#include "core/app_context.h"

namespace kolibra {

// A JSON string of Windows-1252 bytes: quoted, with every byte outside
// printable ASCII written as the \u escape of its Unicode character, so the
// output is plain ASCII whatever the texts hold.
std::string JsonString(std::string_view cp1252);

// The whole status object, on one line, ended by a line feed.
std::string StatusJson(AppContext& ctx);

}  // namespace kolibra
