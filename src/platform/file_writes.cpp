#include "platform/file_writes.h"

#include <cstdint>
#include <random>

namespace kolibra {

namespace {

constexpr char kTemporaryPrefix[] = "~KB";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kTokenDigits = 8;
// Names tried for one temporary file before the write is given up.
constexpr int kTemporaryAttempts = 8;

// 8 hexadecimal digits, from a generator seeded once per process: names that
// another user cannot foresee.
std::string TemporaryToken() {
  static std::mt19937 generator{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937(seed);
  }()};
  static const char kDigits[] = "0123456789abcdef";
  uint32_t value = generator();
  std::string token(kTokenDigits, '0');
  for (std::size_t i = kTokenDigits; i-- > 0; value >>= 4) token[i] = kDigits[value & 15];
  return token;
}

}  // namespace

std::string TemporaryNameFor(const std::string& path) {
  const std::size_t sep = path.find_last_of("/\\");
  const std::size_t base = sep == std::string::npos ? 0 : sep + 1;
  return path.substr(0, base) + kTemporaryPrefix + path.substr(base) + "." + TemporaryToken() + kTemporarySuffix;
}

bool IsTemporaryName(const std::string& name) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1, suffix = sizeof kTemporarySuffix - 1;
  // "~KB", at least one character of the name, ".", the digits, ".tmp".
  if (name.size() < prefix + 1 + 1 + kTokenDigits + suffix) return false;
  if (name.compare(0, prefix, kTemporaryPrefix) != 0) return false;
  if (name.compare(name.size() - suffix, suffix, kTemporarySuffix) != 0) return false;
  const std::size_t token = name.size() - suffix - kTokenDigits;
  if (name[token - 1] != '.' || name.find_first_of("/\\") != std::string::npos) return false;
  for (std::size_t i = token; i < token + kTokenDigits; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

StatusOr<std::FILE*> CreateTemporaryFile(FileSystem& fs, const std::string& path, FileAccess access,
                                         std::string& temporary, TemporaryNamer namer) {
  Status failure;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    temporary = namer(path);
    StatusOr<std::FILE*> created = fs.CreateExclusive(temporary, access);
    if (created.ok()) return created;
    // The name is taken (by anything at all), or the folder takes no file:
    // only another name can tell.
    failure = created.status();
  }
  temporary.clear();
  return failure;
}

Status WriteFileAtomically(FileSystem& fs, const std::string& path, std::string_view bytes, FileAccess access,
                           TemporaryNamer namer) {
  std::string temporary;
  const StatusOr<std::FILE*> created = CreateTemporaryFile(fs, path, access, temporary, namer);
  if (!created.ok()) return created.status();
  std::FILE* file = created.value();
  Status done = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() ? fs.FlushToDisk(file) : LastOsError();
  if (std::fclose(file) != 0 && done.ok()) done = LastOsError();
  if (done.ok()) done = fs.ReplaceWith(temporary, path);
  if (!done.ok()) fs.Remove(temporary);
  return done;
}

}  // namespace kolibra
