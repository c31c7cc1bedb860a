// The edition and the reader's driver in a process of their own: the reader process. Its
// executable lies in a private per-user folder, so that the edition writes its result files there
// and never beside idcard; it talks to its parent over inherited pipes only. Every call has a
// deadline: a reader process that does not answer in time is ended, one that ended by itself is
// reported, and the next call starts a new one.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/card/card.h"
#include "tools/editions/options.h"

namespace idcard {

// A deadline for a call that has no other: long enough for a slow start of the reader process.
inline constexpr std::chrono::milliseconds kDefaultReaderDeadline{15000};

// How a call to the reader process ended.
enum class ReaderFault {
  None,      // the process answered: `result` says how the read went
  Timeout,   // no answer within the deadline: the process was ended
  Crashed,   // the process ended while it worked
  NoReader,  // the process could not be started, or could not load the edition or the driver
};

struct ReaderAnswer {
  ReaderFault fault = ReaderFault::None;
  // For a Timeout or Crashed: the step and call the process was in ("read", "ReadBaseInfo(1)");
  // for every fault: one line saying what happened.
  std::string step;
  std::string call;
  std::string message;
  ReadResult result;  // when fault is None
  std::string photo;  // the decoded photo's bytes (a BMP file), empty when the read left none
  std::string driver;  // the driver file the process uses (its full path)
  std::string library;  // the edition's library file as found (its full path)
  // Set when the simulated reader is read though it was not asked for: no driver was found.
  std::string notice;
  // The result files the read left in the process's folder, with their sizes; gone since.
  std::vector<std::pair<std::string, std::int64_t>> files;
  // The last lines of the edition's own log after a failed read, or none.
  std::vector<std::string> log;
};

class ReaderProcess {
 public:
  explicit ReaderProcess(ReaderOptions options);
  ~ReaderProcess();  // stop()
  ReaderProcess(const ReaderProcess&) = delete;
  ReaderProcess& operator=(const ReaderProcess&) = delete;

  // Starts the process when none runs and has it load the edition and the driver.
  ReaderAnswer start(std::chrono::milliseconds deadline);
  // One full read (or the options' mode), starting the process first when none runs; `deadline`
  // is the whole call's, the start included, and a timeout's message names it.
  ReaderAnswer read(std::chrono::milliseconds deadline);
  // Opens the port and closes it again: whether a reader answers (`deadline` as for read).
  ReaderAnswer check(std::chrono::milliseconds deadline);
  // One request to a reader process that loads no edition (the doctor's live checks), started
  // first when none runs; `answer` gets the answer's body. A hang or an end of the process is a
  // fault naming the step and call of its last "call" message.
  ReaderAnswer request(std::string_view kind, const std::string& body,
                       std::chrono::milliseconds deadline, std::string* answer);
  // Ends the process and removes its folder.
  void stop();

  bool running() const;
  // The running process's id, 0 when none runs.
  std::int64_t pid() const;
  // The running process's folder, ending in a separator; empty when none runs.
  const std::string& folder() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace idcard
