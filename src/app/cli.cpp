#include "app/cli.h"

#include "app/ctl_command.h"
#include "app/data_dir.h"
#include "app/package_folders.h"
#include "app/submit_command.h"
#include "app/window_driver.h"
#include "core/messages.h"
#include "conversion/convert_cli.h"
#include "conversion/numbers.h"
#include "core/app_context.h"
#include "platform/make_platform.h"
#include "platform/setup_actions.h"
#include "platform/window_host.h"
#include "ui/operator_window.h"

namespace kolibra {

namespace {

// A whole decimal number in [low, high] of at most nine digits; false otherwise.
bool ParseInt(const std::string& text, int low, int high, int& value) {
  const std::optional<int64_t> v = ParseBoundedInt(text, low, high, 9);
  if (v) value = static_cast<int>(*v);
  return v.has_value();
}

// How long --close-running waits for the copies it asked to close: a copy
// finishes the job it is running first, and a long receipt to a silent ECR
// takes minutes; past this the installer goes on and replaces the files at
// the next restart.
constexpr int64_t kCloseWaitMs = 180'000;

CommandLine Error(std::string message) {
  CommandLine cl;
  cl.kind = CommandLine::Kind::kError;
  cl.error = std::move(message);
  return cl;
}

constexpr const char* kNotOnThisSystem =
    " non si usa su questo sistema: cartelle e arresto del driver li cura il pacchetto\n";

int PrepareFolders(const std::vector<std::string>& folders, std::ostream& out, std::ostream& err) {
  // Every folder is checked before any is changed: a refused one leaves the
  // others as they were.
  for (const std::string& given : folders) {
    const std::string folder = DropTrailingSeparator(given);
    unsigned long error = 0;
    switch (CheckFolderForKolibra(given, error)) {
      case SetupStatus::kDone:
        break;
      case SetupStatus::kNotOnThisSystem:
        err << "kolibra: --prepare-folders" << kNotOnThisSystem;
        return kExitStartupFailed;
      case SetupStatus::kFailed:
        err << "kolibra: " << kPrepareFolderRefused << folder << " (errore " << error << ")\n";
        return kExitStartupFailed;
    }
  }
  for (const std::string& given : folders) {
    // An installer's folder properties end with a separator.
    const std::string folder = DropTrailingSeparator(given);
    unsigned long error = 0;
    switch (MakeFolderWritableByAllUsers(folder, error)) {
      case SetupStatus::kDone:
        out << "Cartella scrivibile da tutti gli utenti: " << folder << "\n";
        break;
      case SetupStatus::kNotOnThisSystem:
        err << "kolibra: --prepare-folders" << kNotOnThisSystem;
        return kExitStartupFailed;
      case SetupStatus::kFailed:
        err << "kolibra: cartella non preparata: " << folder << " (errore " << error << ")\n";
        return kExitStartupFailed;
    }
  }
  return kExitOk;
}

// After an upgrade: the copies --close-running closed run again, as the
// logon start runs them (with the settings folder given).
int StartAgain(const DriverOptions& options, std::ostream& out, std::ostream& err) {
  bool started = false;
  std::vector<std::string> arguments;
  if (!options.settingsDir.empty()) arguments = {"--settings-dir", DropTrailingSeparator(options.settingsDir)};
  switch (StartClosedCopiesAgain(arguments, started)) {
    case SetupStatus::kDone:
      out << (started ? "Kolibra avviato di nuovo\n" : "Nessun Kolibra da avviare di nuovo\n");
      return kExitOk;
    case SetupStatus::kNotOnThisSystem:
      err << "kolibra: --start-again" << kNotOnThisSystem;
      return kExitStartupFailed;
    case SetupStatus::kFailed:
      break;
  }
  err << "kolibra: Kolibra non avviato di nuovo\n";
  return kExitStartupFailed;
}

// Forwards to the platform's notifier and keeps the last line told (a
// message box's text without its prefix): the reason of a refused start.
class LastLineNotifier : public Notifier {
 public:
  explicit LastLineNotifier(Notifier& inner) : inner_(inner) {}
  void MessageBox(const std::string& text) override {
    inner_.MessageBox(text);
    last_ = text;
  }
  void Log(const std::string& line) override {
    inner_.Log(line);
    last_ = line;
    for (const char* prefix : {"Messaggio: ", "MESSAGGIO: "}) {
      if (last_.rfind(prefix, 0) == 0) last_.erase(0, std::string(prefix).size());
    }
  }
  const std::string& last() const { return last_; }

