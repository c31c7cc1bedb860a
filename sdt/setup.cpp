// Load and unload. The library is linked against the driver and the decoder, so the system's
// loader binds them, and refuses to load the library without them; loading starts nothing and
// opens nothing, and the state starts empty (state.h).
#include "platform/library_main.h"
#include "sdt/state.h"

namespace sdt {

constinit State state{};

namespace {

void nothing() {}

}  // namespace
}  // namespace sdt

RIDEL_LIBRARY_MAIN(sdt::nothing, sdt::nothing)
