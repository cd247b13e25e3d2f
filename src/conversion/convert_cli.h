// The "convert" subcommand: converts one command file and prints the ECR
// command lines, so that integrators can check a file without an ECR.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kolibra {

// args are the words after "convert":
//   [--payments 5|6|8] [--pag4-bancomat] [--tender-code XX]
//   [--rt-serial SERIAL] [--xon-dir DIR] FILE
// Prints the command lines to out (raw bytes, each ended by CR LF) and
// returns 0; returns 1 with the reason on err and nothing on out when the
// conversion is refused; returns 2 with the usage on err for bad arguments.
// XON.txt is written only into the folder given with --xon-dir.
int RunConvertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kolibra
