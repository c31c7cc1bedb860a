#include "tools/cli/read_command.h"

#include <cstdio>
#include <vector>

#include "platform/host.h"
#include "tools/card/schema.h"
#include "tools/editions/edition_log.h"
#include "tools/editions/sequence.h"

namespace idcard {

namespace {

struct Found {
  const char* name;
  std::int64_t size;
};

// The edition's result files this read left beside the program.
std::vector<Found> result_files_found(const EditionInfo& e) {
  std::vector<Found> files;
  for (const char* name : e.result_files) {
    plat::File f = plat::open_file((program_folder() + name).c_str(), false, plat::Share::Read);
    if (f.is_open()) files.push_back({name, f.size()});
  }
  return files;
}

void print_json(const Options& o, const Library& l, const Card& card) {
  nlohmann::ordered_json doc = card_json(o.reader.edition_name, card, read_file(card.photo));
  doc["library"] = l.source;
  doc["port"] = o.reader.port;
  doc["photo_file"] = card.photo;
  nlohmann::ordered_json files = nlohmann::ordered_json::object();
  for (const Found& f : result_files_found(o.reader.info())) files[f.name] = f.size;
  doc["files"] = std::move(files);
  std::printf("%s\n", dump(doc).c_str());
}

void print_lines(const Options& o, const Library& l, const Card& card) {
  std::printf("%-17s %s (%s)\n", "edition", o.reader.edition_name.c_str(), l.source.c_str());
  std::printf("%-17s %d\n", "port", o.reader.port);
  for (const Field& f : card.fields) std::printf("%-17s %s\n", f.key, f.value.c_str());
  std::printf("%-17s %s\n", "photo", card.photo.c_str());
  for (const Found& f : result_files_found(o.reader.info()))
    std::printf("%-17s %s, %lld bytes\n", "file", f.name, static_cast<long long>(f.size));
}

// The failure, and what the edition's own log says about it (the log goes with its folder).
void print_failure(const ReadError& error, const Library& l) {
  std::fprintf(stderr, "idcard: %s\n", error.line().c_str());
  if (l.log.empty()) return;
  const std::vector<std::string> lines = last_lines(l.log, 5);
  if (lines.empty()) return;
  std::fprintf(stderr, "idcard: the edition's log says:\n");
  for (const std::string& line : lines)
    std::fprintf(stderr, "  %s\n", plat::ansi_to_utf8(line).c_str());
}

void remove_result_files(const EditionInfo& e) {
  for (const char* name : e.result_files) plat::delete_file((program_folder() + name).c_str());
}

}  // namespace

// The result files hold the card: listed, they go again, as those of an earlier read went first.
int read_command(const Options& o) {
  Library library;
  std::string error;
  if (!load(o.reader, &library, &error)) {
    std::fprintf(stderr, "idcard: %s\n", error.c_str());
    return 2;
  }
  remove_result_files(o.reader.info());
  const ReadResult r = read_card(library, o.reader);
  if (!r.ok) print_failure(r.error, library);
  unload(&library);
  if (r.ok && o.json) print_json(o, library, r.card);
  if (r.ok && !o.json) print_lines(o, library, r.card);
  remove_result_files(o.reader.info());
  return r.ok ? 0 : 1;
}

}  // namespace idcard
