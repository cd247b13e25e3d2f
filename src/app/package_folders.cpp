#include "app/package_folders.h"

namespace kolibra {

namespace {

#ifdef KOLIBRA_PACKAGE_SETTINGS_DIR
const PackageLayout kBuiltIn{KOLIBRA_PACKAGE_SETTINGS_DIR, KOLIBRA_PACKAGE_DATA_DIR, KOLIBRA_PACKAGE_DEFAULTS_FILE};
#else
const PackageLayout kBuiltIn{};
#endif

// An environment file is a few lines; a larger one is not read.
constexpr std::size_t kDefaultsReadLimit = 65536;

std::string_view TrimBlanks(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

const PackageLayout& BuiltInPackageLayout() { return kBuiltIn; }

std::string DataDirOfDefaults(std::string_view text) {
  constexpr std::string_view kKey = "KOLIBRA_DATA_DIR";
  std::string found;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = TrimBlanks(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.starts_with(kKey)) continue;
    line = TrimBlanks(line.substr(kKey.size()));
    if (!line.starts_with('=')) continue;
    std::string_view value = TrimBlanks(line.substr(1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    found = std::string(value);
  }
  // A relative name would depend on the folder each command is run from.
  return found.starts_with('/') ? found : std::string();
}

std::string PackageDataDir(FileSystem& fs, const PackageLayout& layout) {
  const ReadResult defaults = fs.ReadRegularFile(layout.defaultsFile, kDefaultsReadLimit);
  const std::string named = defaults.status == ReadStatus::kOk ? DataDirOfDefaults(defaults.bytes) : std::string();
  return named.empty() ? layout.dataDir : named;
}

std::string DefaultSettingsFolder(System& system) {
  return kBuiltIn.settingsDir.empty() ? system.ProgramFolder() : kBuiltIn.settingsDir;
}

std::string PackageFoldersHelp() {
  if (kBuiltIn.settingsDir.empty()) return {};
  return "Installato dal pacchetto, senza cartelle usa quelle del servizio:\n"
         "impostazioni in " + kBuiltIn.settingsDir + ", cartella dati come da KOLIBRA_DATA_DIR\n"
         "in " + kBuiltIn.defaultsFile + " (altrimenti " + kBuiltIn.dataDir + ").\n";
}

}  // namespace kolibra