 private:
  Notifier& inner_;
  std::string last_;
};

// The driver, with its window where there is one; refusal: why it did not
// start (the last line it told), when it did not.
int RunDriverProgram(const CommandLine& cl, std::string& refusal) {
  PlatformOptions platformOptions;
  platformOptions.serialDevices = cl.serialDevices;
  const std::unique_ptr<PlatformServices> services = MakePlatform(platformOptions);
  Platform& base = services->platform();
  LastLineNotifier notes(base.notifier);
  Platform platform{base.loop, base.serial, base.socket, notes, base.fs, base.system, base.folderWatch, base.tray};
  int code = kExitOk;
  {
    // With a window system and a display the operator gets the window.
    const std::unique_ptr<WindowHost> host = cl.headlessAsked ? nullptr : MakeWindowHost(platform.loop);
    if (host) {
      code = RunWindowedDriver(platform, *host, cl.options, services->controlChannel());
    } else {
      AppContext ctx(platform);
      code = RunDriver(ctx, cl.options, services->controlChannel());
    }
  }
  if (code != kExitOk) refusal = notes.last();
  return code;
}

int CloseRunning(std::ostream& out, std::ostream& err) {
  int asked = 0;
  switch (CloseRunningCopies(kCloseWaitMs, asked)) {
    case SetupStatus::kDone:
      out << (asked == 0 ? "Nessun Kolibra in esecuzione\n" : "Kolibra chiuso\n");
      return kExitOk;
    case SetupStatus::kNotOnThisSystem:
      err << "kolibra: --close-running" << kNotOnThisSystem;
      return kExitStartupFailed;
    case SetupStatus::kFailed:
      break;
  }
  err << "kolibra: Kolibra ancora in esecuzione dopo " << kCloseWaitMs / 1000 << " secondi\n";
  return kExitStartupFailed;
}

}  // namespace

std::string UsageText() {
  return "uso:\n"
         "  kolibra [--headless] [--settings-dir DIR] [--data-dir DIR] [--ecr-port PORT]\n"
         "          [--serial-device N=PATH]...\n"
         "  kolibra convert [--payments 5|6|8] [--pag4-bancomat] [--tender-code XX]\n"
         "                  [--rt-serial SERIAL] [--xon-dir DIR] FILE\n"
         "  kolibra ctl [--settings-dir DIR] COMANDO [ARG]\n"
         "  kolibra submit [--data-dir DIR] [--slot N] [--timeout S] FILE\n"
         "  kolibra --prepare-folders --settings-dir DIR --data-dir DIR\n"
         "  kolibra --close-running\n"
         "  kolibra --start-again [--settings-dir DIR]\n"
         "  kolibra help | --help | --version\n"
         "\n"
         "Avvia il driver di stampa fiscale: cerca i lavori nella cartella dati\n"
         "(SR_DATI.00n, poi SR_START.00n, canali da 1 a 4), li invia all'ECR e lascia\n"
         "i file dei risultati. Resta attivo fino a SIGTERM, SIGINT (Ctrl-C), SIGHUP\n"
         "(terminale chiuso) o 'kolibra ctl stop', poi si chiude in ordine.\n"
         "\n"
         "Opzioni:\n"
         "  --headless             senza finestra; i testi di stato, dell'icona e dei\n"
         "                         messaggi vanno su stderr (il predefinito dove non\n"
         "                         c'e' una finestra: su Linux, o senza schermo)\n"
         "  --settings-dir DIR     cartella dei file di impostazione KBCHKCOM.TXT,\n"
         "                         KBTIMER1.TXT, KBChkBd.txt e KBCHKSCO.TXT (predefinita:\n"
         "                         la cartella del programma); un solo driver per\n"
         "                         cartella di impostazioni\n"
         "  --data-dir DIR         cartella dati dei file dei lavori; sostituisce la\n"
         "                         scelta abituale (cartella del programma, o la\n"
         "                         CustomPathDataDir dell'utente)\n"
         "  --ecr-port PORT        porta TCP dell'ECR in modalita' rete (predefinita 8000)\n"
         "  --serial-device N=PATH dispositivo seriale del canale N (COMN), da 1 a 4,\n"
         "                         per esempio 1=/dev/ttyUSB0 (predefinito\n"
         "                         /dev/ttyS<N-1>); si puo' ripetere\n"
         "  --prepare-folders      (Windows, per l'installazione) crea la cartella delle\n"
         "                         impostazioni e la cartella dati e permette a ogni\n"
         "                         utente del computer di scriverci, poi esce\n"
         "  --close-running        (Windows, per l'installazione) chiude in ordine le\n"
         "                         copie di Kolibra avviate dalla cartella di questo\n"
         "                         programma e aspetta la loro fine (al massimo 3\n"
         "                         minuti), poi esce\n"
         "  --start-again          (Windows, per l'installazione) avvia di nuovo Kolibra\n"
         "                         se --close-running lo ha appena chiuso per questo\n"
         "                         utente, poi esce\n"
         "  --help                 questo testo\n"
         "  --version              la versione del programma\n"
         "\n"
         "  convert ...            converte un file di comandi e stampa le righe di\n"
         "                         comando per l'ECR, senza ECR (vedi\n"
         "                         'kolibra convert --help')\n"
         "  ctl ...                comandi della finestra al driver in esecuzione:\n"
         "                         status, test-receipt, set-polling, set-speed,\n"
         "                         slots, mode, address, reset-connection, trace,\n"
         "                         pass-through, payments, fourth-payment, stop\n"
         "                         (vedi 'kolibra ctl --help')\n"
         "  submit ...             manda un file di comandi al driver come un\n"
         "                         programma chiamante e ne aspetta l'esito (vedi\n"
         "                         'kolibra submit --help')\n"
         "\n"
         "Codici di uscita: 0 fine normale, 1 avvio fallito (autotest o cartella\n"
         "mancante), 2 riga di comando errata, 3 un'altra copia serve gia' la stessa\n"
         "cartella di impostazioni.\n" +
         (PackageFoldersHelp().empty() ? std::string() : "\n" + PackageFoldersHelp());
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  if (!args.empty() && args[0] == "convert") {
    cl.kind = CommandLine::Kind::kConvert;
    cl.convertArgs.assign(args.begin() + 1, args.end());
    return cl;
  }
  if (!args.empty() && args[0] == "ctl") {
    cl.kind = CommandLine::Kind::kCtl;
    cl.ctlArgs.assign(args.begin() + 1, args.end());
    return cl;
  }
  if (!args.empty() && args[0] == "submit") {
    cl.kind = CommandLine::Kind::kSubmit;
    cl.submitArgs.assign(args.begin() + 1, args.end());
    return cl;
  }
  if (args.size() == 1 && args[0] == "help") {
    cl.kind = CommandLine::Kind::kHelp;
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
    } else if ((name == "--prepare-folders" || name == "--close-running" || name == "--start-again") &&
               !hasValue) {
      const auto kind = name == "--prepare-folders" ? CommandLine::Kind::kPrepareFolders
                        : name == "--close-running" ? CommandLine::Kind::kCloseRunning
                                                    : CommandLine::Kind::kStartAgain;
      if (cl.kind != CommandLine::Kind::kRun && cl.kind != kind) {
        return Error("--prepare-folders, --close-running e --start-again non vanno insieme");
      }
      cl.kind = kind;
    } else if (name == "--headless" && !hasValue) {
      cl.options.headless = true;
      cl.headlessAsked = true;
    } else if (name == "--settings-dir" || name == "--data-dir") {
      if (!takeValue() || value.empty()) return Error(name + " vuole una cartella");
      (name == "--settings-dir" ? cl.options.settingsDir : cl.options.dataDir) = value;
    } else if (name == "--ecr-port") {
      int port = 0;
      if (!takeValue() || !ParseInt(value, 1, 65535, port)) {
        return Error("--ecr-port vuole un numero di porta da 1 a 65535");
      }
      cl.options.ecrPort = port;
    } else if (name == "--serial-device") {
      if (!takeValue()) return Error("--serial-device vuole N=PATH");
      const std::size_t sep = value.find('=');
      int slot = 0;
      if (sep == std::string::npos || !ParseInt(value.substr(0, sep), 1, kSlotCount, slot) ||
          sep + 1 >= value.size()) {
        return Error("--serial-device vuole N=PATH con N da 1 a 4, non '" + value + "'");
      }
      cl.serialDevices.emplace_back(slot, value.substr(sep + 1));
    } else {
      return Error("opzione sconosciuta '" + args[i] + "'");
    }
  }
  // Never the program's folder by default: it must not become writable.
  if (cl.kind == CommandLine::Kind::kPrepareFolders &&
      (cl.options.settingsDir.empty() || cl.options.dataDir.empty())) {
    return Error("--prepare-folders vuole --settings-dir e --data-dir");
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
      err << "kolibra: " << cl.error << "\nVedere 'kolibra --help'.\n";
      return kExitUsage;
    case CommandLine::Kind::kConvert:
      return RunConvertCommand(cl.convertArgs, out, err);
    case CommandLine::Kind::kCtl:
      return RunCtlCommand(cl.ctlArgs, out, err);
    case CommandLine::Kind::kSubmit:
      return RunSubmitCommand(cl.submitArgs, out, err);
    case CommandLine::Kind::kPrepareFolders:
      return PrepareFolders({cl.options.settingsDir, cl.options.dataDir}, out, err);
    case CommandLine::Kind::kCloseRunning:
      return CloseRunning(out, err);
    case CommandLine::Kind::kStartAgain:
      return StartAgain(cl.options, out, err);
    case CommandLine::Kind::kRun:
      break;
  }
  std::string refusal;
  return RunDriverProgram(cl, refusal);
}

int RunWindowedProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine cl = ParseCommandLine(args);
  if (cl.kind == CommandLine::Kind::kError) {
    const int code = RunKolibra(args, out, err);
    ShowStartRefusal("kolibra: " + cl.error + "\nVedere 'kolibra --help'.");
    return code;
  }
  if (cl.kind != CommandLine::Kind::kRun) return RunKolibra(args, out, err);
  std::string refusal;
  const int code = RunDriverProgram(cl, refusal);
  // Shown once the driver's windows are gone, the program ending after it.
  if (code != kExitOk && !refusal.empty()) ShowStartRefusal(refusal);
  return code;
}

}  // namespace kolibra
