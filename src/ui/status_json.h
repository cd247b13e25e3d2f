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

// A JSON string of a path, as plain ASCII too: the path's characters as the
// file system has them (PathAsUtf8: UTF-8 on POSIX, the ANSI code page's
// characters on Windows); a path that is not valid UTF-8 there is taken as
// Windows-1252 bytes, as JsonString() does.
std::string JsonPathString(const std::string& path);

// The whole status object, on one line, ended by a line feed.
std::string StatusJson(AppContext& ctx);

}  // namespace kolibra
