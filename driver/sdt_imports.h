// The driver and decoder entry points that the SDT edition links against, through the import
// libraries generated from driver/sdtapi.def and driver/WltRS.def (POSIX: the driver's and
// decoder's shared objects). Declared from the entry-point list: the driver's under SDT_ (QDX_ANT
// has no SDT_ name), the decoder's without a prefix. Only those the edition calls are imported;
// the .def files name them and are checked against the list when the build is configured
// (driver/entry_points.cmake).
#pragma once

#include "driver/sdtapi.h"

#define SDT_IMPORT_QDX_SDT(Name, parameters) int WINAPI SDT_##Name parameters;
#define SDT_IMPORT_QDX(Name, parameters)
#define SDT_IMPORT_DECODER(Name, parameters) int WINAPI Name parameters;
#define SDT_IMPORT(Name, NAME, prefixes, parameters, arguments) \
  SDT_IMPORT_##prefixes(Name, parameters)

extern "C" {
RIDEL_DRIVER_ENTRY_POINTS(SDT_IMPORT)
}

#undef SDT_IMPORT
#undef SDT_IMPORT_DECODER
#undef SDT_IMPORT_QDX
#undef SDT_IMPORT_QDX_SDT
