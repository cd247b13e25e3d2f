#include "app/submit_command.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <utility>

#include "app/data_dir.h"
#include "conversion/numbers.h"
#include "core/app_context.h"
#include "core/job_files.h"
#include "core/messages.h"
#include "platform/file_writes.h"
#include "platform/make_platform.h"

namespace kolibra {

namespace {

constexpr std::size_t kMaxCommandBytes = 16u << 20;
constexpr std::size_t kMaxResultBytes = 65536;
// A result is in place before the driver removes the start file; this much
// longer it is still waited for, whatever the time-out.
constexpr int64_t kResultGraceMs = 2000;

constexpr const char* kPrefix = "kolibra submit: ";

// Checks done() now and then every kSubmitCheckMs until it holds; false when
// the deadline came first.
bool WaitUntil(EventLoop& loop, int64_t deadline, const std::function<bool()>& done) {
  for (;;) {
    if (done()) return true;
    const int64_t now = loop.NowMs();
    if (now >= deadline) return false;
    loop.Wait(std::min(deadline, now + kSubmitCheckMs));
  }
}

// A name no other writer uses at the same time: name + "." + 16 random hex
// digits + ".tmp".
std::string UniqueTempPath(const std::string& path) {
  static std::random_device random;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = path + ".";
  for (int i = 0; i < 2; ++i) {
    for (uint32_t v = random(), n = 0; n < 8; ++n, v >>= 4) name += kHex[v & 15];
  }
  return name + ".tmp";
}

// Writes bytes whole (WriteFileAtomically) under a client's temporary name,
// so that the driver never sees a part of the file; readable by the data
// folder's group (the driver's) whatever the umask.
bool WriteWhole(FileSystem& fs, const std::string& path, const std::string& bytes) {
  return WriteFileAtomically(fs, path, bytes, FileAccess::kGroupReadable, UniqueTempPath).ok();
}

// The text up to its first line end.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// Lines ended by CR LF (or LF) as lines ended by LF.
std::string WithNewlines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

int Usage(std::ostream& err, const std::string& problem) {
  err << kPrefix << problem << "\nVedere 'kolibra submit --help'.\n";
  return kSubmitUsage;
}

}  // namespace

int SubmitJob(FileSystem& fs, EventLoop& loop, const SubmitRequest& request, std::ostream& out,
              std::ostream& err) {
  const auto path = [&](const char* base) {
    return JoinPath(request.dataDir, JobFileName(base, request.slot));
  };
  const std::string start = path("SR_START");
  const std::string errFile = path("SR_ERR");
  const std::string finesco = path("FINESCO");
  const auto present = [&](const std::string& p) { return fs.Inspect(p).kind != FileKind::kMissing; };
  const int64_t deadline = loop.NowMs() + request.timeoutMs;

  // The slot is ours from the command file to the reading of the results:
  // another client that claims it waits, so that it neither replaces our
  // files nor removes our results before we read them. The system drops a
  // crashed client's claim; its file stays and is taken again.
  const std::string claimPath = path(kSubmitClaimBase);
  ClaimResult claim;
  if (!WaitUntil(loop, deadline, [&] {
        claim = fs.TryClaim(claimPath);
        return claim.status != ClaimStatus::kBusy;
      })) {
    err << kPrefix << kSubmitSlotBusy << "\n";
    return kSubmitNotPrinted;
  }
  if (claim.status != ClaimStatus::kHeld) {
    err << kPrefix << kSubmitNotSent << claimPath << "\n";
    return kSubmitNotPrinted;
  }
  // Our results, once read, go: the next client finds the slot clean.
  const auto readResult = [&](int code) {
    for (const std::string& done : {finesco, errFile, path("SR_OUT")}) fs.Remove(done);
    return code;
  };

  // Another job of the slot runs or waits: ours would replace its files.
  if (!WaitUntil(loop, deadline, [&] { return !present(start); })) {
    err << kPrefix << kSubmitSlotBusy << "\n";
    return kSubmitNotPrinted;
  }
  // Results of an earlier job would be read as this one's.
  for (const std::string& old : {finesco, errFile, path("SR_OUT")}) {
    if (!fs.Remove(old).ok()) {
      err << kPrefix << kSubmitNotSent << old << "\n";
      return kSubmitNotPrinted;
    }
  }
  // The command file whole before the start file: the job is the driver's
  // from the moment the start file appears.
  const std::pair<std::string, std::string> writes[] = {{path("SR_DATI"), request.commands},
                                                         {start, "1\r\n"}};
  for (const auto& [file, bytes] : writes) {
    if (!WriteWhole(fs, file, bytes)) {
      err << kPrefix << kSubmitNotSent << file << "\n";
      return kSubmitNotPrinted;
    }
  }

  if (!WaitUntil(loop, deadline, [&] { return !present(start); })) {
    err << kPrefix << kSubmitStillWaiting << "\n";
    return kSubmitTimedOut;
  }
  // Result files are renamed into place, so one that is there is whole.
  const int64_t resultDeadline = std::max(deadline, loop.NowMs() + kResultGraceMs);
  if (!WaitUntil(loop, resultDeadline, [&] { return present(errFile) || present(finesco); })) {
    err << kPrefix << kSubmitNoResult << "\n";
    return kSubmitUncertain;
  }
  if (present(errFile)) {
    const ReadResult read = fs.ReadRegularFile(errFile, kMaxResultBytes);
    std::string line = read.status == ReadStatus::kOk ? FirstLine(read.bytes) : "";
    // An error line that cannot be read may be E520's.
    if (line.empty()) line = kErrUncertain;
    err << line << "\n";
    return readResult(line.rfind(std::string(kErrUncertain).substr(0, 4), 0) == 0 ? kSubmitUncertain
                                                                                  : kSubmitNotPrinted);
  }
  out << "finesco\n" << WithNewlines(fs.ReadRegularFile(path("SR_OUT"), kMaxResultBytes).bytes);
  return readResult(kSubmitPrinted);
}

std::string SubmitHelpText() {
  return "uso: kolibra submit [--data-dir DIR] [--slot N] [--timeout S] FILE\n"
         "\n"
         "Manda il file di comandi FILE al driver Kolibra che serve la cartella dati\n"
         "DIR (predefinita: quella del driver) sulla porta N (da 1 a 4, predefinita\n"
         "1) e ne aspetta l'esito, al massimo S secondi (predefiniti 120): blocca\n"
         "il file ~KBCLAIM.00N (aspetta se un altro invio lo tiene), aspetta che la\n"
         "porta sia libera, cancella i vecchi file di esito, scrive SR_DATI.00N con\n"
         "un nome provvisorio suo e lo rinomina, scrive SR_START.00N, aspetta che\n"
         "sparisca e che ci sia il file di esito, lo legge e lo cancella. I file\n"
         "di lavoro sono leggibili dal gruppo della cartella dati qualunque sia\n"
         "la umask.\n"
         "\n"
         "Codici di uscita:\n"
         "  0 stampato: \"finesco\" e le righe di SR_OUT su standard output\n"
         "  1 non stampato: la riga di SR_ERR su standard error (anche E521: si\n"
         "    puo' ripetere l'invio), o il lavoro non e' stato inviato\n"
         "  2 riga di comando errata\n"
         "  3 esito incerto (E520): verificare sull'Ecr l'ultimo scontrino prima di\n"
         "    ripetere l'invio\n"
         "  4 tempo scaduto con il file di avvio ancora presente: il lavoro potrebbe\n"
         "    essere ancora eseguito\n";
}

int RunSubmitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  SubmitRequest request;
  std::string dataDir;
  std::string file;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    const std::size_t eq = name.find('=');
    const bool inlineValue = name.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inlineValue) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    const auto takeValue = [&] {
      if (!inlineValue && i + 1 < args.size()) value = args[++i];
      return inlineValue || !value.empty();
    };
    if (name == "--help" || name == "-h") {
      out << SubmitHelpText();
      return kSubmitPrinted;
    } else if (name == "--data-dir") {
      if (!takeValue() || value.empty()) return Usage(err, "--data-dir vuole una cartella");
      dataDir = value;
    } else if (name == "--slot") {
      const std::optional<int64_t> slot = takeValue() ? ParseBoundedInt(value, 1, kSlotCount, 1) : std::nullopt;
      if (!slot) return Usage(err, "--slot vuole un numero di porta da 1 a 4");
      request.slot = static_cast<int>(*slot);
    } else if (name == "--timeout") {
      const std::optional<int64_t> s = takeValue() ? ParseBoundedInt(value, 1, 86400, 5) : std::nullopt;
      if (!s) return Usage(err, "--timeout vuole i secondi, da 1 a 86400");
      request.timeoutMs = *s * 1000;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Usage(err, "opzione sconosciuta '" + args[i] + "'");
    } else if (!file.empty()) {
      return Usage(err, "un solo file, non anche '" + args[i] + "'");
    } else {
      file = args[i];
    }
  }
  if (file.empty()) return Usage(err, "manca il file di comandi");

  PlatformOptions options;
  options.handleTerminationSignals = false;
  const std::unique_ptr<PlatformServices> services = MakePlatform(options);
  Platform& platform = services->platform();
  ReadResult commands = platform.fs.ReadRegularFile(file, kMaxCommandBytes);
  if (commands.status != ReadStatus::kOk) return Usage(err, "file di comandi non leggibile: " + file);
  request.commands = std::move(commands.bytes);

  if (dataDir.empty()) {
    AppContext ctx(platform);
    if (!SelectDataDirectory(ctx)) return kSubmitNotPrinted;
    dataDir = ctx.dataDir;
  }
  request.dataDir = DropTrailingSeparator(dataDir);
  if (!platform.fs.IsDirectory(request.dataDir)) {
    err << kPrefix << request.dataDir << kDirMissingSuffix << "\n";
    return kSubmitNotPrinted;
  }
  return SubmitJob(platform.fs, platform.loop, request, out, err);
}

}  // namespace kolibra
