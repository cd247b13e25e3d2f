// Program entry: hands the command line to the application.
#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "platform/make_platform.h"

int main(int argc, char** argv) {
  kolibra::UseBinaryStandardStreams();
  const std::vector<std::string> args(argv + 1, argv + argc);
#if defined(_WIN32) && !defined(KOLIBRA_CONSOLE_PROGRAM)
  // kolibra.exe has no console: its refusals are shown in a window too.
  return kolibra::RunWindowedProgram(args, std::cout, std::cerr);
#else
  return kolibra::RunKolibra(args, std::cout, std::cerr);
#endif
}
