// The command line of `idcard`, `idcard serve`, `idcard doctor` and `idcard service`, and the
// configuration file that carries the same options.
#pragma once

#include <string>
#include <vector>

#include "tools/doctor/doctor.h"
#include "tools/editions/library.h"
#include "tools/service/options.h"

namespace idcard {

// `idcard service ACTION`: the service in the background (Windows: the service manager's).
enum class ServiceAction { None, Install, Uninstall, Start, Stop, Run };

struct Options {
  ReaderOptions reader;
  bool serve = false;  // serve, and service install / run: the service's options apply
  ServeOptions service;
  ServiceAction action = ServiceAction::None;
  std::string config;  // the configuration file, as given
  bool json = false;
  bool run_doctor = false;
  doctor::Options doctor;
};

// A command line read: the options to run with, or an exit.
struct ParsedOptions {
  Options options;
  int exit = -1;     // -1: run; 0 after --help and --version; 2 for a bad command line
  std::string text;  // what to print: the help or version (exit 0), the one-line error (exit 2)
};

// The arguments after the program's name. Options from a --config file come first; those on the
// command line override its values and add to its lists.
ParsedOptions parse_arguments(const std::vector<std::string>& args);

// The options, or an exit: 0 after --help and --version, 2 with a one-line message for a bad
// command line or configuration file.
Options parse_options(int argc, char** argv);

// A whole 32-bit decimal number; false for anything else.
bool parse_int(const char* text, int* value);

}  // namespace idcard
