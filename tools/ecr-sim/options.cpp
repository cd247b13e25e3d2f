#include "options.h"

#include <charconv>
#include <climits>
#include <cstring>

namespace ecrsim {
namespace {

// Up to twelve decimal digits and nothing else, in [min, max]; read without a
// locale.
bool ParseNumber(const std::string& text, long min, long max, long& out) {
  if (text.empty() || text.size() > 12) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  if (v < min || v > max) return false;
  out = v;
  return true;
}

bool PrintableOfLength(const std::string& text, size_t length) {
  if (text.size() != length) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

const char* UsageText() {
  return
      "Usage: kolibra-ecr-sim [options]\n"
      "Plays an Italian fiscal cash register (ECR) for the kolibra driver.\n"
      "\n"
      "Endpoints:\n"
      "  --listen ADDR        IPv4 address to listen on (default 127.0.0.1)\n"
      "  --port N             TCP port (default 8000; 0 picks a free port)\n"
      "  --no-tcp             do not listen on TCP\n"
      "  --pty                create a pseudo-terminal and serve it as the serial line\n"
      "  --pty-link PATH      also symlink the pseudo-terminal to PATH (implies --pty)\n"
      "  On start one line per endpoint is printed: \"tcp ADDR:PORT\", \"pty PATH\".\n"
      "\n"
      "ECR identity:\n"
      "  --mf                 answer the status request as an MF register (\"0\"),\n"
      "                       not RT (\"6\")\n"
      "  --mf-serial S        8-character MF serial (default 99MEY012)\n"
      "  --rt-serial S        11-character RT serial (default 99MZT123456)\n"
      "  --serial S           8-character serial number (default 99123456)\n"
      "  --first-receipt N    number of the first receipt, 1..9999 (default 1)\n"
      "  --first-number N     number printed before the receipt number, 0..9999\n"
      "                       (default 1)\n"
      "  --model-ft           closing reply laid out as on FT models\n"
      "\n"
      "Timing:\n"
      "  --gap-ms N           pause between answer chunks (default 20)\n"
      "  --delay-ms N         extra delay before every answer chunk (default 0)\n"
      "  --echo-delay-ms N    further delay before the echo (default 0)\n"
      "  --answer-delay-ms N  further delay before the second answer (default 0)\n"
      "  --reply-delay-ms N   further delay before the closing reply (default 0)\n"
      "  --baud N             pace pty output at N baud, 10 bits a byte (default off)\n"
      "  --exit-after-ms N    stop after N ms (default: run until SIGINT/SIGTERM)\n"
      "\n"
      "Faults:\n"
      "  --silent             never answer\n"
      "  --echo-only          echo commands; no second answer, no closing reply\n"
      "  --drop-after N       after N commands close the TCP connection (a new\n"
      "                       connection counts afresh) or stop answering on the pty\n"
      "  --garbage-echo       answer with bytes of the command's length that differ\n"
      "  --xoff               follow every echo with the XOFF byte 0x13\n"
      "  --no-closing         never send the receipt's closing reply\n"
      "  --xon-after-ms N     send XON (0x11) N ms after each XOFF; later answers\n"
      "                       wait for it (implies --xoff)\n"
      "  --merge-answer       TCP: echo and second answer in one write\n"
      "  --reply-chunks N     closing reply in N writes, 1..36 (default 1)\n"
      "  --chunk-pause-ms N   pause between those writes (default: the gap)\n"
      "  --paper-out N        the Nth command (counted from 1, both links) is not\n"
      "                       taken: the echo, then the error answer \"ERR07\" in place\n"
      "                       of the second answer (pty: in the same write)\n"
      "  --reboot-after N     once, after answering the Nth command: drop the TCP\n"
      "                       client, forget the open receipt, and for --reboot-ms\n"
      "                       close new connections at once and ignore the pty\n"
      "  --reboot-ms N        how long the reboot lasts (default 1000)\n"
      "  --cut-at-close       once: the command that closes a receipt is taken and\n"
      "                       the receipt printed, but instead of answering it the\n"
      "                       TCP client is dropped or the pty ignores commands\n"
      "                       for --reboot-ms\n"
      "  --single-client      close a second TCP client at once (default: the new\n"
      "                       client replaces the old one)\n"
      "\n"
      "Replay:\n"
      "  --replay FILE        play the ECR of a trace written by kolibra (tracedump.txt\n"
      "                       or a job's TRACE_*.TXT); repeat it to play several\n"
      "                       traces in order as one session. Each command gets the\n"
      "                       answers traced for it; the fault options do not apply.\n"
      "                       A file that is no trace (not a plain file, over 64 MB,\n"
      "                       no traced command) is refused: exit code 2\n"
      "  --replay-speed N     play the traced delays N times faster, 1..1000\n"
      "                       (default 1)\n"
      "  --replay-stop        at a command that differs from the trace, stop\n"
      "                       answering (default: report it and answer as the\n"
      "                       trace's next step)\n"
      "  Differences go to stderr: the command's number, the trace line, the first\n"
      "  byte that differs, both texts.\n"
      "\n"
      "Counters:\n"
      "  On exit one line goes to stderr: \"receipts closed N, lines taken M, lines\n"
      "  taken twice K, ACK received A\". A line is taken when the ECR accepts a\n"
      "  command other than \" K\" and the dump commands; taking it again in the\n"
      "  same receipt counts as taken twice. Lines of a receipt left open (\" K\",\n"
      "  reboot) are not printed.\n"
      "  --stats-file PATH    on exit and after each closed receipt rewrite PATH:\n"
      "                       receipts=N, taken=M, duplicates=K, then per command\n"
      "                       of the closed receipts \"line COUNT COMMAND\"\n"
      "\n"
      "Other:\n"
      "  --verbose            log commands and answers to stderr, and the lines\n"
      "                       taken more than once on exit\n"
      "  --help               show this text\n"
      "Options taking a value accept both \"--opt VALUE\" and \"--opt=VALUE\".\n"
      "Options ending in -ms, --reboot-ms aside, also go without it (--delay 5).\n";
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasInline = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasInline = true;
    }
    auto needValue = [&]() -> bool {
      if (hasInline) return true;
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto number = [&](long min, long max, long& out) -> bool {
      if (!needValue()) return false;
      if (!ParseNumber(value, min, max, out)) {
        error = "option " + arg + ": '" + value + "' is not a number from " +
                std::to_string(min) + " to " + std::to_string(max);
        return false;
      }
      return true;
    };
    auto flag = [&](bool& out) -> bool {
      if (hasInline) {
        error = "option " + arg + " takes no value";
        return false;
      }
      out = true;
      return true;
    };
    // Millisecond options also go by their name without "-ms".
    for (const char* base : {"--gap", "--delay", "--exit-after", "--echo-delay", "--answer-delay",
                             "--reply-delay", "--xon-after", "--chunk-pause"}) {
      if (arg == base) arg += "-ms";
    }
    long n = 0;
    bool ok = true;

    if (arg == "--help" || arg == "-h") {
      ok = flag(o.help);
    } else if (arg == "--listen") {
      ok = needValue();
      o.listenAddress = value;
    } else if (arg == "--port") {
      ok = number(0, 65535, n);
      o.port = static_cast<int>(n);
    } else if (arg == "--no-tcp") {
      bool set = false;
      ok = flag(set);
      o.tcp = false;
    } else if (arg == "--pty") {
      ok = flag(o.pty);
    } else if (arg == "--pty-link") {
      ok = needValue();
      o.ptyLink = value;
      o.pty = true;
      if (ok && value.empty()) {
        error = "option --pty-link needs a path";
        ok = false;
      }
    } else if (arg == "--exit-after-ms") {
      ok = number(0, LONG_MAX / 4, o.exitAfterMs);
    } else if (arg == "--gap-ms") {
      ok = number(0, 600000, o.gapMs);
    } else if (arg == "--delay-ms") {
      ok = number(0, 600000, o.delayMs);
    } else if (arg == "--echo-delay-ms") {
      ok = number(0, 600000, o.echoDelayMs);
    } else if (arg == "--answer-delay-ms") {
      ok = number(0, 600000, o.answerDelayMs);
    } else if (arg == "--reply-delay-ms") {
      ok = number(0, 600000, o.replyDelayMs);
    } else if (arg == "--baud") {
      ok = number(50, 4000000, o.baud);
    } else if (arg == "--mf") {
      bool set = false;
      ok = flag(set);
      o.ecr.rtMode = false;
    } else if (arg == "--mf-serial" || arg == "--rt-serial" || arg == "--serial") {
      size_t length = arg == "--rt-serial" ? 11 : 8;
      ok = needValue();
      if (ok && !PrintableOfLength(value, length)) {
        error = "option " + arg + " needs exactly " + std::to_string(length) +
                " printable characters";
        ok = false;
      }
      (arg == "--mf-serial" ? o.ecr.mfSerial
                            : arg == "--rt-serial" ? o.ecr.rtSerial : o.ecr.serial) = value;
    } else if (arg == "--first-receipt") {
      ok = number(1, 9999, n);
      o.ecr.firstReceipt = static_cast<int>(n);
    } else if (arg == "--first-number") {
      ok = number(0, 9999, n);
      o.ecr.firstNumber = static_cast<int>(n);
    } else if (arg == "--model-ft") {
      ok = flag(o.ecr.modelFt);
    } else if (arg == "--silent") {
      ok = flag(o.silent);
    } else if (arg == "--echo-only") {
      ok = flag(o.echoOnly);
    } else if (arg == "--drop-after") {
      ok = number(0, LONG_MAX / 4, o.dropAfter);
    } else if (arg == "--garbage-echo") {
      ok = flag(o.garbageEcho);
    } else if (arg == "--xoff") {
      ok = flag(o.xoff);
    } else if (arg == "--no-closing") {
      ok = flag(o.noClosing);
    } else if (arg == "--xon-after-ms") {
      ok = number(0, 600000, o.xonAfterMs);
      o.xoff = true;
    } else if (arg == "--merge-answer") {
      ok = flag(o.mergeAnswer);
    } else if (arg == "--reply-chunks") {
      ok = number(1, 36, o.replyChunks);
    } else if (arg == "--chunk-pause-ms") {
      ok = number(0, 600000, o.chunkPauseMs);
    } else if (arg == "--paper-out") {
      ok = number(1, LONG_MAX / 4, o.paperOut);
    } else if (arg == "--reboot-after") {
      ok = number(1, LONG_MAX / 4, o.rebootAfter);
    } else if (arg == "--cut-at-close") {
      ok = flag(o.cutAtClose);
    } else if (arg == "--reboot-ms") {
      ok = number(0, 600000, o.rebootMs);
    } else if (arg == "--single-client") {
      ok = flag(o.singleClient);
    } else if (arg == "--stats-file") {
      ok = needValue();
      o.statsFile = value;
      if (ok && value.empty()) {
        error = "option --stats-file needs a path";
        ok = false;
      }
    } else if (arg == "--replay") {
      ok = needValue();
      o.replayFiles.push_back(value);
      if (ok && value.empty()) {
        error = "option --replay needs a path";
        ok = false;
      }
    } else if (arg == "--replay-speed") {
      ok = number(1, 1000, o.replaySpeed);
    } else if (arg == "--replay-stop") {
      ok = flag(o.replayStop);
    } else if (arg == "--verbose" || arg == "-v") {
      ok = flag(o.verbose);
    } else {
      error = "unknown option " + arg;
      ok = false;
    }
    if (!ok) return false;
  }
  if (!o.tcp && !o.pty && !o.help) {
    error = "nothing to serve: --no-tcp needs --pty";
    return false;
  }
  return true;
}

}  // namespace ecrsim
