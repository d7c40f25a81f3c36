// The libwayland functions the generated protocol code calls by name, defined here, hidden,
// as calls through the loaded table (WaylandProtocol.h says why).
#include "KVZDebugLib/platform/wayland/WaylandLibrary.h"

#define KVZ_HIDDEN __attribute__((visibility("hidden")))

extern "C" {

KVZ_HIDDEN int wl_proxy_add_listener(wl_proxy *proxy, void (**implementation)(void), void *data) {
    return kvz::platform::Wayland().wl_proxy_add_listener(proxy, implementation, data);
}

KVZ_HIDDEN void wl_proxy_destroy(wl_proxy *proxy) {
    kvz::platform::Wayland().wl_proxy_destroy(proxy);
}

KVZ_HIDDEN uint32_t wl_proxy_get_version(wl_proxy *proxy) {
    return kvz::platform::Wayland().wl_proxy_get_version(proxy);
}

KVZ_HIDDEN void wl_proxy_set_user_data(wl_proxy *proxy, void *user_data) {
    kvz::platform::Wayland().wl_proxy_set_user_data(proxy, user_data);
}

KVZ_HIDDEN void *wl_proxy_get_user_data(wl_proxy *proxy) {
    return kvz::platform::Wayland().wl_proxy_get_user_data(proxy);
}

} // extern "C"
