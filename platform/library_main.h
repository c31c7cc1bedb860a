// A library's load and unload notifications from the operating system, handed to two functions of
// the library: RIDEL_LIBRARY_MAIN(attach, detach) at namespace scope in one source file of every
// library (pass a function that does nothing where there is nothing to do).
#pragma once

#include "platform/abi.h"
#include "platform/platform.h"

#if defined(_WIN32)
// The libraries are linked without the C runtime's start-up code, so this is the DLL's entry
// point itself (the linker's default name for it). Nothing runs before it: the libraries have no
// constructors of module-wide objects, their state is constant-initialised.
// Process attach (1) runs `attach`, process detach (0) runs `detach` unless the whole process is
// ending (reserved set): the system then unloads every library itself, and freeing libraries from
// here could touch one already gone. Thread notifications do nothing. The result is always 1: a
// library or entry point that is missing makes only the exports that need it fail, never the load.
#define RIDEL_LIBRARY_MAIN(attach, detach)                                                   \
  extern "C" int WINAPI DllMainCRTStartup(void* /*instance*/, unsigned long reason,          \
                                          void* reserved) {                                  \
    if (reason == 1) attach();                                                               \
    if (reason == 0 && reserved == nullptr) detach();                                        \
    return 1;                                                                                \
  }
#else
#define RIDEL_LIBRARY_MAIN(attach, detach)                                 \
  __attribute__((constructor)) static void ridel_library_load() { attach(); } \
  __attribute__((destructor)) static void ridel_library_unload() {            \
    detach();                                                                 \
    plat::release_resources();                                                \
  }
#endif
