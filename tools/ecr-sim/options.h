// Command line of the ECR simulator.
#pragma once

#include <string>

#include "ecr.h"

namespace ecrsim {

struct Options {
  bool tcp = true;
  std::string listenAddress = "127.0.0.1";
  int port = 8000;
  bool pty = false;
  std::string ptyLink;
  long exitAfterMs = -1;  // -1: run until a signal
  long gapMs = 20;
  long delayMs = 0;
  EcrConfig ecr;

  // Fault modes.
  bool silent = false;
  bool echoOnly = false;
  long dropAfter = -1;  // -1: never
  bool garbageEcho = false;
  bool xoff = false;
  bool noClosing = false;

  bool verbose = false;
  bool help = false;
};

// Parses argv. On a bad command line returns false and sets `error`.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

const char* UsageText();

}  // namespace ecrsim
