#include "tools/reader/reader_process.h"

#include <cstdlib>
#include <filesystem>

#include "platform/host.h"
#include "tools/reader/folder.h"
#include "tools/reader/messages.h"

namespace idcard {

namespace {

namespace fs = std::filesystem;
using Clock = plat::ChildProcess::Clock;

// How long a reader process that was asked to end may take before it is killed.
constexpr auto kEndWait = std::chrono::seconds(2);

std::string milliseconds_text(std::chrono::milliseconds d) { return std::to_string(d.count()) + " ms"; }

// A call's deadline: how long it may take in all (a timeout's message names that), and when it
// ends, the same for each step of the call (a new process's start, then the request).
struct Deadline {
  std::chrono::milliseconds whole;
  Clock::time_point until;
};

Deadline from_now(std::chrono::milliseconds whole) { return {whole, Clock::now() + whole}; }

ReaderAnswer fault(ReaderFault kind, std::string message) {
  ReaderAnswer a;
  a.fault = kind;
  a.message = std::move(message);
  return a;
}

// A path as the reader process must see it: whole, since its own folder is another.
std::string whole(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const fs::path absolute = fs::absolute(fs::path(path), ec);
  return ec ? path : absolute.string();
}

// The words of IDCARD_READER_LAUNCHER (a whole path, then its arguments): the program that runs
// the reader host, for a host program that runs under an emulator itself.
std::vector<std::string> launcher() {
  std::vector<std::string> words;
  const char* given = std::getenv("IDCARD_READER_LAUNCHER");
  std::string word;
  for (const char* c = given ? given : ""; ; ++c) {
    if (*c && *c != ' ') {
      word += *c;
      continue;
    }
    if (!word.empty()) words.push_back(word);
    word.clear();
    if (!*c) break;
  }
  return words;
}

// The options with every path whole.
ReaderOptions for_reader_process(ReaderOptions o) {
  o.library = whole(o.library);
  o.card = whole(o.card);
  o.root = root_folder(o);
  if (o.host.empty()) o.host = program_folder() + reader::kHostProgram;
  o.host = whole(o.host);
  return o;
}

}  // namespace

struct ReaderProcess::Impl {
  explicit Impl(ReaderOptions o) : options(for_reader_process(std::move(o))) {}

  ReaderOptions options;
  plat::ChildProcess child;
  reader::Folder folder;
  std::string driver;
  std::string library;
  std::string notice;
  std::string received;  // bytes of the answers not yet taken apart
  bool loaded = false;

