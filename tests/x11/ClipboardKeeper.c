/* A clipboard manager for the tests, as the freedesktop convention has one: it owns
 * CLIPBOARD_MANAGER; asked to convert SAVE_TARGETS, it takes the clipboard's UTF8_STRING
 * from its owner, answers, and from then on owns CLIPBOARD and serves that text itself.
 * Prints "ready" once it is the manager; runs until killed.
 *
 *   kvz_x11_keeper
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static Display *g_Display;
static Window g_Window;
static Atom g_Clipboard, g_Manager, g_Save, g_Utf8, g_Targets, g_Kept;
static unsigned char *g_Text;
static unsigned long g_Length;

/* Fetches the clipboard's text from its owner into g_Text; 0 when it cannot. */
static int Fetch(Time time) {
    XConvertSelection(g_Display, g_Clipboard, g_Utf8, g_Kept, g_Window, time);
    XEvent event;
    do {
        XNextEvent(g_Display, &event);
    } while (event.type != SelectionNotify);
    if (event.xselection.property == None) {
        return 0;
    }
    Atom type;
    int format;
    unsigned long after;
    XFree(g_Text);
    g_Text = NULL;
    return XGetWindowProperty(g_Display, g_Window, g_Kept, 0, 1 << 20, True, g_Utf8, &type, &format,
                              &g_Length, &after, &g_Text) == Success &&
           g_Text != NULL;
}

static void Reply(const XSelectionRequestEvent *request, Atom property) {
    XEvent reply;
    memset(&reply, 0, sizeof reply);
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request->requestor;
    reply.xselection.selection = request->selection;
    reply.xselection.target = request->target;
    reply.xselection.time = request->time;
    reply.xselection.property = property;
    XSendEvent(g_Display, request->requestor, False, NoEventMask, &reply);
}

static void OnRequest(const XSelectionRequestEvent *request) {
    Atom property = request->property != None ? request->property : request->target;
    if (request->selection == g_Manager && request->target == g_Save) {
        const int kept = Fetch(request->time);
        if (kept) {
            XSetSelectionOwner(g_Display, g_Clipboard, g_Window, CurrentTime);
        }
        Reply(request, kept ? property : None);
    } else if (request->selection == g_Clipboard && g_Text != NULL && request->target == g_Utf8) {
        XChangeProperty(g_Display, request->requestor, property, g_Utf8, 8, PropModeReplace, g_Text,
                        (int)g_Length);
        Reply(request, property);
    } else if (request->selection == g_Clipboard && g_Text != NULL &&
               request->target == g_Targets) {
        long targets[] = {(long)g_Targets, (long)g_Utf8};
        XChangeProperty(g_Display, request->requestor, property, XA_ATOM, 32, PropModeReplace,
                        (unsigned char *)targets, 2);
        Reply(request, property);
    } else {
        Reply(request, None);
    }
}

int main(void) {
    g_Display = XOpenDisplay(NULL);
    if (g_Display == NULL) {
        fprintf(stderr, "kvz_x11_keeper: cannot open the display\n");
        return 1;
    }
    g_Window = XCreateSimpleWindow(g_Display, DefaultRootWindow(g_Display), 0, 0, 1, 1, 0, 0, 0);
    g_Clipboard = XInternAtom(g_Display, "CLIPBOARD", False);
    g_Manager = XInternAtom(g_Display, "CLIPBOARD_MANAGER", False);
    g_Save = XInternAtom(g_Display, "SAVE_TARGETS", False);
    g_Utf8 = XInternAtom(g_Display, "UTF8_STRING", False);
    g_Targets = XInternAtom(g_Display, "TARGETS", False);
    g_Kept = XInternAtom(g_Display, "KVZ_KEPT", False);
    XSetSelectionOwner(g_Display, g_Manager, g_Window, CurrentTime);
    if (XGetSelectionOwner(g_Display, g_Manager) != g_Window) {
        fprintf(stderr, "kvz_x11_keeper: cannot own CLIPBOARD_MANAGER\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(g_Display, &event);
        if (event.type == SelectionRequest) {
            OnRequest(&event.xselectionrequest);
        }
    }
}
