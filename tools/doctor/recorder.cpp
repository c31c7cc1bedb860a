// The recording driver in a deployment: a library under the driver's or decoder's name, told by
// its own export, that passes its calls to the real library renamed beside it. The doctor names it, says whether it keeps
// the card's own data (which it must not do unnoticed) and whether its real library is there.
#include <cstdlib>
#include <string_view>

#include "tools/doctor/checks.h"
#include "tools/editions/library.h"
#include "tools/recorder/recorder.h"

namespace idcard::doctor {

namespace {

// Which of the recording driver's libraries a located file stands for.
int library_index(const Located& l) {
  const std::string_view name = l.windows_name ? l.windows_name : "";
  if (name == drv::kUsbDriverFile) return SIM_LIB_SDTAPI;
  if (name == drv::kSerialDriverFile) return SIM_LIB_STDAPI;
  return SIM_LIB_WLTRS;
}

// Whether the library is the recording driver: it has the recording driver's own export, which no
// reader maker's library has.
bool is_recording_driver(const Located& l) { return l.image.exports_name(recorder::kMarkExport); }

std::string folder_of(const std::string& path) { return std::string(plat::folder_of(path)); }

}  // namespace

void check_recorder(Deployment& d, Report& r) {
  std::vector<Located*> recorders;
  for (Located* l : {&d.driver, &d.serial_driver, &d.decoder}) {
    if (l->path.empty() || l->dangling || !l->image.ok || !is_recording_driver(*l)) continue;
    l->recorder = true;
    recorders.push_back(l);
  }
  if (recorders.empty()) return;
  const std::string folder = folder_of(recorders.front()->path);
  const std::string recording = folder + recorder::kRecordingFile;
  std::string files, reals;
  for (const Located* l : recorders) {
    files += (files.empty() ? "" : ", ") + l->file;
    reals += (reals.empty() ? "" : ", ") +
             std::string(plat::library_file_name(recorder::kRealNames[library_index(*l)]));
  }
  const char* variable = std::getenv(recorder::kKeepVariable);
  const bool by_variable = variable && std::string_view(variable) == "1";
  const bool by_file = plat::file_exists((folder + recorder::kKeepFile).c_str());
  add(r, "recorder", recorder::kRecordingFile, Status::Note,
      files + " in " + folder +
          (recorders.size() == 1 ? " is the recording driver: it passes each call on to " + reals +
                                       " and writes it to "
                                 : " are the recording driver: they pass each call on to " + reals +
                                       " and write it to ") +
          recording +
          (by_variable || by_file ? "" : "; the card's data is replaced by synthetic data there"),
      "when the recording is made, put the reader maker's libraries back under their own names");
  if (by_file) {
    add(r, "recorder", recorder::kKeepFile, Status::Fail,
        "the recording driver keeps the card's own data: the name, ID number, address and photo of "
        "every card read here go into " + recording + ", because " + folder + recorder::kKeepFile +
            " lies beside it",
        "delete " + quoted(folder + recorder::kKeepFile) +
            " unless every card holder agreed to be recorded");
  } else if (by_variable) {
    add(r, "recorder", recorder::kKeepVariable, Status::Fail,
        "the recording driver keeps the card's own data: the name, ID number, address and photo of "
        "every card read here go into " + recording + ", because " + recorder::kKeepVariable +
            "=1 is set",
        "remove " + std::string(recorder::kKeepVariable) +
            "=1 from the application's environment unless every card holder agreed to be recorded");
  }
  for (Located* l : recorders) {
    const std::string real(plat::library_file_name(recorder::kRealNames[library_index(*l)]));
    if (plat::file_exists((folder + real).c_str())) {
      // The recording driver loads it at the first call: a damaged one is not to be loaded either.
      const image::Image real_image = image::read(folder + real);
      if (real_image.ok && !real_image.truncated && image::same_architecture(real_image, l->image))
        continue;
      add(r, "recorder", real, Status::Fail,
          "the real library " + folder + real + " behind the recording driver " + l->file +
              " is damaged, no library or for another architecture than " +
              image::architecture(l->image) + ": the recording driver cannot pass the calls on",
          "copy the reader maker's " + l->file + " for " + image::architecture(l->image) +
              " again, as " + real + " in " + folder);
      l->unusable = "the real library behind the recording driver (" + real + ") is damaged";
      continue;
    }
    add(r, "recorder", l->file, Status::Fail,
        "the real library " + real + " is missing beside the recording driver " + l->file + " in " +
            folder + ": the recording driver answers every call with 0, as if no reader were there",
        "rename the reader maker's " + l->file + " to " + real + " in " + folder +
            ", or put it back as " + l->file + " in place of the recording driver");
    l->unusable = "the recording driver " + l->file + " has no real library (" + real +
                  ") to pass the calls to";
  }
}

void check_simulator(const Deployment& d, Report& r) {
  const Located& l = d.driver;
  if (l.path.empty() || l.dangling || !l.image.ok || !l.image.exports_name(kProfileExport)) return;
  r.simulated = true;
  add(r, "simulator", l.file, Status::Note,
      l.file + " in " + folder_of(l.path) +
          " is the simulated reader, not a reader maker's driver: every read gives the simulator's "
          "card, never the one on the desk's reader",
      "for a real reader, put the reader maker's driver and decoder in place of the simulator's");
}

}  // namespace idcard::doctor
