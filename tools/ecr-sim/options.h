// Command line of the ECR simulator.
#pragma once

#include <string>

#include "ecr.h"

namespace ecrsim {

struct Options {
  bool tcp = true;
  std::string listen_address = "127.0.0.1";
  int port = 8000;
  bool pty = false;
  std::string pty_link;
  long exit_after_ms = -1;  // -1: run until a signal
  long gap_ms = 20;
  long delay_ms = 0;
  EcrConfig ecr;

  // Fault modes.
  bool silent = false;
  bool echo_only = false;
  long drop_after = -1;  // -1: never
  bool garbage_echo = false;
  bool xoff = false;
  bool no_closing = false;

  bool verbose = false;
  bool help = false;
};

// Parses argv. On a bad command line returns false and sets `error`.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

const char* UsageText();

}  // namespace ecrsim
