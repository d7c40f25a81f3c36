// One box as screen readers see it, through AT-SPI2 on the accessibility bus: an
// application holding an alert named by the caption, which holds the text as a label and a
// push button per button.
//
// The presenter (X11, Wayland) starts it once the box is drawn and mapped, polls its
// descriptor beside its own, calls Turn on every turn of its loop and Activate once the box
// has the keyboard focus, and Close before it returns. Nothing here waits: the bus is found
// (AT_SPI_BUS_ADDRESS, the X11 root window's AT_SPI_BUS, then org.a11y.Bus on the session
// bus, never started for us), connected to through a relay of the box's own (BusRelay.h)
// and registered with in steps driven by Turn;
// what has not answered within kAccessibleDeadlineMs is given up and the box goes on
// without it. No bus at all costs nothing.
#pragma once

#include "KVZDebugLib/platform/dialog/BusRelay.h"
#include "KVZDebugLib/platform/dialog/DbusLibrary.h"
#include "KVZDebugLib/platform/dialog/DialogScene.h"

#include <poll.h>
#include <stdint.h>

namespace kvz::platform {

constexpr int kAccessibleDeadlineMs = 1500;

class AccessibleBox {
  public:
    AccessibleBox() = default;
    ~AccessibleBox() { Close(); }
    AccessibleBox(const AccessibleBox &) = delete;
    AccessibleBox &operator=(const AccessibleBox &) = delete;

    // Starts looking for the bus; rootAddress is the X11 root window's AT_SPI_BUS, or null.
    // The scene is read, never changed, while the box lives.
    void Start(const DialogScene &scene, const KVZChar *text, const KVZChar *caption,
               const char *rootAddress);
    // What to poll: fd -1 when there is nothing.
    pollfd PollFor() const;
    // Milliseconds until Turn is wanted whatever the descriptor does; -1 for never.
    int TimeoutMs() const;
    // Reads, answers and writes what it can without waiting, and sends the events the
    // scene's changes call for. Returns the answer of a button an assistive client
    // pressed, or 0.
    int32_t Turn();
    // The box has the keyboard focus: its window is announced (once).
    void Activate() { active_ = true; }
    // The box's top left on the screen, where the presenter knows it.
    void SetOrigin(int x, int y) {
        originX_ = x;
        originY_ = y;
    }
    // Announces the box's end and closes the connection (writing for a moment at most).
    void Close();
    bool Live() const { return stage_ == Stage::Live; }

  private:
    enum class Stage { Off, SessionHello, AskAddress, BusHello, Live };

    bool Open(const char *address);
    bool Ready() const;
    bool Pending() const;
    bool Pump();
    bool Call(DBusMessage *message, dbus_uint32_t *serial);
    bool SendHello(Stage next);
    void GiveUp();
    void OnReply(DBusMessage *message);
    void OnAddress(DBusMessage *message);
    void OnName(DBusMessage *message);
    void OnDesktop(DBusMessage *message);
    int32_t Drain();
    void Announce();
    void Retire();

    // AccessibleTree.cpp: the objects and their answers.
    int32_t Answer(DBusMessage *call);
    int ObjectAt(const char *path) const;
    bool AnswerAccessible(int object, const char *member, DBusMessage *call, DBusMessage *reply);
    bool AnswerProperty(int object, const char *interface, const char *name, DBusMessageIter *at);
    bool AnswerProperties(int object, const char *member, DBusMessage *call, DBusMessage *reply);
    bool AnswerComponent(int object, const char *member, DBusMessage *call, DBusMessage *reply);
    bool AnswerText(int object, const char *member, DBusMessage *call, DBusMessage *reply);
    int32_t AnswerAction(int object, const char *member, DBusMessage *call, DBusMessage *reply,
                         bool *known);
    void PutObject(DBusMessageIter *at, int object) const;
    void PutState(DBusMessageIter *at, int object) const;
    void PutInterfaces(DBusMessageIter *at, int object) const;
    int ChildCount(int object) const;
    static const char *PathOf(int object);
    Rect Extents(int object) const;

    // AccessibleEvents.cpp: the signals screen readers follow.
    void Emit(int object, const char *interface, const char *member, const char *detail,
              int32_t detail1, int child);
    void EmitState(int object, const char *state, bool on);

    const DbusFunctions *dbus_ = nullptr;
    const DialogScene *scene_ = nullptr;
    DBusConnection *conn_ = nullptr;
    BusRelay relay_; // what conn_ is connected to, and which reaches the bus
    Stage stage_ = Stage::Off;
    dbus_uint32_t awaited_ = 0; // the call whose answer moves to the next stage
    dbus_uint32_t embed_ = 0;
    int64_t deadline_ = 0;     // of setting up
    int64_t stalledSince_ = 0; // when the bus last stopped taking what is sent, or 0
    bool active_ = false;
    int announced_ = 0; // 1: added to the application; 2: its window announced too
    int focused_ = -1;  // the button announced as focused
    int originX_ = 0, originY_ = 0;

    char name_[256] = {};    // ours on the bus
    char desktop_[256] = {}; // the registry's, once it answers
    char desktopPath_[256] = {};
    char caption_[kMaxCaptionUnits * 3 + 1] = {};
    char text_[kMaxTextUnits * 3 + 1] = {};
    int textChars_ = 0;
};

} // namespace kvz::platform
