// What the folder's files say, read without loading them: which edition the library is, its
// architecture against this program's and the rest of the deployment's, the driver and decoder
// where the edition looks for them (the folder first, then the system's search path), whether each
// is whole, for this system, readable by the application's user, and has the entry points the
// edition needs of it; a recording driver among them; whether the folder can be written; the ANSI
// code page.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/host.h"
#include "platform/platform.h"
#include "tools/doctor/checks.h"
#include "tools/editions/library.h"

namespace idcard::doctor {

namespace {

std::string with_separator(std::string folder) {
#if defined(_WIN32)
  // "C:\My App\" on a command line reaches the program as C:\My App" (the backslash escapes the
  // quote); no Windows name holds a quote.
  if (!folder.empty() && folder.back() == '"') folder.pop_back();
#endif
  if (folder.empty()) folder = ".";
  const char last = folder.back();
  if (last != '/' && last != plat::kPathSeparator) folder += plat::kPathSeparator;
  return folder;
}

// The folders the loader searches after the application's own, in order.
std::vector<std::string> search_path() {
#if defined(_WIN32)
  const char* variable = "PATH";
  const char separator = ';';
  std::vector<std::string> folders;
#else
  const char* variable = "LD_LIBRARY_PATH";
  const char separator = ':';
  std::vector<std::string> folders;
#endif
  const char* value = std::getenv(variable);
  std::string rest = value ? value : "";
  while (!rest.empty()) {
    const std::size_t end = rest.find(separator);
    const std::string folder = rest.substr(0, end);
    if (!folder.empty()) folders.push_back(with_separator(folder));
    rest = end == std::string::npos ? "" : rest.substr(end + 1);
  }
#if !defined(_WIN32)
  for (const char* system : {"/lib/", "/usr/lib/", "/lib64/", "/usr/lib64/", "/usr/local/lib/"})
    folders.push_back(system);
#endif
  return folders;
}

const char* search_path_name() {
#if defined(_WIN32)
  return "the PATH";
#else
  return "LD_LIBRARY_PATH and the system's library folders";
#endif
}

// Whether a name lies in the folder: a file, or a link, even one that leads nowhere.
bool file_in(const std::string& folder, const std::string& name) {
  return plat::path_facts(folder + name).exists;
}

const char* this_system() {
#if defined(_WIN32)
  return "Windows";
#else
  return "Linux";
#endif
}

// What a file of the other system is, in words; empty for one of this system's.
std::string other_system(const image::Image& image) {
#if defined(_WIN32)
  if (image.format == image::Format::Elf)
    return "not a Windows DLL: it is a Linux library (for " + image::architecture(image) + ")";
#else
  if (image.format == image::Format::Pe)
    return "a Windows DLL (for " + image::architecture(image) + "), not a Linux library";
#endif
  return "";
}

// The finding for a file that cannot serve as a library as it lies, with `fix`; false when it
// can: a link that leads nowhere, a file the doctor cannot read, one it cannot read as a library,
// one cut short, one of the other system.
bool broken_file(const Deployment& d, const char* check, const std::string& name,
                 const std::string& path, const image::Image& image, const std::string& what,
                 const std::string& fix, Report& r) {
  const plat::PathFacts facts = plat::path_facts(path);
  if (facts.link && !facts.leads_somewhere) {
    add(r, "file", name, Status::Fail,
        path + " is a link to " + facts.link_target + ", which does not exist: " + what,
        fix + " in place of the link, or put " + facts.link_target + " back");
    return true;
  }
  if (!image.ok) {
    unsigned refused = 0;
    if (!refused_at(d.who.doctor, path, plat::kMayRead, &refused).empty()) {
      check_access(Checker{d.who.doctor, d.who.doctor, false}, path, plat::kMayRead, what, r);
      return true;
    }
    add(r, check, name, Status::Fail,
        path + " is no library that this system can read (damaged, or not a library): " + what,
        fix);
    return true;
  }
  if (const std::string other = other_system(image); !other.empty()) {
    add(r, check, name, Status::Fail,
        path + " is " + other + ": " + this_system() + " cannot load it, so " + what, fix);
    return true;
  }
  if (image.truncated) {
    add(r, check, name, Status::Fail,
        path + " is damaged: it is cut short (" + std::to_string(image.file_size) +
            " bytes, its own tables reach beyond its end): " + what,
        fix);
    return true;
  }
  return false;
}

std::string names_of(const std::vector<const char*>& names) {
  std::string text;
  for (const char* n : names) text += (text.empty() ? "" : ", ") + std::string(n);
  return text;
}

// ---- The edition --------------------------------------------------------------------------------

const EditionInfo* edition_of(const image::Image& image) {
  for (const EditionInfo& e : editions()) {
    if (image.exports_name(e.signature)) return &e;
  }
  return nullptr;
}

// The file names an application loads an edition by, and those the editions ship under.
std::vector<std::string> edition_file_names(const EditionInfo* only) {
  std::vector<std::string> names;
  auto add_name = [&names](const char* n) {
    if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  };
  for (const EditionInfo& e : editions()) {
    if (!only || only == &e) add_name(e.deployed_as);
  }
  for (const EditionInfo& e : editions()) {
    if (!only || only == &e) add_name(e.library);
  }
  return names;
}

std::string release_folder(const image::Image& host, const EditionInfo* e) {
#if defined(_WIN32)
  std::string target = host.bits == 64 ? "windows-x64" : "windows-x86";
#else
  std::string target = host.machine == image::kElfAarch64 ? "linux-aarch64" : "linux-x86_64";
#endif
  return "dist/" + target + "/" + (e ? e->name : "<edition>") + "/";
}

// The edition's library under a versioned name (libridel-sdt.so.1.0.0) that the application does
// not load by; empty when there is none.
std::string versioned_file(const Deployment& d, const std::vector<std::string>& names) {
#if defined(_WIN32)
  (void)d;
  (void)names;
  return "";
#else
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(d.folder, ec)) {
    const std::string file = entry.path().filename().string();
    for (const std::string& name : names) {
      const std::string stem = name.substr(0, name.size() - 3);  // "libridel" of "libridel.so"
      if (file.rfind(stem, 0) == 0 && file != name &&
          (file.compare(stem.size(), 1, "-") == 0 || file.compare(stem.size(), 4, ".so.") == 0))
        found.push_back(file);
    }
  }
  std::sort(found.begin(), found.end());
  for (const std::string& file : found) {
    if (edition_of(image::read(d.folder + file))) return file;
  }
  return "";
#endif
}

// Reads the edition's library, names it, and checks its exports.
void take_edition(const EditionInfo* wanted, const std::string& name, image::Image img,
                  Deployment& d, Report& r) {
  const EditionInfo* e = edition_of(img);
  // The files the application would meet are still those of the edition found.
  d.edition = e;
  if (wanted && e != wanted) {
    add(r, "edition", name, Status::Fail,
        name + " is the " + e->name + " edition, not the " + wanted->name + " edition",
        "deploy the " + std::string(wanted->name) + " edition from " + release_folder(d.host, wanted) +
            ", or check with --edition " + e->name);
  } else if (name != e->deployed_as) {
    if (!file_in(d.folder, e->deployed_as) && name.find(".so.") != std::string::npos) {
      add(r, "edition", name, Status::Fail,
          "no " + std::string(e->deployed_as) + " in " + d.folder + ", but " + name + " there is the " +
              e->name + " edition: applications load it as " + e->deployed_as,
          "ln -s " + name + " " + quoted(d.folder + e->deployed_as));
    } else {
      add(r, "edition", name, Status::Fail,
          name + " is the " + e->name + " edition, but applications load it as " + e->deployed_as,
          "rename " + name + " to " + e->deployed_as);
    }
  } else {
    add(r, "edition", name, Status::Ok, name + " is the " + e->name + " edition");
  }
  d.edition_file = name;
  d.edition_image = std::move(img);
  std::vector<const char*> lacking;
  for (const char* n : called_exports(*d.edition)) {
    if (!d.edition_image.exports_name(n)) lacking.push_back(n);
  }
  if (!lacking.empty()) {
    add(r, "exports", name, Status::Fail,
        name + " lacks " + names_of(lacking) + " of the " + d.edition->name + " edition",
        "copy " + name + " again from " + release_folder(d.host, d.edition));
  }
}

void check_edition(const Options& o, Deployment& d, Report& r) {
  const EditionInfo* wanted = o.edition.empty() ? nullptr : find_edition(o.edition);
  const std::vector<std::string> names = edition_file_names(wanted);
  for (const std::string& name : names) {
    if (!file_in(d.folder, name)) continue;
    const std::string path = d.folder + name;
    image::Image img = image::read(path);
    if (broken_file(d, "edition", name, path, img, "the application cannot load it",
                    "copy " + name + " again from the release (" + release_folder(d.host, wanted) + ")",
                    r))
      return;
    check_access(d.who, path, plat::kMayRead, "the application cannot load it", r);
    if (!edition_of(img)) {
      add(r, "edition", name, Status::Fail,
          name + " is none of the editions: it exports none of their functions",
          "deploy the edition's library from " + release_folder(d.host, wanted));
      return;
    }
    take_edition(wanted, name, std::move(img), d, r);
    return;
  }
  if (const std::string versioned = versioned_file(d, names); !versioned.empty()) {
    take_edition(wanted, versioned, image::read(d.folder + versioned), d, r);
    return;
  }
  // Another edition's library may lie there under its own name.
  std::string instead;
  for (const std::string& name : edition_file_names(nullptr)) {
    if (!wanted || !file_in(d.folder, name)) continue;
    if (const EditionInfo* e = edition_of(image::read(d.folder + name)))
      instead = " (" + name + " there is the " + e->name + " edition)";
    break;
  }
  const std::string expected = names.front();
  add(r, "edition", expected, Status::Fail,
      "no " + expected + " in " + d.folder + ": the application finds no edition to load" + instead,
      "copy " + expected + " of the edition from " + release_folder(d.host, wanted) + " into " +
          d.folder);
}

// The architecture the deployment holds together by: the one that most of this program, the
// edition, the driver, the serial driver and the decoder share; on a tie, this program's, then the
// edition's. Files of the other system or cut short do not count. On Windows this program does not
// count: a 64-bit Windows runs 32-bit and 64-bit applications alike, so idcard's own architecture
// says nothing of the application's.
image::Image reference_of(const Deployment& d) {
#if defined(_WIN32)
  std::vector<const image::Image*> votes = {&d.edition_image};
#else
  std::vector<const image::Image*> votes = {&d.host, &d.edition_image};
#endif
  for (const Located* l : {&d.driver, &d.serial_driver, &d.decoder}) {
    if (!l->path.empty()) votes.push_back(&l->image);
  }
  const image::Image* best = votes.front();
  std::size_t best_count = 0;
  for (const image::Image* candidate : votes) {
    if (!candidate->ok || candidate->truncated || !other_system(*candidate).empty()) continue;
    const std::size_t count = static_cast<std::size_t>(
        std::count_if(votes.begin(), votes.end(), [candidate](const image::Image* i) {
          return image::same_architecture(*i, *candidate);
        }));
    if (count > best_count) {
      best = candidate;
      best_count = count;
    }
  }
  return *best;
}

// The files named for the architecture `a`: "idcard, libsdtapi.so, libwltrs.so".
std::string files_for(const Deployment& d, const image::Image& a) {
  std::string names = image::same_architecture(d.host, a) ? "idcard" : "";
  for (const Located* l : {&d.driver, &d.serial_driver, &d.decoder}) {
    if (!l->path.empty() && image::same_architecture(l->image, a))
      names += (names.empty() ? "" : ", ") + l->file;
  }
  return names;
}

void check_architecture(Deployment& d, Report& r) {
  const image::Image& lib = d.edition_image;
  const std::string arch = image::architecture(lib);
  if (!image::same_architecture(lib, d.reference)) {
    // The rest agrees on another architecture: the edition is the odd one.
    add(r, "architecture", d.edition_file, Status::Fail,
        d.edition_file + " is for " + arch + ", while " + files_for(d, d.reference) + " are for " +
            image::architecture(d.reference) + ": the edition is the odd one",
        "deploy the " + std::string(d.edition->name) + " edition built for " +
            image::architecture(d.reference) + " from " + release_folder(d.reference, d.edition));
    return;
  }
  if (image::same_architecture(lib, d.host)) {
    add(r, "architecture", d.edition_file, Status::Ok,
        d.edition_file + " is for " + arch + ", as this idcard is");
    return;
  }
#if defined(_WIN32)
  // A 64-bit Windows runs both: the application's own architecture decides.
  if (lib.format == image::Format::Pe &&
      (lib.machine == image::kMachineI386 || lib.machine == image::kMachineAmd64)) {
    add(r, "architecture", d.edition_file, Status::Note,
        d.edition_file + " is for " + arch + ": only " + std::to_string(lib.bits) +
            "-bit applications load it; this idcard is " + image::architecture(d.host) +
            ", so it reads the files only",
        "for the live checks run the " + std::to_string(lib.bits) + "-bit idcard.exe doctor (dist/windows-" +
            (lib.bits == 64 ? "x64" : "x86") + "/tools/)");
    return;
  }
#endif
  add(r, "architecture", d.edition_file, Status::Fail,
      d.edition_file + " is for " + arch + ", which this machine (" + image::architecture(d.host) +
          ") does not run",
      "deploy the edition built for " + image::architecture(d.host) + " from " +
          release_folder(d.host, d.edition));
}

// ---- Driver and decoder -------------------------------------------------------------------------

// Where the edition finds a driver file: its folder, then the loader's search path.
Located locate(const std::string& folder, const char* windows_name) {
  Located l;
  l.windows_name = windows_name;
  l.file = file_name(windows_name);
  if (file_in(folder, l.file)) {
    l.path = folder + l.file;
  } else {
    for (const std::string& f : search_path()) {
      if (!file_in(f, l.file)) continue;
      l.path = f + l.file;
      break;
    }
  }
  if (l.path.empty()) return l;
  const plat::PathFacts facts = plat::path_facts(l.path);
  if (facts.link) l.link = facts.link_target;
  l.dangling = facts.link && !facts.leads_somewhere;
  if (!l.dangling) l.image = image::read(l.path);
  return l;
}

// The entry points of the driver (or the decoder) that the edition calls, from the one list of
// entry points: all those of the edition's prefix for an edition that binds them by name; for one
// linked against them, those it imports, without which the system does not load it.
struct Needs {
  std::vector<const char*> names;
  bool linked = false;
};

Needs needs_of(const Deployment& d, bool decoder) {
  Needs n;
  auto collect = [&n](const char* name) -> void* {
    n.names.push_back(name);
    return nullptr;
  };
  drv::EntryPoints unused;
  if (decoder)
    drv::bind_decoder(unused, collect);
  else
    drv::bind_driver(unused, d.edition->driver_prefix, collect);
  for (const char* name : n.names) n.linked = n.linked || d.edition_image.imports_name(name);
  if (n.linked) {
    std::erase_if(n.names, [&d](const char* name) { return !d.edition_image.imports_name(name); });
  }
  return n;
}

void check_driver_file(Deployment& d, Located& l, const char* role, bool decoder, bool optional,
                       Report& r) {
  const std::string& lib = d.edition_file;
  const Needs needs = needs_of(d, decoder);
  const bool linked = needs.linked;
  // What the application meets without the file: whether the edition imports it decides.
  const std::string effect = linked ? "the application cannot load " + lib + " at all"
                             : optional ? "the edition cannot open serial ports (USB readers do not need it)"
                                        : "the edition's calls fail";
  if (l.path.empty()) {
    add(r, "file", l.file, optional ? Status::Note : Status::Fail,
        "the reader's " + std::string(role) + " " + l.file + " is missing: not in " + d.folder +
            " nor on " + search_path_name() + "; " + effect,
        "copy the reader maker's " + l.file + " into " + d.folder);
    return;
  }
  const bool beside = l.path == d.folder + l.file;
  const std::string fix_copy = "copy the reader maker's " + l.file + " for " +
                               image::architecture(d.reference) + " into " +
                               std::string(plat::folder_of(l.path));
  if (broken_file(d, "file", l.file, l.path, l.image, effect, fix_copy, r)) {
    if (l.dangling) l.unusable = "it is a link that leads nowhere";
    else if (!l.image.ok) l.unusable = "it is unreadable or no library";
    else if (!other_system(l.image).empty()) l.unusable = "it is for the other system";
    else l.unusable = "it is damaged";
    return;
  }
  const std::string link = l.link.empty() ? "" : " (a link to " + l.link + ")";
  add(r, "file", l.file, beside ? Status::Ok : Status::Note,
      beside ? "the " + std::string(role) + " " + l.file + " lies beside " + lib + link
             : "the " + std::string(role) + " is found on " + std::string(search_path_name()) +
                   " as " + l.path + link + ", not beside " + lib,
      beside ? "" : "copy " + l.file + " into " + d.folder + " so that no other copy is taken");
  const bool readable = check_access(d.who, l.path, plat::kMayRead,
                                     "the application cannot load it, so " + effect, r);
  if (!image::same_architecture(l.image, d.reference)) {
    const bool edition_agrees = image::same_architecture(d.edition_image, d.reference);
    add(r, "architecture", l.file, Status::Fail,
        l.file + " is for " + image::architecture(l.image) + ", " +
            (edition_agrees ? lib : files_for(d, d.reference)) + " for " +
            image::architecture(d.reference) + ": " +
            (linked ? "the application cannot load " + lib
                    : "the edition cannot load " + l.file) +
            (l.image.format == image::Format::Pe ? " (load error 193)" : ""),
        "deploy the reader maker's " + l.file + " for " + image::architecture(d.reference));
    l.unusable = "it is for " + image::architecture(l.image) + ", the deployment for " +
                 image::architecture(d.reference);
    return;
  }
  add(r, "architecture", l.file, Status::Ok,
      l.file + " is for " + image::architecture(l.image) + ", as " + lib + " is");
  if (!readable)
    l.unusable = user_words(d.who.user) + " cannot read it";
  else
    l.unusable.clear();
  std::vector<const char*> missing;
  for (const char* name : needs.names) {
    if (!l.image.exports_name(name)) missing.push_back(name);
  }
  if (!missing.empty()) {
    add(r, "entry_points", l.file, Status::Fail,
        l.file + " lacks " + names_of(missing) + ": " +
            (linked ? "the application cannot load " + lib
                    : "the edition's calls that need " +
                          std::string(missing.size() == 1 ? "it" : "them") + " fail"),
        "install the reader maker's complete, current " + l.file);
    return;
  }
  add(r, "entry_points", l.file, Status::Ok,
      l.file + " has every entry point the " + std::string(d.edition->name) + " edition calls");
}

void check_drivers(Deployment& d, Report& r) {
  d.driver = locate(d.folder, drv::kUsbDriverFile);
  d.decoder = locate(d.folder, drv::kDecoderFile);
  if (d.edition->serial_driver) d.serial_driver = locate(d.folder, d.edition->serial_driver);
  d.reference = reference_of(d);
  check_architecture(d, r);
  check_driver_file(d, d.driver, "driver", false, false, r);
  if (d.edition->serial_driver) check_driver_file(d, d.serial_driver, "serial driver", false, true, r);
  check_driver_file(d, d.decoder, "photo decoder", true, false, r);
  check_recorder(d, r);
  check_simulator(d, r);
}

// ---- Folder and code page -----------------------------------------------------------------------

// Creates and removes a file of a name no other program uses.
bool can_write(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string probe;
  for (int attempt = 0; attempt < 8; ++attempt) {
    probe = folder + "idcard-doctor-probe-" + std::to_string(now) + "-" +
            std::to_string(counter++) + ".tmp";
    if (!plat::file_exists(probe.c_str())) break;
  }
  if (plat::file_exists(probe.c_str())) return false;
  const char byte = 0;
  if (!plat::write_whole_file(probe.c_str(), &byte, 1, plat::Share::None)) return false;
  return plat::delete_file(probe.c_str());
}

void check_folder(const Deployment& d, Report& r) {
  std::string effect = "the edition's result files cannot be written there, so reads fail";
  if (d.edition) {
    std::vector<const char*> files(d.edition->result_files.begin(), d.edition->result_files.end());
    effect = "the " + std::string(d.edition->name) + " edition's result files (" + names_of(files) +
             ") cannot be written, so reads fail";
    if (d.edition->log_file)
      effect += ", and it stops on a message box saying it cannot write its log " +
                std::string(d.edition->log_file);
  }
  // For another user the permission bits decide; for the doctor's own, a probe file.
  const bool writable = d.who.other_user
                            ? check_access(d.who, d.folder, plat::kMayWrite | plat::kMayExecute,
                                           effect, r)
                            : can_write(d.folder);
  if (writable) {
    const bool log = d.edition && d.edition->log_file;
    add(r, "folder", d.folder, Status::Ok,
        d.folder + " can be written" + (d.who.other_user ? " by " + user_words(d.who.user) : "") +
            ": the result files" + (log ? " and the edition's log" : "") + " can be made there");
    return;
  }
  if (d.who.other_user) return;  // the access finding says it
#if defined(_WIN32)
  const std::string grant = "icacls " + quoted(d.folder) + " /grant Users:(OI)(CI)M";
#else
  const std::string grant = "sudo chown <the application's user> " + quoted(d.folder);
#endif
  add(r, "folder", d.folder, Status::Fail, d.folder + " cannot be written: " + effect,
      "let the application's users write to " + d.folder + " (" + grant +
          "), or install the application into a folder they may write to");
}

void check_code_page(Report& r) {
  const unsigned cp = plat::ansi_code_page();
#if defined(_WIN32)
  if (cp != 936) {
    add(r, "code_page", "", Status::Fail,
        "the ANSI code page is " + std::to_string(cp) +
            ", not 936 (GBK): names and addresses come out with '?' for their Chinese characters",
        "set the language for non-Unicode programs to Chinese (Simplified, PRC) and restart");
    return;
  }
  add(r, "code_page", "", Status::Ok, "the ANSI code page is 936 (GBK), the text's code page");
#else
  add(r, "code_page", "", Status::Ok,
      "the editions write text in GBK (code page " + std::to_string(cp) + ") on this system");
#endif
}

// This program's image; when it cannot be read, what it was built for.
image::Image this_program() {
  image::Image self = image::read(std::string(plat::executable_path()));
  if (self.ok) return self;
  self.ok = true;
  self.bits = sizeof(void*) * 8;
#if defined(_WIN32)
  self.format = image::Format::Pe;
  self.machine = self.bits == 64 ? image::kMachineAmd64 : image::kMachineI386;
#else
  self.format = image::Format::Elf;
#if defined(__aarch64__)
  self.machine = image::kElfAarch64;
#else
  self.machine = self.bits == 64 ? image::kElfX86_64 : image::kElfI386;
#endif
#endif
  return self;
}

}  // namespace

