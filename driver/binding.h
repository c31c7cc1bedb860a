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

namespace binding {

// The list's third column: which library offers an entry point, under which prefixes.
enum class Offer { QDX_SDT, QDX, DECODER };

struct Names {
  const char* qdx;    // QDX_<Name>
  const char* sdt;    // SDT_<Name>
  const char* plain;  // <Name>, the decoder's
};

// Binds one entry point when it belongs to the library being bound (the decoder or the driver),
// under the name it has there; null when the driver does not offer it under `prefix`.
template <class Fn, class Lookup>
void bind_one(Fn& slot, Offer offer, Names names, bool decoder, Prefix prefix, Lookup& lookup) {
  if ((offer == Offer::DECODER) != decoder) return;
  const char* name = decoder                   ? names.plain
                     : prefix == Prefix::Qdx   ? names.qdx
                     : offer == Offer::QDX_SDT ? names.sdt
                                               : nullptr;
  slot = name ? reinterpret_cast<Fn>(lookup(name)) : nullptr;
}

template <class Lookup>
void bind(EntryPoints& e, bool decoder, Prefix prefix, Lookup& lookup) {
#define DRV_BIND(Name, NAME, prefixes, parameters, arguments) \
  bind_one(e.Name, Offer::prefixes, {"QDX_" #Name, "SDT_" #Name, #Name}, decoder, prefix, lookup);
  RIDEL_DRIVER_ENTRY_POINTS(DRV_BIND)
#undef DRV_BIND
}

}  // namespace binding

// Looks up every driver entry point that the list offers under `prefix` through `lookup` (a name
// to an address, nullptr when missing), in the list's order; those not offered under `prefix`
// become null. The decoder's entry stays as it is.
template <class Lookup>
void bind_driver(EntryPoints& e, Prefix prefix, Lookup lookup) {
  binding::bind(e, false, prefix, lookup);
}

// Looks up the decoder's entry points through `lookup`; the driver's stay as they are.
template <class Lookup>
void bind_decoder(EntryPoints& e, Lookup lookup) {
  binding::bind(e, true, Prefix::Qdx, lookup);
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
