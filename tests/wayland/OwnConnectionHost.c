/* A host with a Wayland connection of its own: its main thread connects to the compositor
 * and keeps making round trips on that connection, as a host's event loop would, while
 * _WarnRelease is up on another thread; after the answer one more round trip must succeed.
 * Prints "called=MS", "result=N" and "roundtrip=ok" (or "roundtrip=failed"). The box is
 * answered from outside, by wayland-box.sh. */
#include "KVZDebugLib/KVZDebugLib.h"

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <time.h>
#include <wayland-client.h>

static atomic_int g_Answered;

static void *PromptThread(void *unused) {
    (void)unused;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    printf("called=%lld\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
    const int32_t result = _WarnRelease(KVZ_TEXT("host.c"), 1, KVZ_TEXT("%s"),
                                        KVZ_TEXT("a host with its own connection"));
    printf("result=%d\n", (int)result);
    atomic_store(&g_Answered, 1);
    return NULL;
}

int main(void) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    struct wl_display *display = wl_display_connect(NULL);
    if (display == NULL || wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "kvz_wl_own_host: no compositor\n");
        return 70;
    }
    pthread_t prompt;
    if (pthread_create(&prompt, NULL, PromptThread, NULL) != 0) {
        return 70;
    }
    int trips = 0, failed = 0;
    const struct timespec pause = {0, 20 * 1000 * 1000};
    while (!atomic_load(&g_Answered)) {
        failed |= wl_display_roundtrip(display) < 0;
        ++trips;
        nanosleep(&pause, NULL);
    }
    pthread_join(prompt, NULL);
    failed |= wl_display_roundtrip(display) < 0 || wl_display_get_error(display) != 0;
    printf("roundtrip=%s\n", failed ? "failed" : "ok");
    wl_display_disconnect(display);
    return trips > 0 ? 0 : 70;
}
