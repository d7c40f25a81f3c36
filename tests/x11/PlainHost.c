/* A host that links nothing of the desktop, for the privileged cases: it loads the library
 * from the path it is given (a privileged process ignores LD_LIBRARY_PATH, and the build's
 * folder may be one the ordinary user cannot enter), calls one prompt, and prints whether
 * it ran privileged (AT_SECURE), the prompt's result, and which desktop libraries its
 * address space holds afterwards.
 *
 *   kvz_x11_plain_host LIBRARY warn-final|warn-release */
#include "KVZDebugLib/KVZDebugLib.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <sys/auxv.h>

/* Prints each desktop library mapped, once, or "none". */
static void PrintDesktopLibraries(void) {
    static const char *const kNames[] = {"libX11.",      "libxcb.",        "libXau.",
                                         "libXft.",      "libfontconfig.", "libfreetype.",
                                         "libharfbuzz.", "libfribidi."};
    int seen[sizeof kNames / sizeof kNames[0]] = {0};
    char line[4096];
    FILE *maps = fopen("/proc/self/maps", "r");
    while (maps != NULL && fgets(line, sizeof line, maps) != NULL) {
        for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
            seen[i] = seen[i] || strstr(line, kNames[i]) != NULL;
        }
    }
    if (maps != NULL) {
        fclose(maps);
    }
    printf("desktop=");
    int any = 0;
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        if (seen[i]) {
            printf("%s%.*s", any ? "," : "", (int)strlen(kNames[i]) - 1, kNames[i]);
            any = 1;
        }
    }
    printf("%s\n", any ? "" : "none");
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: kvz_x11_plain_host LIBRARY warn-final|warn-release\n");
        return 64;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("secure=%lu\n", getauxval(AT_SECURE));
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    __typeof__(_WarnRelease) *warnRelease = NULL;
    __typeof__(_WarnFinal) *warnFinal = NULL;
    if (library != NULL) { /* copied through the object pointer, as POSIX shows for dlsym */
        void *symbol = dlsym(library, "_WarnRelease");
        memcpy(&warnRelease, &symbol, sizeof symbol);
        symbol = dlsym(library, "_WarnFinal");
        memcpy(&warnFinal, &symbol, sizeof symbol);
    }
    if (warnRelease == NULL || warnFinal == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 65;
    }
    int32_t result;
    if (strcmp(argv[2], "warn-release") == 0) {
        result = warnRelease(KVZ_TEXT("privileged.c"), 7, KVZ_TEXT("%s"), KVZ_TEXT("check"));
    } else {
        result = warnFinal(KVZ_TEXT("%s"), KVZ_TEXT("check"));
    }
    printf("result=%d\n", (int)result);
    PrintDesktopLibraries();
    return 0;
}
