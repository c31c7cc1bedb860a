/* The numbers by which a call of the reader's driver or decoder is known once it was made: the
 * library that took it, the prefix it was called under and its entry point. The simulator's
 * journal (simulator/simulator.h, which exports them to its users under these names) and the
 * recordings (recording/) both number calls this way. A C header, like entry_points.h. */
#ifndef RIDEL_DRIVER_CALL_NUMBERS_H
#define RIDEL_DRIVER_CALL_NUMBERS_H

#include "driver/entry_points.h"

/* The entry points of the driver and decoder, numbered in the order of their list: SIM_OPEN_PORT,
 * SIM_CLOSE_PORT, ..., SIM_ANT, SIM_GET_BMP. */
enum SimEntry {
#define SIM_ENTRY_NUMBER(Name, NAME, prefixes, parameters, arguments) SIM_##NAME,
  RIDEL_DRIVER_ENTRY_POINTS(SIM_ENTRY_NUMBER)
#undef SIM_ENTRY_NUMBER
  SIM_ENTRY_COUNT
};

/* Which library received a call: the USB driver, the serial driver or the photo decoder. */
enum SimLibrary { SIM_LIB_SDTAPI, SIM_LIB_STDAPI, SIM_LIB_WLTRS, SIM_LIB_COUNT };

/* The prefix under which a driver entry point was called (GetBmp has none). */
enum SimPrefix { SIM_PREFIX_NONE, SIM_PREFIX_QDX, SIM_PREFIX_SDT };

#endif /* RIDEL_DRIVER_CALL_NUMBERS_H */
