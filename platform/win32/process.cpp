// Child processes and their pipes on Windows. The requests go through an anonymous pipe; the
// answers through a pipe that this process reads with a deadline (overlapped), which anonymous
// pipes do not allow: a named pipe of one instance, whose only client is the child's end, opened
// here before the child starts. The child inherits exactly its two ends (a handle list).
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/host.h"
#include "platform/win32/handle.h"

namespace plat {

namespace {

using win32::as_handle;
using win32::kNoHandle;

void close_handle(std::intptr_t& h) {
  if (h != kNoHandle && h != 0) CloseHandle(as_handle(h));
  h = kNoHandle;
}

std::intptr_t as_number(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

// A command line word as the C runtime reads it back: quoted, backslashes before a quote doubled.
void append_quoted(std::string& line, const std::string& word) {
  if (!line.empty()) line += ' ';
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');
  line += '"';
}

// The answers pipe: this end (overlapped, read) and the child's (inheritable, written). The name
// is unique to this process and call; one instance only, and the child's end is its client, so
// that no other program can connect once it is open.
bool make_answers_pipe(HANDLE* here, HANDLE* child) {
  static std::atomic<unsigned> counter{0};
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\idcard-reader-%lu-%u-%lu", GetCurrentProcessId(),
                counter++, GetTickCount());
  *here = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                           1, 0, 65536, 0, nullptr);
  if (*here == INVALID_HANDLE_VALUE) return false;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  *child = CreateFileA(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  if (*child != INVALID_HANDLE_VALUE) return true;
  CloseHandle(*here);
  return false;
}

std::string last_error_line(const char* what) {
  return std::string(what) + ": " + error_text(GetLastError());
}

// The process with exactly these handles inherited.
bool create_process(const std::string& program, std::string& line, HANDLE inherited[2],
                    PROCESS_INFORMATION* process) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::string room(size, '\0');
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(room.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
  const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                2 * sizeof(HANDLE), nullptr, nullptr);
  STARTUPINFOEXA start{};
  start.StartupInfo.cb = sizeof start;
  start.lpAttributeList = list;
  // A program without a console (the service) gives its child none either: no window opens.
  const DWORD flags = EXTENDED_STARTUPINFO_PRESENT | (GetConsoleWindow() ? 0 : CREATE_NO_WINDOW);
  const bool created = listed && CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                                flags, nullptr, nullptr, &start.StartupInfo, process);
  DeleteProcThreadAttributeList(list);
  return created;
}

}  // namespace

