// Playing a recording back: the calls a library receives are compared, one by one, with the
// recording's calls of that library, and answered as recorded.
#include <cstdio>

#include "platform/platform.h"
#include "simulator/state.h"

namespace sim {
namespace {

// A recording is read whole; a long session of reads stays far below this.
constexpr std::size_t kMaxRecordingBytes = std::size_t{256} << 20;

int off_recording(Replay& r, const std::string& why) {
  if (!r.left) std::fprintf(stderr, "simulator: replay of %s: %s\n", r.file.c_str(), why.c_str());
  std::fflush(stderr);
  r.left = true;
  return SIM_STATUS_OFF_RECORDING;
}

}  // namespace

std::optional<int> replay_call(int library, int prefix, int entry,
                               const std::vector<recording::Arg>& args) {
  Reader& reader = state().reader;
  if (!reader.replay) return std::nullopt;
  Replay& r = *reader.replay;
  recording::Call came;
  came.library = library;
  came.prefix = prefix;
  came.entry = entry;
  recording::take_arguments(came, args);
  if (!r.refused.empty()) {
    if (!r.said) {
      std::fprintf(stderr, "simulator: %s; every call fails with status %d\n", r.refused.c_str(),
                   SIM_STATUS_OFF_RECORDING);
      std::fflush(stderr);
      r.said = true;
    }
    return SIM_STATUS_OFF_RECORDING;
  }
  if (r.left) return SIM_STATUS_OFF_RECORDING;
  const std::vector<recording::Call>& calls = *r.calls;
  while (r.next < calls.size() && calls[r.next].library != library) ++r.next;
  if (r.next == calls.size()) {
    return off_recording(r, "call " + recording::describe(came) +
                                " came after the recording's last call of " +
                                recording::library_name(library));
  }
  const recording::Call& expected = calls[r.next];
  if (!recording::same_call(expected, came)) {
    return off_recording(r, "the calls left the recording at call " + std::to_string(r.next + 1) +
                                ": expected " + recording::describe(expected) + ", came " +
                                recording::describe(came));
  }
  ++r.next;
  recording::hand_back(expected, args);
  return expected.status;
}

Reader refused_reader(const std::string& why, bool said) {
  Reader reader = sample_reader();
  Replay refused;
  refused.refused = why;
  refused.said = said;
  refused.left = true;
  reader.replay = std::move(refused);
  return reader;
}

bool read_recording(const std::string& path, Replay& out, std::string& error) {
  std::string text;
  if (!read_handed_file("replay", path.c_str(), kMaxRecordingBytes, text, error)) return false;
  std::string why;
  auto calls = recording::parse(text, &why);
  if (!calls) {
    error = "replay: " + path + ", " + why;
    return false;
  }
  out.file = path;
  out.calls = std::make_shared<const std::vector<recording::Call>>(std::move(*calls));
  out.next = 0;
  out.left = false;
  return true;
}

}  // namespace sim
