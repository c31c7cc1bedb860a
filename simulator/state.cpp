// The simulator's state, its journal and the control API that scripts it.
#include "simulator/state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/platform.h"

namespace sim {

State& state() {
  static State s;
  return s;
}

std::optional<int> Script::take(int entry, int port) {
  for (int key_port : {port, static_cast<int>(SIM_ANY_PORT)}) {
    auto q = queued.find({entry, key_port});
    if (q != queued.end() && !q->second.empty()) {
      const int status = q->second.front();
      q->second.pop_front();
      if (q->second.empty()) queued.erase(q);
      return status;
    }
  }
  for (int key_port : {port, static_cast<int>(SIM_ANY_PORT)}) {
    auto p = persistent.find({entry, key_port});
    if (p != persistent.end()) return p->second;
  }
  return std::nullopt;
}

unsigned Reader::reported_length(int record) const {
  if (reported[record]) return *reported[record];
  return static_cast<unsigned>(records[record].size());
}

void journal_call(int library, int prefix, int entry, int port, int value, int result,
                  const char* path) {
  SimCall call{};
  call.library = library;
  call.prefix = prefix;
  call.entry = entry;
  call.port = port;
  call.value = value;
  call.result = result;
  if (path) {
    const std::size_t n = std::min(std::strlen(path), sizeof call.path - 1);
    std::memcpy(call.path, path, n);
  }
  State& s = state();
  try {
    s.journal.push_back(call);
    if (s.journal.size() > kJournalLimit) s.journal.pop_front();
  } catch (...) {
    // Out of memory: the call goes unrecorded, the caller still gets its result.
  }
  if (SimSink sink = s.sink) sink(&call);
}

void strike(int entry) {
  if (entry < 0 || entry >= SIM_ENTRY_COUNT) return;
  State& s = state();
  unsigned& calls = s.calls[static_cast<std::size_t>(entry)];
  if (calls < std::numeric_limits<unsigned>::max()) ++calls;
  const Faults& f = s.reader.faults;
  if (f.strikes && calls > *f.strikes) return;
  // Said on standard error first, so that whoever watches the process knows it was asked for.
  if (f.crash.count(entry)) {
    std::fprintf(stderr, "simulator: %s crashes the process, as the card profile asks\n",
                 entry_name(entry));
    std::fflush(stderr);
    plat::crash_process();
  }
  const auto hang = f.hang.find(entry);
  if (hang == f.hang.end()) return;
  if (hang->second == kHangForever) {
    std::fprintf(stderr, "simulator: %s blocks until the process ends, as the card profile asks\n",
                 entry_name(entry));
    std::fflush(stderr);
    plat::block_forever();
  }
  std::fprintf(stderr, "simulator: %s blocks for %u ms, as the card profile asks\n",
               entry_name(entry), hang->second);
  std::fflush(stderr);
  plat::sleep_ms(hang->second);
}

bool read_handed_file(const char* what, const char* path, std::size_t limit, std::string& text,
                      std::string& error) {
  const std::string shown = path ? path : "(null)";
  const std::string head = std::string(what) + ": ";
  switch (plat::read_whole_file(path, limit, text)) {
    case plat::WholeFile::Read:
      return true;
    case plat::WholeFile::Folder:
      error = head + shown + " is a folder, not a file";
      return false;
    case plat::WholeFile::NotRegular:
      error = head + shown + " is not a regular file";
      return false;
    case plat::WholeFile::CannotOpen:
      error = head + "cannot open " + shown;
      return false;
    case plat::WholeFile::TooLarge:
      error = head + "cannot read " + shown + " (at most " + std::to_string(limit >> 20) + " MiB)";
      return false;
    case plat::WholeFile::CannotRead:
      break;
  }
  error = head + "cannot read " + shown;
  return false;
}

}  // namespace sim