void add(Report& r, const char* check, const std::string& subject, Status status, std::string text,
         std::string fix) {
  r.findings.push_back({check, subject, status, std::move(text), std::move(fix)});
}

void check_files(const Options& o, Deployment& d, Report& r) {
  d.folder = with_separator(o.folder);
  d.host = this_program();
  d.reference = d.host;
  d.who = make_checker(o, r);
  note_administrator(d.who, r);
  const plat::PathFacts folder = plat::path_facts(d.folder);
  if (folder.link && !folder.leads_somewhere) {
    add(r, "folder", d.folder, Status::Fail,
        d.folder + " is a link to " + folder.link_target + ", which does not exist",
        "give the application's folder with --folder, or put " + folder.link_target + " back");
    return;
  }
  if (!folder.exists) {
    add(r, "folder", d.folder, Status::Fail, d.folder + " does not exist",
        "give the application's folder with --folder");
    return;
  }
  const std::string cannot_load = "the application cannot load its files from it";
  check_access(d.who, d.folder, plat::kMayExecute, cannot_load, r);
  unsigned refused = 0;
  if (!refused_at(d.who.doctor, d.folder, plat::kMayExecute, &refused).empty()) {
    // Nothing in it can be read, for any user; the doctor's own refusal is named too.
    if (d.who.other_user)
      check_access({d.who.doctor, d.who.doctor, false}, d.folder, plat::kMayExecute, cannot_load, r);
    return;
  }
  check_edition(o, d, r);
  if (d.edition) check_drivers(d, r);
  check_folder(d, r);
  check_code_page(r);
}

}  // namespace idcard::doctor
