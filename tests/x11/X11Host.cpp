// A host for the desktop boxes' tests: it calls one prompt, prints "result=N" and exits.
// The box is answered from outside, by x11-dialog.sh or wayland-box.sh.
//
//   kvz_x11_host PROMPT [--lines N] [--short-lines N] [--long] [--sample]
//                       [--script NAME [--replaced]]
//                       [--own-handlers] [--check-process] [--threads N] [--grab input|server]
//
// PROMPT is warn-release, warn-debug, break-release or warn-final; the host prints
// "called=MS" (the real-time clock in milliseconds) as it calls it, and "returned=MS" after
// its result. --lines adds N line feeds to the detail, --short-lines makes it N lines of
// one letter each, --long a paragraph of about 700 characters with no line feed, --sample
// the text of the screenshot. --script shows a text in other scripts (cjk, rtl, marks, astral,
// arabic, arabic-forms, arabic-apart, devanagari, devanagari-apart, mixed); with --replaced, each
// of its characters beyond ASCII is U+FFFD instead and each combining mark is left out, for a
// picture to compare with. --check-process sets a locale first and afterwards prints whether the
// locale, the signal dispositions and this thread's signal mask are as they were. --own-handlers
// installs X error handlers of the host's own first and afterwards prints whether they are still
// the ones installed.
// --threads calls the prompt on N threads at once (at most 16), each printing its own
// result (and "errno=N" after it, should the prompt return with errno changed). --grab holds a grab
// on a connection of the host's own while the prompt is up: of the keyboard and the pointer (as an
// open menu does), or of the whole server.
#include "KVZDebugLib/KVZDebugLib.h"

#include <X11/Xlib.h>

#include <errno.h>
#include <locale.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

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

struct Script {
    const char *name;
    const char16_t *text;
};
const Script kScripts[] = {
    {"cjk", u"\u6771\u4eac\u90fd\u65b0\u5bbf\u533a\u306e\u30d5\u30a1\u30a4\u30eb\u300c\u8a2d\u5b9a"
            u"\u300d\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3002 "
            u"\uc11c\uc6b8 \ud55c\uad6d\uc5b4 \u6587\u5b57"},
    {"rtl", u"\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd 2024 "
            u"\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645"},
    {"marks", u"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"
              u"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"
              u"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"
              u"a\u0308a\u0308a\u0308a\u0308a\u0308a\u0308a\u0308a\u0308a\u0308a\u0308"
              u"a\u0308a\u0308a\u0308a\u0308a\u0308n\u0303n\u0303n\u0303n\u0303n\u0303"
              u"n\u0303n\u0303n\u0303n\u0303n\u0303n\u0303n\u0303n\u0303n\u0303n\u0303"},
    {"astral", u"\U0001F600\U0001F680\U0001F4A5 \U0001D400\U0001D401\U0001D402 \U0001F600"},
    // "Hello world" in Arabic; the same in its presentation forms, as joined; and its letters
    // kept apart by zero-width non-joiners.
    {"arabic", u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645"},
    {"arabic-forms", u"\uFEE3\uFEAE\uFEA3\uFE92\uFE8E \uFE91\uFE8E\uFEDF\uFECC\uFE8E\uFEDF\uFEE2"},
    {"arabic-apart", u"\u0645\u200C\u0631\u200C\u062D\u200C\u0628\u200C\u0627 "
                     u"\u0628\u200C\u0627\u200C\u0644\u200C\u0639\u200C\u0627\u200C\u0644\u200C"
                     u"\u0645"},
    // Devanagari with the conjunct kssa (ka, virama, ssa) and vowel signs.
    {"devanagari", u"\u0915\u094D\u0937\u092E\u093E \u0915\u0930\u0947\u0902 "
                   u"\u0936\u094D\u0930\u0940 \u0926\u094D\u0935\u093E\u0930"},
    // The same with a zero-width non-joiner after each virama: its letters apart.
    {"devanagari-apart", u"\u0915\u094D\u200C\u0937\u092E\u093E \u0915\u0930\u0947\u0902 "
                         u"\u0936\u094D\u200C\u0930\u0940 \u0926\u094D\u200C\u0935\u093E\u0930"},
    // Mixed directions: a path, numbers and brackets inside Hebrew and Arabic text.
    {"mixed",
     u"\u05D4\u05E7\u05D5\u05D1\u05E5 C:/src/render/Mesh.cpp "
     u"(\u05E9\u05D5\u05E8\u05D4 217) \u05D7\u05E1\u05E8 3 \u05E4\u05E2\u05DE\u05D9\u05DD.\n"
     u"\u0627\u0644\u0645\u0644\u0641 [Mesh.cpp] \u064A\u062D\u062A\u0648\u064A "
     u"65,536 \u0631\u0623\u0633\u064B\u0627 (49,152 \u0645\u062A\u0627\u062D\u0629).\n"
     u"Left to right: \u05E9\u05DC\u05D5\u05DD (\u05E2\u05D5\u05DC\u05DD) 2024."},
};

// Appends a script's text, or with `replaced` the text to compare it with.
bool AppendScript(const char *name, bool replaced) {
    for (const Script &script : kScripts) {
        if (strcmp(script.name, name) != 0) {
            continue;
        }
        Append(u"\n");
        for (const char16_t *at = script.text; *at != 0; ++at) {
            const bool mark = *at >= 0x300 && *at <= 0x36F;
            const bool low = *at >= 0xDC00 && *at <= 0xDFFF;
            const KVZChar one[2] = {replaced && *at > 0x7F ? u'\uFFFD' : *at, 0};
            if (!(replaced && (mark || low))) {
                Append(one);
            }
        }
        return true;
    }
    return false;
}

// What the library must leave as it found it: the locale, every signal's disposition and
// the calling thread's signal mask.
struct ProcessState {
    char locale[256];
    struct sigaction actions[NSIG];
    sigset_t mask;
};

void Capture(ProcessState &state) {
    memset(&state, 0, sizeof state);
    snprintf(state.locale, sizeof state.locale, "%s", setlocale(LC_ALL, nullptr));
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, nullptr, &state.actions[signal]);
    }
    pthread_sigmask(SIG_SETMASK, nullptr, &state.mask);
}