  ReaderAnswer start(Deadline deadline);
  // Makes the folder and starts the process in it, loading nothing.
  ReaderAnswer launch();
  // Sends a request and waits for its answer: the "call" messages before it tell the step, a
  // "photo" comes with it. A fault ends the process.
  ReaderAnswer call(std::string_view kind, const reader::Json& body, Deadline deadline,
                    reader::Message* answer);
  ReaderAnswer ask(std::string_view kind, std::chrono::milliseconds whole);
  void stop(Clock::time_point deadline);
};

ReaderAnswer ReaderProcess::Impl::start(Deadline deadline) {
  if (child.started() && loaded) {
    ReaderAnswer a;
    a.driver = driver;
    a.library = library;
    a.notice = notice;
    return a;
  }
  ReaderAnswer a = launch();
  if (a.fault != ReaderFault::None) return a;
  reader::Message answer;
  a = call(reader::kLoad, reader::options_json(options), deadline, &answer);
  if (a.fault != ReaderFault::None) {
    a.message = "the reader process could not load the edition: " + a.message;
    a.fault = ReaderFault::NoReader;
    return a;
  }
  const reader::Json d = reader::parse_json(answer.body);
  if (!d.is_object() || !d.value("ok", false)) {
    stop(Clock::now() + kEndWait);
    return fault(ReaderFault::NoReader, d.is_object() ? d.value("message", std::string("no reason given"))
                                                      : std::string("its answer is no answer"));
  }
  driver = d.value("driver", std::string());
  library = d.value("library", std::string());
  notice = d.value("notice", std::string());
  loaded = true;
  a.driver = driver;
  a.library = library;
  a.notice = notice;
  return a;
}

ReaderAnswer ReaderProcess::Impl::launch() {
  stop(Clock::now());
  std::string base = options.reader_folder;
  if (!base.empty() && base.back() != plat::kPathSeparator) base += plat::kPathSeparator;
  if (base.empty()) base = plat::private_folder_base();
  reader::remove_ended_folders(base);
  std::string error;
  if (!folder.make(base, &error)) return fault(ReaderFault::NoReader, error);
  const std::string host = folder.path() + reader::kHostProgram;
  std::error_code ec;
  fs::copy_file(fs::path(options.host), fs::path(host), fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::permissions(fs::path(host), fs::perms::owner_all, fs::perm_options::replace, ec);
  if (ec) {
    folder.remove();
    return fault(ReaderFault::NoReader, "cannot copy the reader program " + options.host + " into " +
                                            folder.path() + ": " + ec.message());
  }
  // An emulator that runs this program runs the reader process's too (qemu-aarch64 in user mode
  // does not follow an exec into another program).
  std::vector<std::string> args = launcher();
  const std::string program = args.empty() ? host : args.front();
  if (!args.empty()) {
    args.erase(args.begin());
    args.push_back(host);
  }
  if (!child.start(program, args, &error)) {
    folder.remove();
    return fault(ReaderFault::NoReader, error);
  }
  return {};
}

ReaderAnswer ReaderProcess::Impl::call(std::string_view kind, const reader::Json& body,
                                       Deadline deadline, reader::Message* answer) {
  ReaderAnswer a;
  a.driver = driver;
  a.library = library;
  a.notice = notice;
  if (!child.send(reader::json_frame(kind, body))) {
    a.fault = ReaderFault::Crashed;
    a.message = "the reader process ended before it took the request (" + child.end() + ")";
    stop(Clock::now());
    return a;
  }
  for (;;) {
    reader::Message m;
    const reader::Parse parsed = reader::take_message(received, &m);
    if (parsed == reader::Parse::Message) {
      if (m.kind == reader::kAnswer) {
        *answer = std::move(m);
        return a;
      }
      if (m.kind == reader::kPhoto) a.photo = std::move(m.body);
      if (m.kind == reader::kCall) {
        const reader::Json d = reader::parse_json(m.body);
        if (d.is_object()) {
          a.step = d.value("step", std::string());
          a.call = d.value("call", std::string());
        }
      }
      continue;
    }
    const auto got = parsed == reader::Parse::Bad ? plat::ChildProcess::Received::Closed
                                                  : child.receive(&received, deadline.until);
    if (got == plat::ChildProcess::Received::Data) continue;
    const std::string in = a.call.empty() ? std::string() : " in " + a.step + ": " + a.call;
    if (got == plat::ChildProcess::Received::Timeout) {
      a.fault = ReaderFault::Timeout;
      a.message = "the reader process did not answer within " + milliseconds_text(deadline.whole) +
                  in + "; it was ended";
      stop(Clock::now());
    } else {
      a.fault = ReaderFault::Crashed;
      const std::string how = parsed == reader::Parse::Bad ? "sent what is no message" : "ended";
      a.message = "the reader process " + how + in + " (" + child.end() + ")";
      stop(Clock::now());
    }
    a.photo.clear();
    return a;
  }
}

// One deadline for the whole call, a new process's start included.
ReaderAnswer ReaderProcess::Impl::ask(std::string_view kind, std::chrono::milliseconds whole) {
  const Deadline deadline = from_now(whole);
  ReaderAnswer a = start(deadline);
  if (a.fault != ReaderFault::None) return a;
  reader::Message answer;
  a = call(kind, reader::Json::object(), deadline, &answer);
  if (a.fault != ReaderFault::None) return a;
  reader::ReadAnswer read;
  if (!reader::answer_from_json(reader::parse_json(answer.body), &read)) {
    stop(Clock::now());
    return fault(ReaderFault::Crashed, "the reader process's answer is no answer: " + answer.body.substr(0, 200));
  }
  a.result = std::move(read.result);
  a.files = std::move(read.files);
  a.log = std::move(read.log);
  if (!read.driver.empty()) a.driver = read.driver;
  if (!read.library.empty()) a.library = read.library;
  if (!a.result.ok) a.photo.clear();
  return a;
}

void ReaderProcess::Impl::stop(Clock::time_point deadline) {
  if (child.started()) child.finish(deadline);
  received.clear();
  loaded = false;
  driver.clear();
  library.clear();
  notice.clear();
  folder.remove();
}

ReaderProcess::ReaderProcess(ReaderOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ReaderProcess::~ReaderProcess() { stop(); }

ReaderAnswer ReaderProcess::start(std::chrono::milliseconds deadline) {
  return impl_->start(from_now(deadline));
}

ReaderAnswer ReaderProcess::read(std::chrono::milliseconds deadline) {
  return impl_->ask(reader::kRead, deadline);
}

ReaderAnswer ReaderProcess::check(std::chrono::milliseconds deadline) {
  return impl_->ask(reader::kCheck, deadline);
}

ReaderAnswer ReaderProcess::request(std::string_view kind, const std::string& body,
                                    std::chrono::milliseconds deadline, std::string* answer) {
  if (!impl_->child.started()) {
    ReaderAnswer a = impl_->launch();
    if (a.fault != ReaderFault::None) return a;
  }
  reader::Message m;
  ReaderAnswer a = impl_->call(kind, reader::parse_json(body), from_now(deadline), &m);
  *answer = std::move(m.body);
  return a;
}

void ReaderProcess::stop() { impl_->stop(Clock::now() + kEndWait); }

bool ReaderProcess::running() const { return impl_->child.started(); }

std::int64_t ReaderProcess::pid() const { return impl_->child.pid(); }

const std::string& ReaderProcess::folder() const { return impl_->folder.path(); }

}  // namespace idcard
