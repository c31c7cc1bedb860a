// Conveniences for the programs around the libraries (the host program, the simulator, tests and
// benchmarks), which may allocate: texts as owned strings. The libraries themselves never use
// this header.
#pragma once

#include <chrono>
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

// Whether this system has the service manager these talk to: true on Windows, false on POSIX.
bool has_service_manager();

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
// How run_as_service ended: the service ran (its exit status in `status`); the process was not
// started by the service manager (a program started by hand, which the caller tells its user how
// to start as a service); or the manager could not be reached (the system's reason in `error`).
enum class ServiceRun { Ran, NotStartedByManager, Failed };
// Runs the process as the service `name` until `run` returns.
ServiceRun run_as_service(const std::string& name, const ServiceBody& body, int* status,
                          std::string* error);

// ---- Child processes and their pipes --------------------------------------------------------

// A program started by this one, that talks to it over two pipes of its own: it reads requests
// from one and writes answers to the other. Nothing but the child inherits the pipes' ends (no
// name another program could open them by), and the child finds them by the two numbers that
// start() appends to its arguments (child_pipes() takes them apart). Its standard error is this
// process's. Ended, killed when it still runs, and reaped when the object goes.
class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Received { Data, Timeout, Closed };

  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` (a full path) with `args` (after the program's name). False with a line
  // naming the program and the system's reason when it cannot start.
  bool start(const std::string& program, const std::vector<std::string>& args, std::string* error);
  // Started and not yet ended (it may have exited by itself meanwhile).
  bool started() const;
  std::int64_t pid() const { return pid_; }

  // Writes all the bytes to the child's requests pipe; false when the child's end is gone.
  bool send(std::string_view bytes);
  // Waits until the child wrote something (appended to `into`), closed its answers pipe (it
  // ended), or the deadline passed.
  Received receive(std::string* into, Clock::time_point deadline);

  // Closes the requests pipe, which asks the child to end, and waits until `deadline` for it to;
  // then ends it as end() does. How it ended, as end() says.
  std::string finish(Clock::time_point deadline);
  // Kills the child when it still runs and reaps it: "exit status N", "signal N" (POSIX),
  // "exit code 0xNNNNNNNN" (Windows). Empty when none was started.
  std::string end();

 private:
  void close_pipes();
  std::int64_t pid_ = 0;
  // The Windows-only handles are unused on POSIX.
  [[maybe_unused]] std::intptr_t process_ = -1;  // Windows: the process's handle
  std::intptr_t requests_ = -1;  // this end of the requests pipe (written)
  std::intptr_t answers_ = -1;   // this end of the answers pipe (read)
  [[maybe_unused]] std::intptr_t event_ = -1;  // Windows: the event of an overlapped read of the answers
  [[maybe_unused]] std::intptr_t job_ = -1;  // Windows: the job that ends the child when this process ends
};

// In a child: the requests and answers ends from the two numbers start() appended to its
// arguments. False for numbers that are no handles of this process.
bool child_pipes(const char* requests, const char* answers, File* in, File* out);

// In a child: the system ends it when its parent ends, even in the middle of a call that never
// returns. Linux: when the parent's thread that started it ends, so a parent starts its children
// from a thread that lives as long as they do. Windows: the parent's job does it.
void end_with_parent();

// In a child: its standard output goes where its standard error goes, so that what a library
// prints never mixes with the parent's own output.
void output_to_errors();

// A write to a pipe whose reader has gone fails (EPIPE) instead of ending the program (POSIX;
// nothing to do on Windows).
void ignore_broken_pipes();

// This process's id.
std::int64_t current_process_id();

// Whether a process of that id runs (one of another user's counts).
bool process_runs(std::int64_t pid);

// ---- Private folders ------------------------------------------------------------------------

// Where this user's private folders go, ending in a separator: on Linux $XDG_RUNTIME_DIR (kept in
// memory, the user's own) when it is usable, else the temporary folder; on Windows the user's
// temporary folder. Empty when there is none.
std::string private_folder_base();
// Makes the folder `path` (which must not exist), that only this user may enter: mode 0700 on
// POSIX, on Windows an access list that grants this user alone, inherited by what is made in it.
// False with the system's reason.
bool create_private_folder(const std::string& path, std::string* error);

// The system's text for an error code of last_error().
std::string error_text(std::uint32_t code);

}  // namespace plat
