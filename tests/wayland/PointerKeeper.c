// A virtual pointer on the compositor's seat, kept until killed and moved and clicked by
// the commands on its standard input.
//
//   kvz_wl_pointer_keeper < COMMANDS
//
// A headless seat has no pointer, and a seat without one gives its clients no wl_pointer:
// a client learns of the pointer only after a device exists, so the device that a
// one-shot tool (wlroots' virtual-pointer) adds, moves, clicks and removes in one go
// clicks before the client can hear it; and sway 1.7 passes on no button of such a short-
// lived device even once a client has its wl_pointer. This one adds a device,
// keeps it, and prints "ready" once the compositor has it, then "done LINE" once the
// compositor has had each command (see Command).
//
// The protocol is wlroots' virtual-pointer-unstable-v1, whose description Debian does not
// ship: the two interfaces are written out here, with only the requests this uses in full.
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
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

static uint32_t NowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// One command line: "move X Y WIDTH HEIGHT" (a point of the layout, of that size), "press
// BUTTON", "release BUTTON", "axis AXIS VALUE". False for a line it does not know.
static bool Command(struct wl_proxy *pointer, const char *line) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    double value = 0;
    if (sscanf(line, "move %u %u %u %u", &a, &b, &c, &d) == 4) {
        wl_proxy_marshal(pointer, 1, NowMs(), a, b, c, d);
    } else if (sscanf(line, "press %u", &a) == 1) {
        wl_proxy_marshal(pointer, 2, NowMs(), a, 1u);
    } else if (sscanf(line, "release %u", &a) == 1) {
        wl_proxy_marshal(pointer, 2, NowMs(), a, 0u);
    } else if (sscanf(line, "axis %u %lf", &a, &value) == 2) {
        wl_proxy_marshal(pointer, 5, 0u); // from a wheel
        wl_proxy_marshal(pointer, 3, NowMs(), a, wl_fixed_from_double(value));
    } else {
        return false;
    }
    wl_proxy_marshal(pointer, 4); // frame
    return true;
}

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
    // Each command is sent, and done once the compositor has had it; at the end of the
    // input the pointer stays until the compositor goes.
    char line[128];
    while (fgets(line, sizeof line, stdin) != NULL) {
        if (!Command(pointer, line) || wl_display_roundtrip(display) < 0) {
            printf("failed %s", line);
            return 1;
        }
        printf("done %s", line);
        fflush(stdout);
    }
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
