// Runs a descriptor's call sequence. Each step throws a ReadError at the first failing call.
#include "tools/editions/sequence.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "platform/abi.h"
#include "platform/host.h"

namespace idcard {

namespace {

using Int0 = int(WINAPI*)();
using Int1 = int(WINAPI*)(int);
using Terminated = int(WINAPI*)(char*);
using Sized = int(WINAPI*)(char*, int);
using Indexed = int(WINAPI*)(int, char*, int);

template <class Fn>
Fn need(plat::Module m, const char* name) {
  auto f = reinterpret_cast<Fn>(plat::entry_point(m, name));
  if (!f) throw ReadError{Failure::Internal, "library", name, 0, "the library has no such export"};
  return f;
}

std::string with_arg(const char* name, int arg) {
  return std::string(name) + "(" + std::to_string(arg) + ")";
}

// The loaded edition and who is told of each call before it is made.
struct Calls {
  plat::Module m;
  const CallSeen& seen;
  void note(const char* step, const std::string& call) const {
    if (seen) seen(step, call);
  }
};

// Calls a step's export (with `arg` when it takes one) and throws what its result means.
void run_step(const Calls& c, const Step& s, const int* arg) {
  const std::string call = arg ? with_arg(s.name, *arg) : std::string(s.name) + "()";
  c.note(s.step, call);
  const int r = arg ? need<Int1>(c.m, s.name)(*arg) : need<Int0>(c.m, s.name)();
  if (r == 1) return;
  for (const Meaning& meaning : s.meanings) {
    if (r >= meaning.low && r <= meaning.high)
      throw ReadError{meaning.kind, s.step, call, r, meaning.text};
  }
  throw ReadError{Failure::ReadFailed, s.step, call, r, ""};
}

// Closes the port when the sequence leaves early, so that the next read finds it closed.
class PortGuard {
 public:
  explicit PortGuard(const Calls& c) : calls_(c), close_(need<Int0>(c.m, "CloseComm")) {}
  PortGuard(const PortGuard&) = delete;
  PortGuard& operator=(const PortGuard&) = delete;
  ~PortGuard() { close(); }
  void close() {
    if (!open_) return;
    open_ = false;
    calls_.note("close", "CloseComm()");
    close_();
  }

 private:
  const Calls& calls_;
  Int0 close_;
  bool open_ = true;
};

// A value for display: UTF-8, without the blanks that pad some editions' fields.
std::string utf8(std::string ansi) {
  while (!ansi.empty() && ansi.back() == ' ') ansi.pop_back();
  return plat::ansi_to_utf8(ansi);
}

std::string utf8(const char* buf, int n) {
  return utf8(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    const std::size_t end = i > start && text[i - 1] == '\r' ? i - 1 : i;
    lines.push_back(text.substr(start, end - start));
    start = i + 1;
  }
  return lines;
}

void take_getter(const Calls& c, const Getter& g, Card& card) {
  std::vector<char> buf(g.form == GetterForm::ByteCount ? 102400 : 512);
  const int size = static_cast<int>(buf.size());
  const plat::Module m = c.m;
  c.note("fields", std::string(g.name) + "()");
  switch (g.form) {
    case GetterForm::Terminated:
      return card.fields.push_back({g.key, utf8(buf.data(), need<Terminated>(m, g.name)(buf.data()))});
    case GetterForm::Sized:
      return card.fields.push_back({g.key, utf8(buf.data(), need<Sized>(m, g.name)(buf.data(), size))});
    case GetterForm::Indexed:
      return card.fields.push_back(
          {g.key, utf8(buf.data(), need<Indexed>(m, g.name)(1, buf.data(), size))});
    case GetterForm::ByteCount:
      return card.fields.push_back({g.key, std::to_string(need<Sized>(m, g.name)(buf.data(), size))});
    case GetterForm::PhotoPath: {
      const int n = need<Terminated>(m, g.name)(buf.data());
      card.photo.assign(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    }
  }
}

void take_file(const FileFields& f, Card& card) {
  const std::string bytes = read_file(result_file(f.file));
  if (f.layout == FileLayout::Lines) {
    const std::vector<std::string> lines = lines_of(bytes);
    for (std::size_t i = 0; i < f.keys.size() && i < lines.size(); ++i)
      card.fields.push_back({f.keys[i], utf8(lines[i])});
  } else {
    const rec::Bytes raw{reinterpret_cast<const unsigned char*>(bytes.data()),
                         std::min<std::size_t>(bytes.size(), drv::kIdentityBytes)};
    for (std::size_t i = 0; i < f.keys.size(); ++i)
      card.fields.push_back({f.keys[i], utf8(std::string(rec::sdt_text(raw, rec::kFields[i])))});
  }
  if (f.photo) card.photo = result_file(f.photo);
}

// The fields; `extra` tells whether the extra read succeeded, without which its field is empty.
Card read_fields(const Calls& c, const EditionInfo& e, int mode, bool extra) {
  Card card;
  card.date_separator = e.date_separator;
  for (const Getter& g : e.getters) {
    if (!extra && e.extra_field && std::string_view(g.key) == e.extra_field)
      card.fields.push_back({g.key, std::string()});
    else
      take_getter(c, g, card);
  }
  for (const FileFields& f : e.files) {
    if (f.mode == mode) take_file(f, card);
  }
  if (e.photo) card.photo = program_folder() + e.photo;
  return card;
}

Card run_read(const Calls& c, const ReaderOptions& o) {
  const EditionInfo& e = o.info();
  const int mode = o.mode ? o.mode : e.full_mode;
  run_step(c, e.open, &o.port);
  PortGuard port(c);
  run_step(c, e.card, nullptr);
  run_step(c, e.read, &mode);
  // A full read may take more than one call; what the extra one lacks (an appended address the
  // card does not have) is no failure, but its field stays empty.
  bool extra = false;
  if (!o.mode && e.extra_mode) {
    c.note(e.read.step, with_arg(e.read.name, e.extra_mode));
    extra = need<Int1>(c.m, e.read.name)(e.extra_mode) == 1;
  }
  Card card = read_fields(c, e, mode, extra);
  port.close();
  return card;
}

template <class Body>
ReadResult attempt(Body body) {
  ReadResult result;
  try {
    result.card = body();
    result.ok = true;
  } catch (const ReadError& e) {
    result.error = e;
  }
  return result;
}

}  // namespace

ReadResult read_card(const Library& library, const ReaderOptions& o, const CallSeen& seen) {
  const Calls calls{library.module, seen};
  return attempt([&] { return run_read(calls, o); });
}

ReadResult check_reader(const Library& library, const ReaderOptions& o, const CallSeen& seen) {
  const Calls calls{library.module, seen};
  return attempt([&] {
    run_step(calls, o.info().open, &o.port);
    PortGuard port(calls);
    return Card{};
  });
}

std::string result_file(const char* pattern) {
  if (std::string_view(pattern).find(kSamNumber) == std::string_view::npos)
    return program_folder() + pattern;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(program_folder(), ec)) {
    const std::string name = entry.path().filename().string();
    if (result_name_matches(pattern, name)) return program_folder() + name;
  }
  return {};
}

std::string read_file(const std::string& path) {
  constexpr std::size_t kMaxBytes = 1 << 20;
  std::string bytes;
  if (!path.empty()) plat::read_whole_file(path.c_str(), kMaxBytes, bytes);
  return bytes;
}

}  // namespace idcard
