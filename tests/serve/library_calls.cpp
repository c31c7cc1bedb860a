#include "tests/serve/library_calls.h"

#include "tools/editions/edition_log.h"
#include "tools/editions/sequence.h"

namespace idcard {

namespace {
// The edition's log stays at most this large, keeping its newest lines.
constexpr std::size_t kEditionLogLimit = 1 << 20;
}  // namespace

LibraryCalls::LibraryCalls(ReaderOptions options) : options_(std::move(options)) {}

LibraryCalls::~LibraryCalls() { stop(); }

ReaderAnswer LibraryCalls::start(std::chrono::milliseconds) {
  ReaderAnswer a;
  if (loaded_) return a;
  remove_result_files();  // an earlier run's, if it could not remove them
  if (!load(options_, &library_, &a.message)) {
    a.fault = ReaderFault::NoReader;
    a.step = "start";
    return a;
  }
  loaded_ = true;
  a.driver = library_.source;
  return a;
}

ReaderAnswer LibraryCalls::read(std::chrono::milliseconds deadline) {
  ReaderAnswer a = start(deadline);
  return a.fault == ReaderFault::None ? call(true) : a;
}

ReaderAnswer LibraryCalls::check(std::chrono::milliseconds deadline) {
  ReaderAnswer a = start(deadline);
  return a.fault == ReaderFault::None ? call(false) : a;
}

ReaderAnswer LibraryCalls::call(bool card) {
  ReaderAnswer a;
  a.result = card ? read_card(library_, options_) : check_reader(library_, options_);
  if (a.result.ok && card) a.photo = read_file(a.result.card.photo);
  remove_result_files();
  if (!library_.log.empty()) bound_log(library_.log, kEditionLogLimit);
  return a;
}

void LibraryCalls::stop() {
  if (!loaded_) return;
  loaded_ = false;
  unload(&library_);
  remove_result_files();
}

void LibraryCalls::remove_result_files() const {
  for (const char* name : options_.info().result_files) {
    const std::string path = result_file(name);
    if (!path.empty()) plat::delete_file(path.c_str());
  }
}

}  // namespace idcard
