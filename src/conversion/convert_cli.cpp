#include "conversion/convert_cli.h"

#include <cstddef>
#include <memory>

#include "conversion/convert.h"
#include "conversion/exit_codes.h"
#include "platform/make_platform.h"

namespace kolibra {

namespace {

constexpr const char* kUsage =
    "uso: kolibra convert [--payments 5|6|8] [--pag4-bancomat] [--tender-code XX]\n"
    "                     [--rt-serial SERIAL] [--xon-dir DIR] FILE\n";

// Message boxes of the conversion, written as lines on a stream.
class StreamNotifier : public Notifier {
 public:
  explicit StreamNotifier(std::ostream& out) : out_(out) {}
  void MessageBox(const std::string& text) override { out_ << text << '\n'; }
  void Log(const std::string& line) override { out_ << line << '\n'; }

 private:
  std::ostream& out_;
};

int Usage(std::ostream& err, const std::string& problem) {
  err << "kolibra convert: " << problem << '\n' << kUsage;
  return kExitUsage;
}

}  // namespace

int RunConvertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ConversionEnv env;
  bool tenderCodeGiven = false;
  std::string file;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return kExitOk;
    }
    if (a == "--pag4-bancomat") {
      env.settings.pag4Bancomat = true;
    } else if (a == "--payments" || a == "--tender-code" || a == "--rt-serial" || a == "--xon-dir") {
      if (!hasValue) return Usage(err, a + " vuole un valore");
      const std::string& v = args[++i];
      if (a == "--payments") {
        if (v == "5") {
          env.settings.paymentsIndex = 0;
        } else if (v == "6") {
          env.settings.paymentsIndex = 1;
        } else if (v == "8") {
          env.settings.paymentsIndex = 2;
        } else {
          return Usage(err, "--payments vale 5, 6 o 8, non " + v);
        }
      } else if (a == "--tender-code") {
        if (v.size() != 2) return Usage(err, "--tender-code vuole 2 caratteri, non " + v);
        env.settings.tenderFamily = v;
        tenderCodeGiven = true;
      } else if (a == "--rt-serial") {
        if (v.size() != 11) return Usage(err, "--rt-serial vuole 11 caratteri, non " + v);
        env.settings.rt = true;
        env.settings.rtSerial = v;
      } else {
        if (v.empty()) return Usage(err, "--xon-dir vuole una cartella");
        env.dataDir = v;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(err, "opzione sconosciuta " + a);
    } else if (!file.empty()) {
      return Usage(err, "un solo file, non anche " + a);
    } else {
      file = a;
    }
  }
  if (file.empty()) return Usage(err, "manca il file");
  if (env.settings.rt && !tenderCodeGiven) env.settings.tenderFamily = env.settings.rtSerial.substr(3, 2);

  const std::unique_ptr<FileSystem> fs = MakeFileSystem();
  // A file that is not there is a mistake on the command line, not a refusal.
  if (fs->Inspect(file).kind == FileKind::kMissing) return Usage(err, "il file " + file + " non esiste");
  StreamNotifier notifier(err);
  env.notifier = &notifier;
  env.fs = fs.get();
  std::vector<std::string> lines;
  if (ConvertCommandFile(file, lines, env) != 0) {
    err << "kolibra convert: conversione rifiutata";
    if (!env.refusal.empty()) err << " (" << env.refusal << ")";
    err << "\n";
    return kExitConversionFailed;
  }
  for (const std::string& l : lines) {
    out.write(l.data(), static_cast<std::streamsize>(l.size()));
    out.write("\r\n", 2);
  }
  out.flush();
  return out ? kExitOk : kExitConversionFailed;
}

}  // namespace kolibra
