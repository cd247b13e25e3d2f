#include "app/cli.h"

#include "core/app_context.h"
#include "conversion/numbers.h"
#include "conversion/convert_cli.h"
#include "platform/posix/posix_platform.h"
#include "ui/operator_window.h"

namespace kolibra {

namespace {

// A whole decimal number in [low, high] of at most nine digits; false otherwise.
bool ParseInt(const std::string& text, int low, int high, int& value) {
  const std::optional<int64_t> v = ParseBoundedInt(text, low, high, 9);
  if (v) value = static_cast<int>(*v);
  return v.has_value();
}

CommandLine Error(std::string message) {
  CommandLine cl;
  cl.kind = CommandLine::Kind::kError;
  cl.error = std::move(message);
  return cl;
}

}  // namespace

std::string UsageText() {
  return "Usage:\n"
         "  kolibra [--headless] [--settings-dir DIR] [--data-dir DIR] [--ecr-port PORT]\n"
         "          [--serial-device N=PATH]...\n"
         "  kolibra convert [--payments 5|6|8] [--pag4-bancomat] [--tender-code XX]\n"
         "                  [--rt-serial SERIAL] [--xon-dir DIR] FILE\n"
         "  kolibra --help | --version\n"
         "\n"
         "Runs the fiscal-printing driver: polls the data directory for jobs (SR_DATI.00n,\n"
         "then SR_START.00n, slots 1 to 4), sends them to the ECR and leaves the result\n"
         "files. Runs until SIGTERM or SIGINT (Ctrl-C), then shuts down in order.\n"
         "\n"
         "Options:\n"
         "  --headless             no window; status, tray and message texts go to stderr\n"
         "                         (the only mode on this system, and the default)\n"
         "  --settings-dir DIR     folder of the settings files KBCHKCOM.TXT, KBTIMER1.TXT,\n"
         "                         KBChkBd.txt and KBCHKSCO.TXT (default: the program's own\n"
         "                         folder); one driver may run per settings folder\n"
         "  --data-dir DIR         the data directory for the job files; replaces the usual\n"
         "                         choice (program folder, or the per-user CustomPathDataDir)\n"
         "  --ecr-port PORT        TCP port of the ECR in network mode (default 8000)\n"
         "  --serial-device N=PATH serial device of slot N (COMN), 1 to 4, e.g. 1=/dev/ttyUSB0\n"
         "                         (default /dev/ttyS<N-1>); may be repeated\n"
         "  --help                 this text\n"
         "  --version              the program's version\n"
         "\n"
         "  convert ...            converts one command file and prints the ECR command\n"
         "                         lines, without an ECR (see 'kolibra convert --help')\n"
         "\n"
         "Exit codes: 0 normal end, 1 start-up failed (self-test or missing folder),\n"
         "2 bad command line, 3 another copy already serves the same settings folder.\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  if (!args.empty() && args[0] == "convert") {
    cl.kind = CommandLine::Kind::kConvert;
    cl.convertArgs.assign(args.begin() + 1, args.end());
    return cl;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };

    if (name == "--help" || name == "-h") {
      cl.kind = CommandLine::Kind::kHelp;
      return cl;
    } else if (name == "--version") {
      cl.kind = CommandLine::Kind::kVersion;
      return cl;
    } else if (name == "--headless" && !hasValue) {
      cl.options.headless = true;
    } else if (name == "--settings-dir" || name == "--data-dir") {
      if (!takeValue() || value.empty()) return Error(name + " needs a folder");
      (name == "--settings-dir" ? cl.options.settingsDir : cl.options.dataDir) = value;
    } else if (name == "--ecr-port") {
      int port = 0;
      if (!takeValue() || !ParseInt(value, 1, 65535, port)) {
        return Error("--ecr-port needs a port number from 1 to 65535");
      }
      cl.options.ecrPort = port;
    } else if (name == "--serial-device") {
      if (!takeValue()) return Error("--serial-device needs N=PATH");
      const std::size_t sep = value.find('=');
      int slot = 0;
      if (sep == std::string::npos || !ParseInt(value.substr(0, sep), 1, kSlotCount, slot) ||
          sep + 1 >= value.size()) {
        return Error("--serial-device needs N=PATH with N from 1 to 4, not '" + value + "'");
      }
      cl.serialDevices.emplace_back(slot, value.substr(sep + 1));
    } else {
      return Error("unknown option '" + args[i] + "'");
    }
  }
  return cl;
}

int RunKolibra(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine cl = ParseCommandLine(args);
  switch (cl.kind) {
    case CommandLine::Kind::kHelp:
      out << UsageText();
      return kExitOk;
    case CommandLine::Kind::kVersion:
      out << "kolibra " << VersionText() << "\n";
      return kExitOk;
    case CommandLine::Kind::kError:
      err << "kolibra: " << cl.error << "\nTry 'kolibra --help'.\n";
      return kExitUsage;
    case CommandLine::Kind::kConvert:
      return RunConvertCommand(cl.convertArgs, out, err);
    case CommandLine::Kind::kRun:
      break;
  }

  PosixPlatform posix;
  for (const auto& [slot, path] : cl.serialDevices) posix.serial().SetDevicePath(slot, path);
  posix.loop().InstallTerminationSignals();
  AppContext ctx(posix.platform());
  return RunDriver(ctx, cl.options);
}

}  // namespace kolibra
