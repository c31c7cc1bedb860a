// Child processes, their pipes and private folders on POSIX.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/host.h"

extern char** environ;

namespace plat {

namespace {

// Where the child finds its ends of the pipes.
constexpr int kChildRequests = 3;
constexpr int kChildAnswers = 4;
// The parent's copies are moved above these first, so that placing them cannot overwrite one
// with the other.
constexpr int kAboveChildFds = 10;

void close_fd(std::intptr_t& fd) {
  if (fd >= 0) ::close(static_cast<int>(fd));
  fd = -1;
}

// A pipe whose ends are not inherited and lie above the child's fixed numbers.
bool make_pipe(int ends[2]) {
  int raw[2];
  if (::pipe2(raw, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    ends[i] = ::fcntl(raw[i], F_DUPFD_CLOEXEC, kAboveChildFds);
    ::close(raw[i]);
  }
  if (ends[0] >= 0 && ends[1] >= 0) return true;
  for (int i = 0; i < 2; ++i)
    if (ends[i] >= 0) ::close(ends[i]);
  return false;
}

std::string how_it_ended(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

int wait_ms(ChildProcess::Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - ChildProcess::Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 1000000 ? 1000000 : static_cast<int>(left.count());
}

}  // namespace

ChildProcess::~ChildProcess() { end(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this == &other) return *this;
  end();
  pid_ = other.pid_;
  requests_ = other.requests_;
  answers_ = other.answers_;
  other.pid_ = 0;
  other.requests_ = other.answers_ = -1;
  return *this;
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         std::string* error) {
  end();
  ignore_broken_pipes();
  int requests[2], answers[2];
  if (!make_pipe(requests)) {
    *error = "cannot make a pipe: " + error_text(last_error());
    return false;
  }
  if (!make_pipe(answers)) {
    *error = "cannot make a pipe: " + error_text(last_error());
    ::close(requests[0]);
    ::close(requests[1]);
    return false;
  }
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  words.push_back(std::to_string(kChildRequests));
  words.push_back(std::to_string(kChildAnswers));
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  // dup2 clears close-on-exec on the copy: only these two of the pipes' ends reach the child.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, requests[0], kChildRequests);
  posix_spawn_file_actions_adddup2(&actions, answers[1], kChildAnswers);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // No signal blocked, and the stop signals as the system sets them, whatever this process does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(requests[0]);
  ::close(answers[1]);
  if (failed) {
    ::close(requests[1]);
    ::close(answers[0]);
    *error = "cannot start " + program + ": " + error_text(static_cast<std::uint32_t>(failed));
    return false;
  }
  pid_ = pid;
  requests_ = requests[1];
  answers_ = answers[0];
  return true;
}

bool ChildProcess::started() const { return pid_ != 0; }

bool ChildProcess::send(std::string_view bytes) {
  std::size_t done = 0;
  while (requests_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(static_cast<int>(requests_), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return requests_ >= 0;
}

ChildProcess::Received ChildProcess::receive(std::string* into, Clock::time_point deadline) {
  if (answers_ < 0) return Received::Closed;
  for (;;) {
    pollfd p{static_cast<int>(answers_), POLLIN, 0};
    const int ready = ::poll(&p, 1, wait_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Received::Timeout;
    if (ready < 0) return Received::Closed;
    char buf[65536];
    const ssize_t n = ::read(static_cast<int>(answers_), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Received::Closed;
    into->append(buf, static_cast<std::size_t>(n));
    return Received::Data;
  }
}

std::string ChildProcess::finish(Clock::time_point deadline) {
  close_fd(requests_);
  // The child closes its end of the answers pipe as it ends.
  std::string rest;
  while (pid_ && receive(&rest, deadline) == Received::Data) rest.clear();
  return end();
}

std::string ChildProcess::end() {
  close_pipes();
  if (!pid_) return {};
  const pid_t pid = static_cast<pid_t>(pid_);
  pid_ = 0;
  int status = 0;
  pid_t reaped = ::waitpid(pid, &status, WNOHANG);
  if (reaped == 0) {
    ::kill(pid, SIGKILL);
    do reaped = ::waitpid(pid, &status, 0);
    while (reaped < 0 && errno == EINTR);
  }
  return reaped == pid ? how_it_ended(status) : std::string("not reaped");
}

void ChildProcess::close_pipes() {
  close_fd(requests_);
  close_fd(answers_);
}

bool child_pipes(const char* requests, const char* answers, File* in, File* out) {
  char* end = nullptr;
  const long r = std::strtol(requests ? requests : "", &end, 10);
  if (!requests || *end || r < 0 || ::fcntl(static_cast<int>(r), F_GETFD) < 0) return false;
  const long a = std::strtol(answers ? answers : "", &end, 10);
  if (!answers || *end || a < 0 || ::fcntl(static_cast<int>(a), F_GETFD) < 0) return false;
  ::fcntl(static_cast<int>(r), F_SETFD, FD_CLOEXEC);
  ::fcntl(static_cast<int>(a), F_SETFD, FD_CLOEXEC);
  *in = File(r);
  *out = File(a);
  return true;
}

void output_to_errors() { ::dup2(2, 1); }

void ignore_broken_pipes() { ::signal(SIGPIPE, SIG_IGN); }

std::int64_t current_process_id() { return ::getpid(); }

bool process_runs(std::int64_t pid) {
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::string private_folder_base() {
  namespace fs = std::filesystem;
  // The runtime folder is the user's own and in memory; it must be a folder this user can write.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && ::access(runtime, W_OK | X_OK) == 0) {
    std::error_code ec;
    if (fs::is_directory(runtime, ec)) {
      std::string base = runtime;
      if (base.back() != '/') base += '/';
      return base;
    }
  }
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return {};
  std::string base = temp.string();
  if (base.empty() || base.back() != '/') base += '/';
  return base;
}

bool create_private_folder(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0700) != 0) {
    *error = "cannot make the folder " + path + ": " + error_text(last_error());
    return false;
  }
  return true;
}

std::string error_text(std::uint32_t code) { return std::strerror(static_cast<int>(code)); }

}  // namespace plat
