// Conveniences for the programs around the libraries (the host program, the simulator, tests and
// benchmarks), which may allocate: texts as owned strings. The libraries themselves never use
// this header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace plat {

// Converts ANSI text (GBK on POSIX) to UTF-8, for printing what the libraries hand out. A byte
// sequence that the code page cannot read becomes U+FFFD and the next character is kept.
std::string ansi_to_utf8(std::string_view ansi);

// The ANSI code page the libraries' text is in: the system's (GetACP) on Windows, always 936 (GBK)
// on POSIX.
unsigned ansi_code_page();

// The folder of the process's executable, ending in a separator; empty when unknown.
std::string executable_folder();

// ---- Why a library did not load -------------------------------------------------------------

enum class LoadFailure {
  Damaged,         // not a loadable library: cut short, garbled (Windows: error 193)
  NeedsLibraries,  // a library it needs is missing (Windows: error 126)
  Refused,         // access denied
  Other,
};
struct LoadError {
  LoadFailure kind = LoadFailure::Other;
  std::string text;  // the system's words: "system error 193", or the loader's message
};
// Why the last load_library() of this thread failed; to be called right after it.
LoadError last_load_error();

// ---- Accounts and the rights on files --------------------------------------------------------

// A user account as the file system's rights see it.
struct Account {
  std::string name;
  std::uint32_t id = 0;               // POSIX: the user id
  std::vector<std::uint32_t> groups;  // POSIX: the primary group first, then the others
  bool administrator = false;         // POSIX: the user id 0; Windows: a member of Administrators
};

// The account this process runs as (POSIX: its effective user).
Account current_account();
// The account of a user name. False when there is none; always false on Windows, where rights
// are only found out by trying them as the running user.
bool find_account(const std::string& name, Account* account);

// What lies under a path, without following a link, and where a link leads.
struct PathFacts {
  bool exists = false;  // something lies under the name, a dangling link too
  bool link = false;
  std::string link_target;  // as written in the link
  bool leads_somewhere = false;  // the path, links followed, ends at a file or folder
  bool folder = false;           // ... at a folder
  // POSIX: of what the path leads to.
  std::uint32_t owner = 0, group = 0, mode = 0;  // mode: the permission bits (0777)
  std::string owner_name;
};
PathFacts path_facts(const std::string& path);

enum Right : unsigned { kMayExecute = 1, kMayWrite = 2, kMayRead = 4 };
// Whether the account has each of `rights` (Right bits) on what the path leads to. POSIX: by the
// permission bits, as the kernel decides them (the administrator may read and write anything and
// execute what has an execute bit or is a folder). Windows: read is tried by opening the file
// as the running user; write and execute are not found out here (true).
bool may(const Account& account, const std::string& path, unsigned rights);

// ---- Stop requests of the console -----------------------------------------------------------

// Called on a thread of the system's when the console asks the program to stop: Ctrl+C,
// Ctrl+Break, and (`process_ends`) the console window closed, the user logging off, the system
// shutting down, after which the system ends the process as soon as the handler returns.
using ConsoleStop = void (*)(bool process_ends);
// Windows: registers the handler (for the rest of the process). POSIX: false, nothing done; a
// program there watches SIGINT and SIGTERM.
bool on_console_stop(ConsoleStop handler);

// ---- Background services (the Windows service manager) --------------------------------------
// On POSIX each of these fails with a message saying that there is no service manager here.

// What the service manager keeps of a service: started with the system, as the local system
// account, restarted by the manager when it fails.
struct ServiceSetup {
  std::string name;          // the service's key name
  std::string display_name;  // shown in the manager's list
  std::string description;
  std::string command_line;  // the program's path, quoted, and its arguments
};
// False with a message when it cannot be installed (among others: one of that name exists).
bool install_service(const ServiceSetup& setup, std::string* error);
// Stops the service when it runs, then removes it.
bool uninstall_service(const std::string& name, std::string* error);
// Start and stop, each returning once the service runs or has stopped (or the wait ran out).
bool start_service(const std::string& name, std::string* error);
bool stop_service(const std::string& name, std::string* error);

// How a service process runs under the manager. `run` runs on a thread of the manager's: it
// calls `serving` once it serves and returns its exit status once it has stopped. `stop` is
// called on another of the manager's threads for the manager's stop and for a system shut-down:
// it only asks `run` to end.
struct ServiceBody {
  std::function<int(const std::function<void()>& serving)> run;
  std::function<void()> stop;
};
// Runs the process as the service `name` until `run` returns, with its status. False with a
// message when the process was not started by the service manager.
bool run_as_service(const std::string& name, const ServiceBody& body, int* status, std::string* error);

}  // namespace plat
