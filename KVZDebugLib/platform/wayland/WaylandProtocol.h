// The Wayland protocols the box speaks, as wayland-scanner generates them at build time:
// the core protocol (the system's header), xdg-shell, xdg-decoration, viewporter and
// fractional-scale. Include this, never the protocol headers themselves.
//
// The generated requests are static inline functions that call libwayland by name. The
// module links no libwayland, so those calls are routed to the loaded table: the fixed ones
// (wl_proxy_destroy and the like) through hidden definitions of the same names
// (WaylandForward.cpp), and wl_proxy_marshal_flags, whose arguments are variadic, through
// the macro below, which packs them into the array wl_proxy_marshal_array_flags takes. The
// interface data (wl_surface_interface and the rest) is generated into the module too,
// hidden. A build that misses a route fails to link (-z defs), never at run time.
#pragma once

#include "KVZDebugLib/platform/wayland/WaylandLibrary.h"

#include <wayland-client-core.h>

namespace kvz::platform {

// One request argument, as the wire type the generated code passes it with.
inline wl_argument WlArgument(uint32_t value) {
    wl_argument argument = {};
    argument.u = value;
    return argument;
}
inline wl_argument WlArgument(int32_t value) {
    wl_argument argument = {};
    argument.i = value; // also fixed and fd, which are int32_t
    return argument;
}
inline wl_argument WlArgument(const char *value) {
    wl_argument argument = {};
    argument.s = value;
    return argument;
}
inline wl_argument WlArgument(wl_array *value) {
    wl_argument argument = {};
    argument.a = value;
    return argument;
}
// An object, or the NULL the generated code passes where a new object's id goes.
template <typename T> wl_argument WlArgument(T *value) {
    wl_argument argument = {};
    argument.o = reinterpret_cast<wl_object *>(value);
    return argument;
}
inline wl_argument WlArgument(long value) {
    wl_argument argument = {}; // NULL as the compiler spells it: only ever 0 here
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the generated code's NULL, passed on as one
    argument.o = reinterpret_cast<wl_object *>(value);
    return argument;
}

template <typename... Arguments>
wl_proxy *MarshalFlags(wl_proxy *proxy, uint32_t opcode, const wl_interface *interface,
                       uint32_t version, uint32_t flags, Arguments... arguments) {
    wl_argument list[sizeof...(Arguments) + 1] = {WlArgument(arguments)...};
    return Wayland().wl_proxy_marshal_array_flags(proxy, opcode, interface, version, flags, list);
}

} // namespace kvz::platform

#define wl_proxy_marshal_flags(proxy, opcode, interface, version, flags, ...)                      \
    ::kvz::platform::MarshalFlags(proxy, opcode, interface, version,                               \
                                  flags __VA_OPT__(, ) __VA_ARGS__)

#include <wayland-client-protocol.h>

#include "fractional-scale-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"
