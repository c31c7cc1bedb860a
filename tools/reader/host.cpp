#include "tools/reader/host.h"

#include <algorithm>
#include <filesystem>

#include "platform/host.h"
#include "tools/doctor/live_checks.h"
#include "tools/editions/edition_log.h"
#include "tools/editions/sequence.h"

namespace idcard::reader {

namespace {

namespace fs = std::filesystem;

// The edition's log is kept bounded, and its last lines shown after a failed read.
constexpr std::size_t kLogLimit = 256 * 1024;
constexpr std::size_t kLogLines = 5;

std::string name_in_folder(const std::string& path) {
  return path.substr(plat::folder_of(path).size());
}

}  // namespace

Host::Host(std::function<bool(const std::string&)> send) : send_(std::move(send)) {}

Host::~Host() {
  if (library_.module) unload(&library_);
}

bool Host::handle(const Message& request) {
  // The requests a reader process answers.
  static constexpr struct {
    std::string_view kind;
    bool (Host::*answer)(const Json&);
  } kRoutes[] = {{kLoad, &Host::load}, {kRead, &Host::read}, {kCheck, &Host::check},
                 {kDoctor, &Host::doctor}};
  const Json body = parse_json(request.body);
  for (const auto& route : kRoutes) {
    if (request.kind == route.kind) return (this->*route.answer)(body);
  }
  return send_(json_frame(kAnswer, refusal_json("unknown request '" + request.kind + "'")));
}

bool Host::load(const Json& body) {
  if (library_.module) return send_(json_frame(kAnswer, refusal_json("the edition is loaded already")));
  if (!options_from_json(body, &options_)) return send_(json_frame(kAnswer, refusal_json("bad load request")));
  std::string error;
  if (!load_into(options_, program_folder(), &library_, &error)) return send_(json_frame(kAnswer, refusal_json(error)));
  if (!options_.card.empty()) profile_ = read_file(options_.card);
  return send_(json_frame(kAnswer, loaded_json(library_.driver, library_.source, library_.notice)));
}

bool Host::read(const Json&) {
  if (!library_.module) return send_(json_frame(kAnswer, refusal_json("no edition loaded")));
  ReadAnswer a;
  const std::string refused = profile_changed();
  if (!refused.empty()) {
    a.result.error = {Failure::Internal, "profile", kProfileExport, 0, refused};
    return answer(a, {});
  }
  a.result = read_card(library_, options_, [this](const char* step, const std::string& call) {
    if (sending_) sending_ = send_(json_frame(kCall, Json{{"step", step}, {"call", call}}));
  });
  std::string photo;
  if (a.result.ok && !a.result.card.photo.empty()) {
    photo = read_file(a.result.card.photo);
    a.photo_name = photo.empty() ? std::string() : name_in_folder(a.result.card.photo);
  }
  return answer(a, photo);
}

bool Host::check(const Json&) {
  if (!library_.module) return send_(json_frame(kAnswer, refusal_json("no edition loaded")));
  ReadAnswer a;
  a.result = check_reader(library_, options_, [this](const char* step, const std::string& call) {
    if (sending_) sending_ = send_(json_frame(kCall, Json{{"step", step}, {"call", call}}));
  });
  return answer(a, {});
}

// The doctor's live checks load the folder's driver and decoder themselves: a process that has
// loaded an edition (and a driver with it) is not asked.
bool Host::doctor(const Json& body) {
  if (library_.module) return send_(json_frame(kAnswer, refusal_json("an edition is loaded")));
  doctor::LiveRequest q;
  if (!doctor::live_request_from_json(body, &q)) return send_(json_frame(kAnswer, refusal_json("bad doctor request")));
  const doctor::Report r = doctor::live_checks(q, [this](const char* step, const std::string& call) {
    if (sending_) sending_ = send_(json_frame(kCall, Json{{"step", step}, {"call", call}}));
  });
  return sending_ && send_(json_frame(kAnswer, doctor::findings_json(r)));
}

// What the read left is listed and removed before the answer goes: nothing of the card stays
// in the folder once the parent has it.
bool Host::answer(const ReadAnswer& given, const std::string& photo) {
  ReadAnswer a = given;
  a.driver = library_.driver;
  a.library = library_.source;
  a.files = left_files();
  if (!a.result.ok && !library_.log.empty()) {
    for (const std::string& line : last_lines(library_.log, kLogLines)) a.log.push_back(plat::ansi_to_utf8(line));
  }
  remove_left_files();
  if (!library_.log.empty()) bound_log(library_.log, kLogLimit);
  if (!sending_) return false;
  if (!photo.empty() && !send_(frame(kPhoto, photo))) return false;
  return send_(json_frame(kAnswer, answer_json(a)));
}

std::string Host::profile_changed() {
  if (options_.card.empty()) return {};
  const std::string now = read_file(options_.card);
  if (now == profile_) return {};
  profile_ = now;
  std::string error;
  for (const char* name : {"sdtapi.dll", "stdapi.dll", "WltRS.dll"}) {
    const plat::Module m = plat::find_loaded_module(name);
    if (m && !hand_profile(m, options_.card, &error)) return error;
  }
  return {};
}

std::vector<FoundFile> Host::left_files() const {
  const EditionInfo& e = options_.info();
  const std::string own = name_in_folder(std::string(plat::executable_path()));
  std::vector<FoundFile> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(program_folder(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name == own || name == e.deployed_as || name == kLockFile || (e.log_file && name == e.log_file)) continue;
    std::error_code size_error;
    const std::uintmax_t size = entry.is_regular_file(size_error) ? entry.file_size(size_error) : 0;
    files.emplace_back(name, size_error ? -1 : static_cast<std::int64_t>(size));
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Host::remove_left_files() const {
  std::error_code ec;
  for (const FoundFile& f : left_files()) fs::remove_all(fs::path(program_folder()) / f.first, ec);
}

}  // namespace idcard::reader
