// idcard doctor: checks a deployment as an application started from its folder meets it, and says
// in plain words what is wrong and the one-line fix for each finding. It reads the edition, driver
// and decoder files without loading them (their architecture may not be this program's); then,
// live, a reader process loads the folder's driver when this program's architecture can, and asks
// which ports answer, the SAM's status and whether a card lies on the reader.
#pragma once

#include <string>
#include <vector>

namespace idcard::doctor {

struct Options {
  std::string folder;   // empty: the current folder
  std::string edition;  // empty: the edition the folder holds
  int port = 0;         // the port the application opens; 0: any
  std::string card;     // a card profile handed to a simulated reader, or empty
  bool live = true;     // false: only the files are read (--static)
  bool json = false;
  // The user the application runs as, whose rights the file checks stand for (POSIX); empty:
  // the user running the doctor.
  std::string as_user;
  // The live checks run in a reader process: its program (empty: the one beside this program)
  // and how long it may take, in seconds, before it is ended and the driver said to hang.
  std::string reader_host;
  int reader_timeout = 10;
};

enum class Status { Ok, Note, Fail, Skipped };

struct Finding {
  std::string check;    // user, edition, exports, architecture, file, access, entry_points,
                        // recorder, folder, code_page, live, ports, sam, card, decoder
  std::string subject;  // the file or folder it is about
  Status status;
  std::string text;  // what was found, in plain words
  std::string fix;   // one line; empty where nothing is to be done
};

struct Report {
  std::string folder;   // as checked, ending in a separator
  std::string edition;  // the edition found (its name), or empty
  std::vector<Finding> findings;
  bool simulated = false;  // the folder's driver is the simulated reader
  bool ok() const;  // no finding fails
};

Report examine(const Options& o);

// Prints the report (lines, or one JSON document) on standard output.
void print(const Report& report, bool json);
// Examines and prints: the exit status, 0 when everything holds, 1 when a finding fails.
int run(const Options& o);

// A status as JSON and the text output write it: ok, note, fail, skipped.
const char* status_name(Status s);

}  // namespace idcard::doctor
