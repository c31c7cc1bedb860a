// The table of the driver's and decoder's entry points that the editions which bind them by name
// keep, made from the one list (entry_points.h), and its binding: the driver's entry points under
// one prefix, the decoder's without one.
#pragma once

#include "driver/sdtapi.h"
#include "platform/platform.h"

namespace drv {

// The family of the driver's names that an edition binds: QDX_OpenPort or SDT_OpenPort.
enum class Prefix { Qdx, Sdt };

// One pointer per entry point of the list, named as the entry point (OpenPort, ..., GetBmp);
// null where it is not bound.
struct EntryPoints {
#define DRV_ENTRY_POINT_MEMBER(Name, NAME, prefixes, parameters, arguments) Name##Fn Name = nullptr;
  RIDEL_DRIVER_ENTRY_POINTS(DRV_ENTRY_POINT_MEMBER)
#undef DRV_ENTRY_POINT_MEMBER
};

// Looks up every driver entry point that the list offers under `prefix` through `lookup` (a name
// to an address, nullptr when missing), in the list's order; those not offered under `prefix`
// become null. The decoder's entry stays as it is.
template <class Lookup>
void bind_driver(EntryPoints& e, Prefix prefix, Lookup lookup) {
  const bool qdx = prefix == Prefix::Qdx;
#define DRV_BIND_QDX_SDT(Name) \
  e.Name = reinterpret_cast<Name##Fn>(lookup(qdx ? "QDX_" #Name : "SDT_" #Name));
#define DRV_BIND_QDX(Name) e.Name = qdx ? reinterpret_cast<Name##Fn>(lookup("QDX_" #Name)) : nullptr;
#define DRV_BIND_DECODER(Name)
#define DRV_BIND(Name, NAME, prefixes, parameters, arguments) DRV_BIND_##prefixes(Name)
  RIDEL_DRIVER_ENTRY_POINTS(DRV_BIND)
#undef DRV_BIND
#undef DRV_BIND_DECODER
#undef DRV_BIND_QDX
#undef DRV_BIND_QDX_SDT
}

// Looks up the decoder's entry points through `lookup`; the driver's stay as they are.
template <class Lookup>
void bind_decoder(EntryPoints& e, Lookup lookup) {
#define DRV_BIND_QDX_SDT(Name)
#define DRV_BIND_QDX(Name)
#define DRV_BIND_DECODER(Name) e.Name = reinterpret_cast<Name##Fn>(lookup(#Name));
#define DRV_BIND(Name, NAME, prefixes, parameters, arguments) DRV_BIND_##prefixes(Name)
  RIDEL_DRIVER_ENTRY_POINTS(DRV_BIND)
#undef DRV_BIND
#undef DRV_BIND_DECODER
#undef DRV_BIND_QDX
#undef DRV_BIND_QDX_SDT
}

// The same, looking the names up in a loaded library (nullptr: none is found).
inline void bind_driver(EntryPoints& e, Prefix prefix, plat::Module library) {
  bind_driver(e, prefix, [library](const char* name) { return plat::entry_point(library, name); });
}
inline void bind_decoder(EntryPoints& e, plat::Module library) {
  bind_decoder(e, [library](const char* name) { return plat::entry_point(library, name); });
}

// Empties the driver's entries, as when its library is freed; the decoder's stays.
inline void unbind_driver(EntryPoints& e) { bind_driver(e, Prefix::Sdt, plat::Module()); }

}  // namespace drv
