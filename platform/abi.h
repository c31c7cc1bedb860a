// Calling convention of every export and driver entry point: stdcall on 32-bit Windows,
// the platform's default elsewhere; the same definition as the public headers'.
#pragma once

#include "include/ridel_winapi.h"

// No C++ exception can cross an export: the libraries are built without exceptions (and without the
// C++ runtime), so no export needs a guard. Every export returns its result code.

// Marks a function that the library exports. Windows builds export through their .def files;
// POSIX builds hide everything else (-fvisibility=hidden and a version script from the .def).
#if defined(_WIN32)
#define RIDEL_EXPORT
#else
#define RIDEL_EXPORT __attribute__((visibility("default")))
#endif
