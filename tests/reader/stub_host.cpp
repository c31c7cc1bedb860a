// A reader host that misbehaves on purpose, for the reader process's fault handling: what it
// does is the file name of the card profile it is loaded with.
//   hang-load, exit-load, refuse-load    at the load
//   hang-read, crash-read, garbage-read  at a read, after announcing the call it is in
//   slow-read                            answers a read after 300 ms
// Any other name loads and reads a fixed card.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/host.h"
#include "tools/reader/messages.h"

namespace r = idcard::reader;

namespace {

[[noreturn]] void hang() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

int main(int argc, char** argv) {
  plat::ignore_broken_pipes();
  plat::File in, out;
  if (argc != 3 || !plat::child_pipes(argv[1], argv[2], &in, &out)) return 2;
  const auto send = [&out](const std::string& m) { return out.write(m.data(), m.size()) == m.size(); };
  std::string bytes, behaviour;
  char buf[4096];
  for (;;) {
    r::Message m;
    const r::Parse parsed = r::take_message(bytes, &m);
    if (parsed == r::Parse::Bad) return 3;
    if (parsed == r::Parse::Incomplete) {
      const std::size_t n = in.read(buf, sizeof buf);
      if (n == 0) return 0;
      bytes.append(buf, n);
      continue;
    }
    if (m.kind == r::kLoad) {
      behaviour = std::filesystem::path(r::parse_json(m.body).value("card", std::string())).filename().string();
      if (behaviour == "hang-load") hang();
      if (behaviour == "exit-load") return 4;
      send(r::json_frame(r::kAnswer, behaviour == "refuse-load" ? r::refusal_json("the stub refuses")
                                                                : r::loaded_json("stub-driver", "stub-library")));
      continue;
    }
    send(r::json_frame(r::kCall, r::Json{{"step", "read"}, {"call", "ReadBaseInfo(1)"}}));
    if (behaviour == "hang-read") hang();
    if (behaviour == "crash-read") std::abort();
    if (behaviour == "garbage-read") {
      send("this is no message at all, and far longer than any header may be\n");
      hang();
    }
    if (behaviour == "slow-read") std::this_thread::sleep_for(std::chrono::milliseconds(300));
    r::ReadAnswer a;
    a.result.ok = true;
    a.result.card.fields.push_back({"name", "stub"});
    send(r::json_frame(r::kAnswer, r::answer_json(a)));
  }
}
