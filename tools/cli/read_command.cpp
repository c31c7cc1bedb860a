#include "tools/cli/read_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/card/schema.h"
#include "tools/reader/reader_process.h"

namespace idcard {

namespace {

void print_json(const Options& o, const ReaderAnswer& a) {
  nlohmann::ordered_json doc = card_json(o.reader.edition_name, a.result.card, a.photo);
  doc["library"] = a.library;
  doc["driver"] = a.driver;
  doc["port"] = o.reader.port;
  doc["photo_file"] = a.result.card.photo;
  nlohmann::ordered_json files = nlohmann::ordered_json::object();
  for (const auto& [name, size] : a.files) files[name] = size;
  doc["files"] = std::move(files);
  std::printf("%s\n", dump(doc).c_str());
}

void print_lines(const Options& o, const ReaderAnswer& a) {
  std::printf("%-17s %s (%s)\n", "edition", o.reader.edition_name.c_str(), a.library.c_str());
  std::printf("%-17s %s\n", "driver", a.driver.c_str());
  std::printf("%-17s %d\n", "port", o.reader.port);
  for (const Field& f : a.result.card.fields) std::printf("%-17s %s\n", f.key, f.value.c_str());
  std::printf("%-17s %s\n", "photo", a.result.card.photo.c_str());
  for (const auto& [name, size] : a.files)
    std::printf("%-17s %s, %lld bytes\n", "file", name.c_str(), static_cast<long long>(size));
}

// The failure, and what the edition's own log says about it (the log went with its folder).
void print_failure(const ReaderAnswer& a) {
  std::fprintf(stderr, "idcard: %s\n", a.result.error.line().c_str());
  if (a.log.empty()) return;
  std::fprintf(stderr, "idcard: the edition's log says:\n");
  for (const std::string& line : a.log) std::fprintf(stderr, "  %s\n", line.c_str());
}

// The exit status of a read that got no answer: 2 when no reader process could run the
// edition, 1 when it hung or ended in the read.
int print_fault(const ReaderAnswer& a) {
  std::fprintf(stderr, "idcard: %s\n", a.message.c_str());
  return a.fault == ReaderFault::NoReader ? 2 : 1;
}

// Whatever the output's reader did (closed it early, a full disk), a lost line is a failure.
bool output_written() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "idcard: cannot write the output: %s\n", std::strerror(errno));
  return false;
}

}  // namespace

// The reader process reads the card in its own folder and removes the result files before it
// answers: nothing lands beside this program.
int read_command(const Options& o) {
  ReaderProcess reader(o.reader);
  ReaderAnswer a = reader.start(kDefaultReaderDeadline);
  // The simulated reader read in the driver's place though not asked for: said before anything else.
  if (!a.notice.empty()) std::fprintf(stderr, "idcard: %s\n", a.notice.c_str());
  if (a.fault == ReaderFault::None) a = reader.read(kDefaultReaderDeadline);
  reader.stop();
  if (a.fault != ReaderFault::None) return print_fault(a);
  if (!a.result.ok) {
    print_failure(a);
    return 1;
  }
  if (o.json) print_json(o, a);
  else print_lines(o, a);
  return output_written() ? 0 : 1;
}

}  // namespace idcard