ChildProcess::~ChildProcess() { end(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this == &other) return *this;
  end();
  pid_ = other.pid_;
  process_ = other.process_;
  requests_ = other.requests_;
  answers_ = other.answers_;
  event_ = other.event_;
  other.pid_ = 0;
  other.process_ = other.requests_ = other.answers_ = other.event_ = kNoHandle;
  return *this;
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         std::string* error) {
  end();
  HANDLE request_read = nullptr, request_write = nullptr, answer_read = nullptr, answer_write = nullptr;
  if (!CreatePipe(&request_read, &request_write, nullptr, 0)) {
    *error = last_error_line("cannot make a pipe");
    return false;
  }
  SetHandleInformation(request_read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  if (!make_answers_pipe(&answer_read, &answer_write)) {
    *error = last_error_line("cannot make a pipe");
    CloseHandle(request_read);
    CloseHandle(request_write);
    return false;
  }
  std::string line;
  append_quoted(line, program);
  for (const std::string& a : args) append_quoted(line, a);
  append_quoted(line, std::to_string(as_number(request_read)));
  append_quoted(line, std::to_string(as_number(answer_write)));
  HANDLE inherited[2] = {request_read, answer_write};
  PROCESS_INFORMATION process{};
  const bool created = create_process(program, line, inherited, &process);
  const DWORD failure = GetLastError();
  CloseHandle(request_read);
  CloseHandle(answer_write);
  if (!created) {
    CloseHandle(request_write);
    CloseHandle(answer_read);
    *error = "cannot start " + program + ": " + error_text(failure);
    return false;
  }
  CloseHandle(process.hThread);
  pid_ = process.dwProcessId;
  process_ = as_number(process.hProcess);
  requests_ = as_number(request_write);
  answers_ = as_number(answer_read);
  event_ = as_number(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  return true;
}

bool ChildProcess::started() const { return pid_ != 0; }

bool ChildProcess::send(std::string_view bytes) {
  std::size_t done = 0;
  while (requests_ != kNoHandle && done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(as_handle(requests_), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                   &n, nullptr) || n == 0)
      return false;
    done += n;
  }
  return requests_ != kNoHandle;
}

ChildProcess::Received ChildProcess::receive(std::string* into, Clock::time_point deadline) {
  if (answers_ == kNoHandle || event_ == kNoHandle || event_ == 0) return Received::Closed;
  char buf[65536];
  OVERLAPPED read{};
  read.hEvent = as_handle(event_);
  ResetEvent(read.hEvent);
  DWORD n = 0;
  if (!ReadFile(as_handle(answers_), buf, sizeof buf, &n, &read)) {
    if (GetLastError() != ERROR_IO_PENDING) return Received::Closed;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const DWORD ms = left.count() <= 0 ? 0 : left.count() > 1000000 ? 1000000 : static_cast<DWORD>(left.count());
    if (WaitForSingleObject(read.hEvent, ms) != WAIT_OBJECT_0) CancelIo(as_handle(answers_));
    // After a cancel the read may still have completed: what it read counts.
    if (!GetOverlappedResult(as_handle(answers_), &read, &n, TRUE)) {
      if (GetLastError() == ERROR_OPERATION_ABORTED) return Received::Timeout;
      return Received::Closed;
    }
  }
  if (n == 0) return Received::Closed;
  into->append(buf, n);
  return Received::Data;
}

std::string ChildProcess::finish(Clock::time_point deadline) {
  close_handle(requests_);
  std::string rest;
  while (pid_ && receive(&rest, deadline) == Received::Data) rest.clear();
  return end();
}

std::string ChildProcess::end() {
  close_pipes();
  close_handle(event_);
  if (!pid_) return {};
  pid_ = 0;
  const HANDLE process = as_handle(process_);
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  close_handle(process_);
  char text[32];
  std::snprintf(text, sizeof text, code > 255 ? "exit code 0x%08lX" : "exit status %lu", code);
  return text;
}

void ChildProcess::close_pipes() {
  close_handle(requests_);
  close_handle(answers_);
}

bool child_pipes(const char* requests, const char* answers, File* in, File* out) {
  char* end = nullptr;
  const long long r = std::strtoll(requests ? requests : "", &end, 10);
  if (!requests || *end || r <= 0) return false;
  const long long a = std::strtoll(answers ? answers : "", &end, 10);
  if (!answers || *end || a <= 0) return false;
  DWORD flags = 0;
  if (!GetHandleInformation(as_handle(static_cast<std::intptr_t>(r)), &flags) ||
      !GetHandleInformation(as_handle(static_cast<std::intptr_t>(a)), &flags))
    return false;
  // Not handed on to anything this process might start.
  SetHandleInformation(as_handle(static_cast<std::intptr_t>(r)), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(as_handle(static_cast<std::intptr_t>(a)), HANDLE_FLAG_INHERIT, 0);
  *in = File(static_cast<std::intptr_t>(r));
  *out = File(static_cast<std::intptr_t>(a));
  return true;
}

void output_to_errors() {
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  std::fflush(stdout);
  _dup2(_fileno(stderr), _fileno(stdout));
}

void ignore_broken_pipes() {}

std::int64_t current_process_id() { return GetCurrentProcessId(); }

bool process_runs(std::int64_t pid) {
  if (pid <= 0) return false;
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

std::string error_text(std::uint32_t code) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    text[--n] = '\0';
  return (n ? std::string(text) + " " : std::string()) + "(error " + std::to_string(code) + ")";
}

}  // namespace plat