bool SameState(const ProcessState &before, const ProcessState &after) {
    bool same = strcmp(before.locale, after.locale) == 0;
    for (int signal = 1; signal < NSIG; ++signal) {
        same = same && before.actions[signal].sa_handler == after.actions[signal].sa_handler &&
               before.actions[signal].sa_flags == after.actions[signal].sa_flags;
    }
    for (int signal = 1; signal < NSIG; ++signal) {
        same = same && sigismember(&before.mask, signal) == sigismember(&after.mask, signal);
    }
    return same;
}

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

// Each prompt is called with errno set to a value of the host's own; a prompt that returns
// with another prints it after its result.
long long NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void *PromptThread(void *) {
    printf("called=%lld\n", NowMs());
    errno = 4242;
    const int32_t result = CallPrompt();
    const int after = errno;
    printf("result=%d\nreturned=%lld\n", static_cast<int>(result), NowMs());
    if (after != 4242) {
        printf("errno=%d\n", after);
    }
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
    fprintf(stderr,
            "usage: kvz_x11_host warn-release|warn-debug|break-release|warn-final "
            "[--lines N] [--short-lines N] [--long] [--sample] [--script NAME [--replaced]] "
            "[--own-handlers] [--check-process] [--threads N] "
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
    bool ownHandlers = false, checkProcess = false;
    int threads = 1;
    const char *grab = nullptr;
    Append(u"Index out of range");
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
            for (int n = atoi(argv[++i]); n > 0; --n) {
                Append(u"\nanother line");
            }
        } else if (strcmp(argv[i], "--short-lines") == 0 && i + 1 < argc) {
            g_Length = 0;
            for (int n = 0, lines = atoi(argv[++i]); n < lines; ++n) {
                const KVZChar line[3] = {u'\n', static_cast<KVZChar>(u'a' + n % 26), 0};
                Append(n > 0 ? line : line + 1);
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
                u"beyond the BMP: \U0001F600.\n"
                u"Asset: C:/\u30d7\u30ed\u30b8\u30a7\u30af\u30c8/\u63cf\u753b/"
                u"\u30e1\u30c3\u30b7\u30e5.cpp, \uc11c\uc6b8, \u05e9\u05dc\u05d5\u05dd, "
                u"\u0645\u0631\u062d\u0628\u0627, cafe\u0301.\n"
                u"The renderer keeps drawing, but the mesh is "
                u"cut short and parts of it will be missing from the scene until it is "
                u"reloaded with a smaller level of detail.");
        } else if (strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
            const char *name = argv[++i];
            const bool replaced = i + 1 < argc && strcmp(argv[i + 1], "--replaced") == 0;
            i += replaced ? 1 : 0;
            if (!AppendScript(name, replaced)) {
                return Usage();
            }
        } else if (strcmp(argv[i], "--check-process") == 0) {
            checkProcess = true;
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
    ProcessState before;
    if (checkProcess) {
        // A locale other than the "C" every process starts in, as a host would set.
        if (setlocale(LC_ALL, "C.UTF-8") == nullptr) {
            fprintf(stderr, "kvz_x11_host: no C.UTF-8 locale\n");
            return 70;
        }
        signal(SIGUSR1, SIG_IGN); // a disposition of the host's own
        Capture(before);
    }
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
    if (checkProcess) {
        ProcessState after;
        Capture(after);
        printf("process=%s\n", SameState(before, after) ? "kept" : "changed");
    }
    if (ownHandlers) {
        const bool kept = XSetErrorHandler(nullptr) == HostErrorHandler &&
                          XSetIOErrorHandler(nullptr) == HostIOErrorHandler;
        printf("handlers=%s\n", kept ? "kept" : "changed");
    }
    return 0;
}
