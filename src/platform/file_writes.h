// Files written whole through the FileSystem: under a fresh temporary name in
// the same folder, flushed to the disk, then renamed into place, so that a
// reader finds no file, the old one or the whole new one, never a part, and
// nothing planted under either name is written through.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/status.h"

namespace kolibra {

// The driver's temporary names: "~KB" + the file's name + "." + 8
// hexadecimal digits (lower case) + ".tmp", in the same folder, another one
// at each call. The calling application ignores names that begin with "~KB".
std::string TemporaryNameFor(const std::string& path);
// True for a name (no folder) of that form.
bool IsTemporaryName(const std::string& name);

// Makes a fresh temporary name for a path: the driver's (TemporaryNameFor)
// or a client's own (never one beginning with "~KB").
using TemporaryNamer = std::string (*)(const std::string& path);

// Creates a new file under a fresh temporary name of path, exclusively: a
// name something else already has is never used nor removed, another one is
// tried. The open stream, its name in temporary; fails with the last name's
// reason (temporary empty) when none could be created.
StatusOr<std::FILE*> CreateTemporaryFile(FileSystem& fs, const std::string& path, FileAccess access, std::string& temporary,
                               TemporaryNamer namer = TemporaryNameFor);

// Writes bytes under a fresh temporary name, flushes them to the disk and
// renames the file into place. Every write, the flush and the close are
// checked. Fails with the first failed step's reason (the temporary file is
// then removed).
Status WriteFileAtomically(FileSystem& fs, const std::string& path, std::string_view bytes,
                         FileAccess access = FileAccess::kShared, TemporaryNamer namer = TemporaryNameFor);

}  // namespace kolibra
