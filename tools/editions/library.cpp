// The edition is loaded from the dist/ (or build) folder above this program's folder, after the
// driver: whatever driver files lie beside the edition, or the simulated reader of that folder
// when it is asked for or no driver is to be found. The edition then finds the driver by its file
// name, as beside an application. It runs from a private folder, where a log it keeps beside itself lands too.
#include "tools/editions/library.h"

#include "platform/abi.h"
#include "platform/host.h"
#include "tools/editions/private_folder.h"

namespace idcard {

bool hand_profile(plat::Module m, const std::string& card, std::string* error) {
  using LoadProfile = int(WINAPI*)(const char*, char*, int);
  auto load = reinterpret_cast<LoadProfile>(plat::entry_point(m, kProfileExport));
  char message[512] = {};
  if (!load || load(card.c_str(), message, sizeof message)) return true;
  *error = "card profile " + card + ": " + message;
  return false;
}

namespace {

std::string in_root(const ReaderOptions& o, const std::string& folder, const std::string& file) {
  return root_folder(o) + folder + plat::kPathSeparator + file;
}

// The simulated reader's files, loaded in the driver's place when it is asked for or when no driver
// is found.
constexpr const char* kSimulatorFiles[] = {"sdtapi.dll", "stdapi.dll", "WltRS.dll"};

// Whether the edition finds its driver without the simulated reader: beside it, or by the
// system's search order.
bool desk_driver(const EditionInfo& e, const std::string& edition_folder) {
  const char* name = e.driver_files[0];
  if (plat::file_exists((edition_folder + file_name(name)).c_str())) return true;
  plat::Module m = plat::load_library(name);
  plat::free_library(m);
  return m != nullptr;
}

// Loads the simulated reader of the simulator folder, handing it the card profile.
bool load_simulator(const ReaderOptions& o, std::string* error) {
  bool loaded = false;
  for (const char* name : kSimulatorFiles) {
    const std::string path = in_root(o, "simulator", file_name(name));
    plat::Module m = plat::file_exists(path.c_str()) ? plat::load_library(path.c_str()) : nullptr;
    if (m) loaded = true;
    if (m && !o.card.empty() && !hand_profile(m, o.card, error)) return false;
  }
  if (loaded) return true;
  *error = std::string(o.card.empty() ? "--simulator" : "--card") + " needs the simulated reader in " +
           in_root(o, "simulator", "");
  return false;
}

// Loads the driver the edition is to call, kept until the program ends so that the edition finds
// it by name: the driver files beside the edition (the system's search order finds the rest), or
// the simulated reader when it is asked for or no driver is found anywhere; then it says so.
bool load_driver(const ReaderOptions& o, const std::string& edition_folder, Library* l,
                 std::string* error) {
  if (!o.card.empty() && !plat::file_exists(o.card.c_str())) {
    *error = "card profile " + o.card + " cannot be read";
    return false;
  }
  const EditionInfo& e = o.info();
  if (o.simulated()) return load_simulator(o, error);
  if (!desk_driver(e, edition_folder)) {
    const std::string simulated = in_root(o, "simulator", file_name(e.driver_files[0]));
    if (!plat::file_exists(simulated.c_str())) return true;  // the missing driver is named later
    l->notice = "no reader's driver " + file_name(e.driver_files[0]) + " beside the edition in " +
                (edition_folder.empty() ? std::string(".") : edition_folder) +
                " nor on the system's search path: reading the simulated reader " + simulated;
    return load_simulator(o, error);
  }
  for (const char* name : kSimulatorFiles) {
    const std::string beside = edition_folder + file_name(name);
    if (plat::file_exists(beside.c_str())) plat::load_library(beside.c_str());
  }
  return true;
}

// The first driver file of the edition that is neither loaded nor to be found by name.
const char* missing_driver(const EditionInfo& e) {
  for (const char* name : e.driver_files) {
    if (plat::find_loaded_module(name)) continue;
    plat::Module m = plat::load_library(name);
    if (!m) return name;
    plat::free_library(m);
  }
  return nullptr;
}

std::string missing_driver_line(const char* name, const std::string& edition_folder) {
  return "the reader's " + std::string(name) + " (" + file_name(name) +
         ") is missing: looked beside the edition in " + edition_folder +
         ", in the simulator folder and on the loader's search path";
}

// Whether the loaded module is the edition asked for, with every export its reads call.
bool check_exports(const EditionInfo& e, const Library& l, std::string* error) {
  if (!plat::entry_point(l.module, e.signature)) {
    for (const EditionInfo& other : editions()) {
      if (other.id == e.id || !plat::entry_point(l.module, other.signature)) continue;
      *error = "library " + l.source + " is the " + other.name + " edition, not the " + e.name +
               " edition (use --edition " + other.name + ")";
      return false;
    }
    *error = "library " + l.source + " is not an edition library (it lacks " + e.signature + ")";
    return false;
  }
  for (const char* name : called_exports(e)) {
    if (plat::entry_point(l.module, name)) continue;
    *error = "library " + l.source + " lacks the export " + name + " of the " + e.name + " edition";
    return false;
  }
  return true;
}

// Makes sure the edition's log can be created, so that the edition never stops on a message box
// saying it cannot.
bool prepare_log(const EditionInfo& e, Library* l, std::string* error) {
  if (!e.log_file) return true;
  l->log = l->private_folder + e.log_file;
  plat::File log = plat::open_file(l->log.c_str(), true, plat::Share::Read, true, true);
  if (log.is_open()) return true;
  *error = "the " + std::string(e.name) + " edition's log " + l->log + " cannot be created";
  return false;
}

bool deploy(const EditionInfo& e, Library* l, std::string* error) {
  if (l->private_folder.empty()) {
    l->private_folder = make_private_folder();
    l->made_folder = true;
  }
  if (l->private_folder.empty()) {
    *error = "cannot make a private folder for the library in the temporary folder";
    return false;
  }
  const std::string deployed = l->private_folder + e.deployed_as;
  if (!plat::copy_file(l->source.c_str(), deployed.c_str())) {
    *error = "cannot deploy " + l->source + " as " + deployed + ": " + plat::error_text(plat::last_error());
    return false;
  }
  if (!prepare_log(e, l, error)) return false;
  l->module = plat::load_library(deployed.c_str());
  return true;
}

// The full path of the driver the edition calls on the options' port.
std::string driver_path(const ReaderOptions& o) {
  const EditionInfo& e = o.info();
  const char* name = e.serial_driver && o.port <= 1000 ? e.serial_driver : e.driver_files[0];
  plat::Module m = plat::find_loaded_module(name);
  return m ? std::string(plat::module_path(m)) : std::string();
}

bool load_checked(const ReaderOptions& o, Library* l, std::string* error) {
  const EditionInfo& e = o.info();
  l->source = o.library.empty() ? in_root(o, e.name, e.library) : o.library;
  const std::string folder(plat::folder_of(l->source));
  if (!load_driver(o, folder, l, error)) return false;
  if (!plat::file_exists(l->source.c_str())) {
    *error = "library " + l->source + " not found";
    return false;
  }
  if (!deploy(e, l, error)) return false;
  const char* missing = missing_driver(e);
  if (missing) {
    *error = missing_driver_line(missing, folder.empty() ? "." : folder);
    return false;
  }
  if (!l->module) {
    *error = "library " + l->source + " cannot be loaded";
    return false;
  }
  if (!check_exports(e, *l, error)) return false;
  l->driver = driver_path(o);
  return true;
}

}  // namespace

bool load(const ReaderOptions& o, Library* library, std::string* error) {
  if (load_checked(o, library, error)) return true;
  unload(library);
  return false;
}

bool load_into(const ReaderOptions& o, const std::string& folder, Library* library,
               std::string* error) {
  library->private_folder = folder;
  library->made_folder = false;
  return load(o, library, error);
}

void unload(Library* library) {
  plat::free_library(library->module);
  library->module = nullptr;
  if (library->made_folder) remove_folder(library->private_folder);
  library->private_folder.clear();
  library->made_folder = false;
}

}  // namespace idcard
