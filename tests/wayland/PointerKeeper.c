// Keeps a virtual pointer on the compositor's seat until killed, then prints nothing more.
//
//   kvz_wl_pointer_keeper
//
// A headless seat has no pointer, and a seat without one gives its clients no wl_pointer:
// a client learns of the pointer only after a device exists, so the device that a
// one-shot tool (wlroots' virtual-pointer) adds, moves, clicks and removes in one go
// clicks before the client can hear it. This one adds a device and keeps it; prints
// "ready" once the compositor has it.
//
// The protocol is wlroots' virtual-pointer-unstable-v1, whose description Debian does not
// ship: the two interfaces are written out here, with only the requests this uses in full.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

extern const struct wl_interface kvz_virtual_pointer_interface;

static const struct wl_interface *create_types[] = {&wl_seat_interface,
                                                    &kvz_virtual_pointer_interface};

static const struct wl_message manager_requests[] = {
    {"create_virtual_pointer", "?on", create_types},
    {"destroy", "", NULL},
};

static const struct wl_interface manager_interface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, manager_requests, 0, NULL,
};

static const struct wl_message pointer_requests[] = {
    {"motion", "uff", NULL},   {"motion_absolute", "uuuuu", NULL},
    {"button", "uuu", NULL},   {"axis", "uuf", NULL},
    {"frame", "", NULL},       {"axis_source", "u", NULL},
    {"axis_stop", "uu", NULL}, {"axis_discrete", "uufi", NULL},
    {"destroy", "", NULL},
};

const struct wl_interface kvz_virtual_pointer_interface = {
    "zwlr_virtual_pointer_v1", 1, 9, pointer_requests, 0, NULL,
};

static struct wl_seat *g_seat;
static struct wl_proxy *g_manager;

static void Global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version) {
    (void)data;
    (void)version;
    if (strcmp(interface, "wl_seat") == 0 && g_seat == NULL) {
        g_seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    } else if (strcmp(interface, manager_interface.name) == 0) {
        g_manager = wl_registry_bind(registry, name, &manager_interface, 1);
    }
}

static void GlobalRemove(void *data, struct wl_registry *registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener kRegistryListener = {Global, GlobalRemove};

int main(void) {
    struct wl_display *display = wl_display_connect(NULL);
    if (display == NULL) {
        fprintf(stderr, "kvz_wl_pointer_keeper: no compositor\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, NULL);
    wl_display_roundtrip(display);
    if (g_manager == NULL) {
        fprintf(stderr, "kvz_wl_pointer_keeper: the compositor has no virtual pointers\n");
        return 1;
    }
    struct wl_proxy *pointer =
        wl_proxy_marshal_constructor(g_manager, 0, &kvz_virtual_pointer_interface, g_seat, NULL);
    if (pointer == NULL || wl_display_roundtrip(display) < 0) {
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    // Until killed, or until the compositor goes.
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
