// Asks for the clipboard's text and closes the pipe before a byte can be read: the holder
// of the clipboard then writes into a pipe nobody reads, as when a paster dies mid-paste.
//
//   kvz_wl_closed_paste
//
// Prints "closed" once the compositor has passed the request on, or fails (1) when nothing
// holds text within 5 s. Reads the clipboard as a clipboard manager does, through wlroots'
// data-control protocol, whose description Debian does not ship: its interfaces are
// written out here.
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

static const char kText[] = "text/plain;charset=utf-8";

extern const struct wl_interface kvz_source_interface;
extern const struct wl_interface kvz_device_interface;
extern const struct wl_interface kvz_offer_interface;

static const struct wl_interface *source_types[] = {&kvz_source_interface};
static const struct wl_interface *device_types[] = {&kvz_device_interface, &wl_seat_interface};
static const struct wl_interface *offer_types[] = {&kvz_offer_interface};
static const struct wl_interface *none_types[] = {NULL, NULL};

static const struct wl_message manager_requests[] = {
    {"create_data_source", "n", source_types},
    {"get_data_device", "no", device_types},
    {"destroy", "", none_types},
};
static const struct wl_interface manager_interface = {
    "zwlr_data_control_manager_v1", 1, 3, manager_requests, 0, NULL,
};

static const struct wl_message source_requests[] = {{"offer", "s", none_types},
                                                    {"destroy", "", none_types}};
static const struct wl_message source_events[] = {{"send", "sh", none_types},
                                                  {"cancelled", "", none_types}};
const struct wl_interface kvz_source_interface = {
    "zwlr_data_control_source_v1", 1, 2, source_requests, 2, source_events,
};

static const struct wl_message device_requests[] = {{"set_selection", "?o", source_types},
                                                    {"destroy", "", none_types}};
static const struct wl_message device_events[] = {
    {"data_offer", "n", offer_types},
    {"selection", "?o", offer_types},
    {"finished", "", none_types},
};
const struct wl_interface kvz_device_interface = {
    "zwlr_data_control_device_v1", 1, 2, device_requests, 3, device_events,
};

static const struct wl_message offer_requests[] = {{"receive", "sh", none_types},
                                                   {"destroy", "", none_types}};
static const struct wl_message offer_events[] = {{"offer", "s", none_types}};
const struct wl_interface kvz_offer_interface = {
    "zwlr_data_control_offer_v1", 1, 2, offer_requests, 1, offer_events,
};

static struct wl_seat *g_seat;
static struct wl_proxy *g_manager;
static struct wl_proxy *g_textOffer;  // the last offer that holds text
static struct wl_proxy *g_offers[16]; // each offer made, destroyed at the end
static int g_offerCount;
static int g_done;

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

static void OnOffer(void *data, struct wl_proxy *offer, const char *type) {
    (void)data;
    if (strcmp(type, kText) == 0) {
        g_textOffer = offer;
    }
}

static const struct {
    void (*offer)(void *, struct wl_proxy *, const char *);
} kOfferListener = {OnOffer};

static void OnDataOffer(void *data, struct wl_proxy *device, struct wl_proxy *offer) {
    (void)data;
    (void)device;
    wl_proxy_add_listener(offer, (void (**)(void)) & kOfferListener, NULL);
    if (g_offerCount < 16) {
        g_offers[g_offerCount++] = offer;
    }
}

// The selection: its text asked for, into a pipe closed at once at both ends here.
static void OnSelection(void *data, struct wl_proxy *device, struct wl_proxy *offer) {
    (void)data;
    (void)device;
    int ends[2];
    if (offer == NULL || offer != g_textOffer || pipe(ends) != 0) {
        return;
    }
    wl_proxy_marshal(offer, 0, kText, ends[1]);
    close(ends[1]);
    close(ends[0]);
    g_done = 1;
}

static void OnFinished(void *data, struct wl_proxy *device) {
    (void)data;
    (void)device;
}

static const struct {
    void (*data_offer)(void *, struct wl_proxy *, struct wl_proxy *);
    void (*selection)(void *, struct wl_proxy *, struct wl_proxy *);
    void (*finished)(void *, struct wl_proxy *);
} kDeviceListener = {OnDataOffer, OnSelection, OnFinished};

int main(void) {
    struct wl_display *display = wl_display_connect(NULL);
    if (display == NULL) {
        fprintf(stderr, "kvz_wl_closed_paste: no compositor\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, NULL);
    wl_display_roundtrip(display);
    if (g_manager == NULL || g_seat == NULL) {
        fprintf(stderr, "kvz_wl_closed_paste: the compositor has no data-control\n");
        return 1;
    }
    struct wl_proxy *device =
        wl_proxy_marshal_constructor(g_manager, 1, &kvz_device_interface, NULL, g_seat);
    wl_proxy_add_listener(device, (void (**)(void)) & kDeviceListener, NULL);
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (!g_done) {
        if (wl_display_roundtrip(display) < 0) {
            return 1;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= 5) {
            fprintf(stderr, "kvz_wl_closed_paste: no text on the clipboard\n");
            return 1;
        }
        poll(NULL, 0, 20);
    }
    // The request reaches the compositor, which passes it on to the clipboard's holder.
    if (wl_display_roundtrip(display) < 0) {
        return 1;
    }
    printf("closed\n");
    // Everything let go, so that a leak checker has nothing of ours to report.
    for (int i = 0; i < g_offerCount; ++i) {
        wl_proxy_marshal(g_offers[i], 1); // destroy
        wl_proxy_destroy(g_offers[i]);
    }
    wl_proxy_marshal(device, 1); // destroy
    wl_proxy_destroy(device);
    wl_proxy_marshal(g_manager, 2); // destroy
    wl_proxy_destroy(g_manager);
    wl_proxy_destroy((struct wl_proxy *)g_seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
