#include "app/ctl_command.h"

#include <memory>

#include "app/control_server.h"
#include "app/data_dir.h"
#include "app/package_folders.h"
#include "conversion/exit_codes.h"
#include "core/messages.h"
#include "platform/control_channel.h"
#include "platform/make_platform.h"
#include "ui/control_protocol.h"

namespace kolibra {

namespace {

int UsageError(std::ostream& err, const std::string& message) {
  err << "kolibra ctl: " << message << "\n" << ControlUsageLine() << "\n";
  return kExitUsage;
}

// The driver's settings folder when none is given.
std::string DefaultFolder() {
  PlatformOptions options;
  options.handleTerminationSignals = false;
  return DefaultSettingsFolder(MakePlatform(options)->platform().system);
}

}  // namespace

std::string CtlHelpText() {
  return ControlUsageLine() +
         "\n"
         "\n"
         "Invia un comando al driver Kolibra che serve la cartella di impostazioni\n"
         "DIR (predefinita: la cartella del programma) attraverso il socket\n"
         "kolibra.sock di quella cartella: lo usano l'utente del driver e, se la\n"
         "cartella lascia entrare il suo gruppo, i membri del gruppo del socket.\n"
         "Su Windows passa per una named pipe locale della cartella, che solo\n"
         "l'utente del driver puo' aprire.\n"
         "I comandi sono quelli della finestra di Kolibra, con le stesse regole e\n"
         "gli stessi messaggi; le impostazioni si salvano come dalla finestra.\n"
         "\n"
         "Comandi:\n" +
         ControlCommandsHelp() +
         "\n"
         "Codici di uscita: 0 eseguito (anche set-polling 0, che mette 1 secondo),\n"
         "1 rifiutato, niente cambiato (con il messaggio della finestra), 2 comando\n"
         "errato, 3 nessun driver in esecuzione sulla cartella, 4 il driver non ha\n"
         "risposto.\n"
         "\n"
         "status --json scrive lo stato in JSON per i programmi di controllo\n"
         "(campi descritti nel manuale).\n" +
         (PackageFoldersHelp().empty() ? std::string() : "\n" + PackageFoldersHelp());
}

int RunCtlCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string settingsDir;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (words.empty() && (a == "--help" || a == "-h")) {
      out << CtlHelpText();
      return kExitOk;
    }
    if (words.empty() && (a == "--settings-dir" || a.rfind("--settings-dir=", 0) == 0)) {
      if (a == "--settings-dir") {
        if (i + 1 >= args.size()) return UsageError(err, "--settings-dir vuole una cartella");
        settingsDir = args[++i];
      } else {
        settingsDir = a.substr(a.find('=') + 1);
      }
      if (settingsDir.empty()) return UsageError(err, "--settings-dir vuole una cartella");
      continue;
    }
    if (words.empty() && a.rfind("-", 0) == 0) return UsageError(err, "opzione sconosciuta '" + a + "'");
    words.push_back(a);
  }
  if (words.empty()) return UsageError(err, "manca il comando");
  if (words.size() > 2) return UsageError(err, "troppi argomenti dopo '" + words[0] + "'");

  // The same parser as the driver's: a request it would refuse is not sent.
  const std::string line = words.size() == 2 ? words[0] + " " + words[1] : words[0];
  const ParsedRequest parsed = ParseControlRequest(line);
  if (!parsed.ok) return UsageError(err, parsed.error);

  settingsDir = DropTrailingSeparator(settingsDir.empty() ? DefaultFolder() : settingsDir);
  const std::string path = ControlSocketPath(settingsDir);
  const ControlCallResult call = SendControlRequest(path, line, kCtlTimeoutMs);
  switch (call.status) {
    case ControlCallStatus::kOk:
      break;
    case ControlCallStatus::kNoServer:
      err << "kolibra ctl: nessun driver Kolibra in esecuzione sulla cartella " << settingsDir << "\n";
      return kExitNoDriver;
    case ControlCallStatus::kNotOwner:
      err << "kolibra ctl: " << ControlEndpointName(path) << kControlOtherOwner << "\n";
      return kExitNoDriver;
    case ControlCallStatus::kUnsafeFolder:
      err << "kolibra ctl: " << UnsafeFolderText(settingsDir) << "\n";
      return kExitNoDriver;
    case ControlCallStatus::kNotAvailable:
      err << "kolibra ctl: comandi non disponibili su questo sistema\n";
      return kExitNoDriver;
    case ControlCallStatus::kTimedOut:
      err << "kolibra ctl: il driver non ha risposto entro " << kCtlTimeoutMs / 1000 << " secondi\n";
      return kExitNoAnswer;
    case ControlCallStatus::kFailed:
      err << call.cause.Explain("kolibra ctl: risposta del driver mancante o interrotta") << "\n";
      return kExitNoAnswer;
  }
  const ParsedReply reply = ParseControlReply(call.reply);
  if (!reply.ok) {
    err << "kolibra ctl: risposta del driver non valida\n";
    return kExitNoAnswer;
  }
  switch (reply.status) {
    case ReplyStatus::kOk:
      out << reply.text;
      return kExitOk;
    case ReplyStatus::kRefused:
      err << reply.text;
      return kExitRefused;
    case ReplyStatus::kBadRequest:
      break;
  }
  std::string text = reply.text;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return UsageError(err, text);
}

}  // namespace kolibra
