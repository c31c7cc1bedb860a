// What the tests check of a Windows PE file (machine, export directory, imports, resource types),
// read by the host program's image reader (tools/image/image.h).
#pragma once

#include <string>

#include "tools/image/image.h"

namespace testbed::pe {

using idcard::image::Export;
using idcard::image::Image;
using idcard::image::kMachineAmd64;
using idcard::image::kMachineI386;
using idcard::image::kResourceString;
using idcard::image::kResourceVersion;

// The image of a PE file; not ok when the file is missing or no PE image.
inline Image read(const std::string& path) {
  Image image = idcard::image::read(path);
  image.ok = image.ok && image.format == idcard::image::Format::Pe;
  return image;
}

}  // namespace testbed::pe
