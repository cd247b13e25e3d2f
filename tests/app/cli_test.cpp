// The kolibra command line: option values, and the Italian errors and help.
#include "app/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/package_folders.h"
#include "core/messages.h"
#include "fakes/fake_platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kolibra {
namespace {

TEST(CommandLine, ReadsOptionValues) {
  using Kind = CommandLine::Kind;
  const std::string port = "--ecr-port vuole un numero di porta da 1 a 65535";
  const std::string prepare = "--prepare-folders vuole --settings-dir e --data-dir";
  // ecrPort: when kRun.
  const struct { std::vector<std::string> args; std::string error; Kind kind = Kind::kError; int ecrPort = 0; }
      cases[] = {
      {{"--ecr-port", "1"}, "", Kind::kRun, 1}, {{"--ecr-port=65535"}, "", Kind::kRun, 65535},
      {{"--ecr-port", "000000080"}, "", Kind::kRun, 80}, {{"--ecr-port", "0"}, port}, {{"--ecr-port", "65536"}, port},
      {{"--ecr-port", "0000000080"}, port}, {{"--ecr-port", "+80"}, port}, {{"--ecr-port"}, port},
      {{"--serial-device", "4=/dev/x"}, "", Kind::kRun},
      {{"--serial-device", "5=/dev/x"}, "--serial-device vuole N=PATH con N da 1 a 4, non '5=/dev/x'"},
      {{"--serial-device", "1="}, "--serial-device vuole N=PATH con N da 1 a 4, non '1='"},
      {{"--serial-device"}, "--serial-device vuole N=PATH"}, {{"--data-dir="}, "--data-dir vuole una cartella"},
      {{"--headless=1"}, "opzione sconosciuta '--headless=1'"}, {{"convert", "--bogus"}, "", Kind::kConvert},
      {{"submit", "--bogus"}, "", Kind::kSubmit}, {{"help"}, "", Kind::kHelp},
      {{"help", "me"}, "opzione sconosciuta 'help'"}, {{"--close-running"}, "", Kind::kCloseRunning},
      {{"--prepare-folders", "--settings-dir", "s", "--data-dir=d"}, "", Kind::kPrepareFolders},
      {{"--settings-dir", "s", "--prepare-folders"}, prepare}, {{"--prepare-folders", "--data-dir", "d"}, prepare},
      {{"--close-running", "--prepare-folders"},
       "--prepare-folders, --close-running e --start-again non vanno insieme"},
      {{"--start-again", "--settings-dir", "s"}, "", Kind::kStartAgain},
  };
  for (const auto& c : cases) {
    const CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.kind, c.kind) << c.args[0];
    EXPECT_EQ(c.kind == Kind::kRun ? cl.options.ecrPort : 0, c.ecrPort) << c.args[0];
    EXPECT_EQ(cl.error, c.error) << c.args[0];
  }
}

TEST(CommandLine, PrintsHelpAndErrors) {
  std::ostringstream out, err;
  EXPECT_EQ(RunKolibra({"--bogus"}, out, err), kExitUsage);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "kolibra: opzione sconosciuta '--bogus'\nVedere 'kolibra --help'.\n");

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"help"}, {"ctl", "--help"}, {"submit", "--help"}}) {
    out.str("");
    EXPECT_EQ(RunKolibra(args, out, err), kExitOk);
    EXPECT_EQ(out.str().rfind("uso:", 0), 0u);
    std::istringstream help(out.str());
    for (std::string line; std::getline(help, line);) EXPECT_LE(line.size(), 80u) << line;
  }
#ifndef _WIN32
  // The installer's actions are the package's business here: refused, nothing done.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--close-running"}, {"--start-again"},
                                               {"--prepare-folders", "--settings-dir", "s", "--data-dir", "d"}}) {
    err.str("");
    EXPECT_EQ(RunKolibra(args, out, err), kExitStartupFailed) << args[0];
    EXPECT_EQ(err.str(), "kolibra: " + args[0] +
                             " non si usa su questo sistema: cartelle e arresto del driver li cura il pacchetto\n");
  }
#endif
}

// A packaged install's data folder is what the service's environment file names last, as systemd reads it (an
// absolute path only), else the package's own; so `kolibra submit` finds the service's folder.
TEST(PackageFolders, DataFolderAsTheServiceEnvironmentFileNamesIt) {
  const char* const kDefault = "/var/lib/kolibra/data";
  const std::pair<const char*, const char*> cases[] = {
      {nullptr, kDefault}, {"KOLIBRA_OPTIONS=\"--ecr-port 9100\"\n", kDefault},
      {"# KOLIBRA_DATA_DIR=/srv/vecchia\n;KOLIBRA_DATA_DIR=/srv/x\n", kDefault},
      {"KOLIBRA_DATA_DIR=/srv/cassa/dati\r\n", "/srv/cassa/dati"},
      {"  KOLIBRA_DATA_DIR = \"/srv/con spazio\" \n", "/srv/con spazio"},
      {"KOLIBRA_DATA_DIR='/srv/a'\nKOLIBRA_OPTIONS=\nKOLIBRA_DATA_DIR=/srv/b", "/srv/b"},
      {"KOLIBRA_DATA_DIRS=/srv/x\n", kDefault}, {"KOLIBRA_DATA_DIR=dati\n", kDefault},
  };
  fakes::ScratchDir etc;
  fakes::FakeFileSystem fs;
  const PackageLayout layout{"/var/lib/kolibra", kDefault, etc.File("kolibra")};
  for (const auto& [content, folder] : cases) {
    if (content) fakes::WriteFileBytes(layout.defaultsFile, content);
    EXPECT_EQ(PackageDataDir(fs, layout), folder) << (content ? content : "no file");
  }
}

#ifdef _WIN32
// Drive roots, system folders and a file in place of a folder are refused,
// both folders checked before either is changed.
TEST(CommandLine, PrepareFoldersRefusesWhatIsNoFolderForKolibraBeforeChangingAny) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / ("kolibra-prepare-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(base);
  fs::create_directories(base);
  const std::string settings = (base / "settings").string(), data = (base / "data").string();
  const std::string file = (base / "file").string();
  std::ofstream(file) << "x";
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  for (const std::string& refused : {std::string("C:\\"), std::string("C:"), std::string(windows), file}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunKolibra({"--prepare-folders", "--settings-dir", settings + "\\", "--data-dir", refused}, out, err),
              kExitStartupFailed) << refused;
    EXPECT_NE(err.str().find(kPrepareFolderRefused), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(settings)) << refused;  // untouched
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunKolibra({"--prepare-folders", "--settings-dir", settings + "\\", "--data-dir", data + "\\"}, out, err),
            kExitOk) << err.str();
  EXPECT_TRUE(fs::is_directory(settings) && fs::is_directory(data));
  fs::remove_all(base);
}
#endif

}  // namespace
}  // namespace kolibra
