// A host for the X11 dialog's tests: it calls one prompt, prints "result=N" and exits.
// The dialog is answered from outside, by x11-dialog.sh.
//
//   kvz_x11_host PROMPT [--lines N] [--long] [--sample] [--own-handlers] [--threads N]
//                       [--grab input|server]
//
// PROMPT is warn-release, warn-debug, break-release or warn-final. --lines adds N line
// feeds to the detail, --long a paragraph of about 700 characters with no line feed,
// --sample the text of the screenshot. --own-handlers installs X error handlers of the
// host's own first and afterwards prints whether they are still the ones installed.
// --threads calls the prompt on N threads at once (at most 16), each printing its own
// result. --grab holds a grab on a connection of the host's own while the prompt is up:
// of the keyboard and the pointer (as an open menu does), or of the whole server.
#include "KVZDebugLib/KVZDebugLib.h"

#include <X11/Xlib.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int HostErrorHandler(Display *, XErrorEvent *) {
    return 0;
}
int HostIOErrorHandler(Display *) {
    return 0;
}

KVZChar g_Detail[4096];
size_t g_Length = 0;

void Append(const KVZChar *text) {
    for (; *text != 0 && g_Length + 1 < sizeof g_Detail / sizeof g_Detail[0]; ++text) {
        g_Detail[g_Length++] = *text;
    }
    g_Detail[g_Length] = 0;
}

const char *g_Prompt = "";

int32_t CallPrompt() {
    if (strcmp(g_Prompt, "warn-release") == 0) {
        return _WarnRelease(u"render/Mesh.cpp", 217, u"%s", g_Detail);
    }
    if (strcmp(g_Prompt, "warn-debug") == 0) {
        return _WarnDebug(u"render/Mesh.cpp", 217, u"%s", g_Detail);
    }
    if (strcmp(g_Prompt, "break-release") == 0) {
        return _BreakRelease(u"render/Mesh.cpp", 217);
    }
    return _WarnFinal(u"%s", g_Detail);
}

void *PromptThread(void *) {
    printf("result=%d\n", static_cast<int>(CallPrompt()));
    return nullptr;
}

// Opens a connection of the host's own and grabs what is named; null when it cannot.
Display *Grab(const char *what) {
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    const Window root = DefaultRootWindow(display);
    bool held = false;
    if (strcmp(what, "server") == 0) {
        XGrabServer(display);
        held = true;
    } else if (strcmp(what, "input") == 0) {
        held = XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
                   GrabSuccess &&
               XGrabPointer(display, root, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                            CurrentTime) == GrabSuccess;
    }
    XSync(display, False);
    if (!held) {
        XCloseDisplay(display);
        return nullptr;
    }
    return display;
}

int Usage() {
    fprintf(stderr, "usage: kvz_x11_host warn-release|warn-debug|break-release|warn-final "
                    "[--lines N] [--long] [--sample] [--own-handlers] [--threads N] "
                    "[--grab input|server]\n");
    return 64;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return Usage();
    }
    g_Prompt = argv[1];
    if (strcmp(g_Prompt, "warn-release") != 0 && strcmp(g_Prompt, "warn-debug") != 0 &&
        strcmp(g_Prompt, "break-release") != 0 && strcmp(g_Prompt, "warn-final") != 0) {
        return Usage();
    }
    bool ownHandlers = false;
    int threads = 1;
    const char *grab = nullptr;
    Append(u"Index out of range");
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
            for (int n = atoi(argv[++i]); n > 0; --n) {
                Append(u"\nanother line");
            }
        } else if (strcmp(argv[i], "--long") == 0) {
            Append(u": ");
            for (int n = 0; n < 35; ++n) {
                Append(u"seventeen letters ");
            }
        } else if (strcmp(argv[i], "--sample") == 0) {
            g_Length = 0;
            Append(
                u"Vertex buffer overflow: 65,536 vertices requested, 49,152 available.\n"
                u"Mesh \u201cD\u00fcrer fa\u00e7ade\u201d \u2014 \u03a9\u03bc\u03ad\u03b3\u03b1, "
                u"\u041f\u0440\u0438\u0432\u0435\u0442, 5 \u00d7 10\u207b\u00b3 m\u00b2, "
                u"beyond the BMP: \U0001F600. The renderer keeps drawing, but the mesh is "
                u"cut short and parts of it will be missing from the scene until it is "
                u"reloaded with a smaller level of detail.");
        } else if (strcmp(argv[i], "--own-handlers") == 0) {
            ownHandlers = true;
        } else if (strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = atoi(argv[++i]);
            if (threads < 1 || threads > 16) {
                return Usage();
            }
        } else if (strcmp(argv[i], "--grab") == 0 && i + 1 < argc) {
            grab = argv[++i];
        } else {
            return Usage();
        }
    }
    if (ownHandlers) {
        XSetErrorHandler(HostErrorHandler);
        XSetIOErrorHandler(HostIOErrorHandler);
    }

    Display *grabber = nullptr;
    if (grab != nullptr && (grabber = Grab(grab)) == nullptr) {
        fprintf(stderr, "kvz_x11_host: cannot grab %s\n", grab);
        return 70;
    }

    setvbuf(stdout, nullptr, _IOLBF, 0);
    pthread_t ids[16];
    for (int i = 0; i < threads; ++i) {
        if (pthread_create(&ids[i], nullptr, PromptThread, nullptr) != 0) {
            return 70;
        }
    }
    for (int i = 0; i < threads; ++i) {
        pthread_join(ids[i], nullptr);
    }

    if (grabber != nullptr) {
        XCloseDisplay(grabber);
    }
    if (ownHandlers) {
        const bool kept = XSetErrorHandler(nullptr) == HostErrorHandler &&
                          XSetIOErrorHandler(nullptr) == HostIOErrorHandler;
        printf("handlers=%s\n", kept ? "kept" : "changed");
    }
    return 0;
}