namespace {

bool valid_entry(int entry) { return entry >= 0 && entry < SIM_ENTRY_COUNT; }
bool valid_record(int record) { return record >= 0 && record < SIM_REC_COUNT; }

void copy_message(const std::string& message, char* out, int size) {
  if (!out || size <= 0) return;
  const std::size_t n = std::min(message.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, message.data(), n);
  out[n] = '\0';
}

void reset_state() {
  sim::State& s = sim::state();
  s.reader = sim::sample_reader();
  s.open_ports.clear();
  s.journal.clear();
  s.sink = nullptr;
  s.card_was_read = false;
  s.calls = {};
}

// RIDEL_SIM_CARD names a card profile to load when the library is loaded: it lets the host
// program and demos read a chosen card without a control call. A profile that cannot be used never
// leaves the sample card in its place: the reader fails every call, and says why at once.
struct EnvironmentProfile {
  EnvironmentProfile() {
    const char* path = std::getenv("RIDEL_SIM_CARD");
    if (!path || !*path) return;
    try {
      sim::Reader reader;
      std::string error;
      if (sim::read_profile(path, reader, error)) {
        sim::state().reader = std::move(reader);
        return;
      }
      const std::string why = std::string("RIDEL_SIM_CARD=") + path + ": " + error;
      sim::state().reader = sim::refused_reader(why, true);
      std::fprintf(stderr, "simulator: %s; every call fails with status %d\n", why.c_str(),
                   SIM_STATUS_OFF_RECORDING);
    } catch (...) {
      std::fprintf(stderr, "simulator: RIDEL_SIM_CARD=%s not loaded: out of memory\n", path);
    }
    std::fflush(stderr);
  }
};
const EnvironmentProfile environment_profile;

}  // namespace

extern "C" {

SIM_EXPORT void WINAPI Sim_Reset(void) {
  try {
    reset_state();
  } catch (...) {
  }
}

SIM_EXPORT void WINAPI Sim_SetReaderPort(int port) { sim::state().reader.port = port; }

SIM_EXPORT void WINAPI Sim_SetCardOnReader(int on) {
  sim::State& s = sim::state();
  s.reader.card_on_reader = on != 0;
  if (!on) s.card_was_read = false;
}

SIM_EXPORT void WINAPI Sim_SetHidesReadCard(int on) { sim::state().reader.hides_read_card = on != 0; }

SIM_EXPORT void WINAPI Sim_SetStatus(int entry, int port, int status) {
  if (!valid_entry(entry)) return;
  try {
    auto& persistent = sim::state().reader.script.persistent;
    if (status == SIM_NO_STATUS) {
      persistent.erase({entry, port});
    } else {
      persistent[{entry, port}] = status;
    }
  } catch (...) {
  }
}

SIM_EXPORT void WINAPI Sim_QueueStatus(int entry, int port, int status) {
  if (!valid_entry(entry)) return;
  try {
    auto& queued = sim::state().reader.script.queued;
    if (status == SIM_NO_STATUS) {
      queued.erase({entry, port});
    } else {
      queued[{entry, port}].push_back(status);
    }
  } catch (...) {
  }
}

SIM_EXPORT void WINAPI Sim_SetRecord(int record, const void* data, int size) {
  if (!valid_record(record)) return;
  size = std::clamp(size, 0, sim::kMaxRecordBytes);
  try {
    sim::Bytes bytes(static_cast<std::size_t>(size), 0);
    if (data && size > 0) std::memcpy(bytes.data(), data, bytes.size());
    sim::state().reader.records[record] = std::move(bytes);
  } catch (...) {
  }
}

SIM_EXPORT void WINAPI Sim_SetReportedLength(int record, unsigned length) {
  if (!valid_record(record)) return;
  sim::state().reader.reported[record] = length;
}

SIM_EXPORT void WINAPI Sim_SetDecoderResult(int result) {
  sim::state().reader.decoder_result = result;
}

SIM_EXPORT void WINAPI Sim_ClearJournal(void) { sim::state().journal.clear(); }

SIM_EXPORT int WINAPI Sim_JournalSize(void) {
  return static_cast<int>(sim::state().journal.size());
}

SIM_EXPORT int WINAPI Sim_JournalEntry(int index, SimCall* out) {
  const auto& journal = sim::state().journal;
  if (!out || index < 0 || static_cast<std::size_t>(index) >= journal.size()) return 0;
  *out = journal[static_cast<std::size_t>(index)];
  return 1;
}

SIM_EXPORT void WINAPI Sim_SetJournalSink(SimSink sink) { sim::state().sink = sink; }

SIM_EXPORT int WINAPI Sim_LoadProfile(const char* path, char* error, int error_size) {
  try {
    sim::Reader reader;
    std::string message;
    if (!sim::read_profile(path, reader, message)) {
      // A recording that cannot be read leaves no reader in its place that could answer for it;
      // any other refusal keeps the state as it was. Either way the caller has the message; a
      // caller that calls on all the same hears it again at its first call.
      if (reader.replay && !reader.replay->refused.empty())
        sim::state().reader = sim::refused_reader(message, false);
      copy_message(message, error, error_size);
      return 0;
    }
    sim::state().reader = std::move(reader);
    sim::state().card_was_read = false;  // the profile's card was just put on the reader
    copy_message("", error, error_size);
    return 1;
  } catch (...) {
    copy_message("out of memory", error, error_size);
    return 0;
  }
}

}  // extern "C"
