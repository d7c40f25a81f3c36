// libwayland-client and libxkbcommon, loaded with dlopen when the first Wayland box is
// wanted: the module has no link-time Wayland dependency and loads where Wayland is not
// installed. Only their headers are used at compile time. The protocol code wayland-scanner
// generates calls libwayland by name; WaylandProtocol.h routes those calls to this table.
#pragma once

#include "KVZDebugLib/platform/dialog/DialogLibrary.h"

#include <wayland-client-core.h>
#include <xkbcommon/xkbcommon.h>

namespace kvz::platform {

// The libwayland-client functions the box and its protocol code use. wl_proxy_marshal_flags
// is not called (its arguments are variadic: the box marshals them as an array), but a
// library without it predates the generated code, which is then not used at all.
#define KVZ_WAYLAND_FUNCTIONS(X)                                                                   \
    X(wl_display_connect_to_fd)                                                                    \
    X(wl_display_disconnect)                                                                       \
    X(wl_display_get_fd)                                                                           \
    X(wl_display_get_error)                                                                        \
    X(wl_display_flush)                                                                            \
    X(wl_display_prepare_read)                                                                     \
    X(wl_display_cancel_read)                                                                      \
    X(wl_display_read_events)                                                                      \
    X(wl_display_dispatch_pending)                                                                 \
    X(wl_proxy_marshal_flags)                                                                      \
    X(wl_proxy_marshal_array_flags)                                                                \
    X(wl_proxy_add_listener)                                                                       \
    X(wl_proxy_destroy)                                                                            \
    X(wl_proxy_get_version)                                                                        \
    X(wl_proxy_set_user_data)                                                                      \
    X(wl_proxy_get_user_data)

// The libxkbcommon functions that read the compositor's keymap.
#define KVZ_XKB_FUNCTIONS(X)                                                                       \
    X(xkb_context_new)                                                                             \
    X(xkb_context_unref)                                                                           \
    X(xkb_context_set_log_fn)                                                                      \
    X(xkb_keymap_new_from_string)                                                                  \
    X(xkb_keymap_unref)                                                                            \
    X(xkb_keymap_key_get_syms_by_level)                                                            \
    X(xkb_state_new)                                                                               \
    X(xkb_state_unref)                                                                             \
    X(xkb_state_update_mask)                                                                       \
    X(xkb_state_key_get_layout)                                                                    \
    X(xkb_state_mod_name_is_active)

struct WaylandFunctions {
    KVZ_WAYLAND_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

struct XkbFunctions {
    KVZ_XKB_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

// libwayland-client's functions, or null when it cannot be loaded whole.
const WaylandFunctions *LoadWayland();

// libxkbcommon's functions, or null when it cannot be loaded whole.
const XkbFunctions *LoadXkb();

// The loaded table the protocol code calls through; valid once LoadWayland succeeded.
const WaylandFunctions &Wayland();

} // namespace kvz::platform
