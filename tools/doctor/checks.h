// The doctor's two halves: what the files of the folder say (files.cpp) and what the reader says
// through the folder's driver (live.cpp).
#pragma once

#include <string>

#include "tools/doctor/doctor.h"
#include "tools/doctor/image.h"
#include "tools/editions/edition.h"

namespace idcard::doctor {

// A driver or decoder file as the edition finds it.
struct Located {
  const char* windows_name = nullptr;  // as the editions name it ("sdtapi.dll")
  std::string file;                    // its file name on this platform
  std::string path;                    // where it was found; empty: missing
  image::Image image;
  bool usable = false;  // found, readable and of the edition's architecture
};

struct Deployment {
  std::string folder;  // ending in a separator
  image::Image host;   // this program
  const EditionInfo* edition = nullptr;
  std::string edition_file;
  image::Image edition_image;
  Located driver, serial_driver, decoder;
};

// The file checks: edition, architecture, driver and decoder, folder, code page.
void check_files(const Options& o, Deployment& d, Report& r);
// The live checks through the driver: ports, SAM, card; or why they were skipped.
void check_live(const Options& o, const Deployment& d, Report& r);

// "0x90"
std::string hex(int status);

}  // namespace idcard::doctor
