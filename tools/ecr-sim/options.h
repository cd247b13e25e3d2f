// Command line of the ECR simulator.
#pragma once

#include <string>
#include <vector>

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
  long delayMs = 0;        // before every answer chunk
  long echoDelayMs = 0;    // before the echo, on top of delayMs
  long answerDelayMs = 0;  // before the second answer, on top of gap and delay
  long replyDelayMs = 0;   // before the closing reply, on top of gap and delay
  long baud = 0;           // pty pacing; 0: unpaced
  EcrConfig ecr;

  // Fault modes.
  bool silent = false;
  bool echoOnly = false;
  long dropAfter = -1;  // -1: never
  bool garbageEcho = false;
  bool xoff = false;
  bool noClosing = false;
  long xonAfterMs = -1;  // -1: no XON after the XOFF
  bool mergeAnswer = false;
  long replyChunks = 1;
  long chunkPauseMs = -1;  // -1: the gap
  long paperOut = -1;      // the command (counted from 1) answered with the error
  long rebootAfter = -1;   // -1: never
  long rebootMs = 1000;
  bool cutAtClose = false;
  bool singleClient = false;

  std::string statsFile;

  // Trace replay: the files played in order, the speed-up of their delays,
  // and whether the first difference ends the answers.
  std::vector<std::string> replayFiles;
  long replaySpeed = 1;
  bool replayStop = false;

  bool verbose = false;
  bool help = false;
};

// Parses argv. On a bad command line returns false and sets `error`.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

const char* UsageText();

}  // namespace ecrsim
