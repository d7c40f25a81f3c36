// The events screen readers follow, in the order they need them: the alert added to the
// application, its window created and activated once the box has the keyboard focus, the
// focused button, focus moves; and at the end the window deactivated and destroyed and the
// alert removed.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include "KVZDebugLib/platform/dialog/DbusWrite.h"

namespace kvz::platform {

namespace {

constexpr int kApplication = 0;
constexpr int kAlert = 1;
constexpr int kFirstButton = 3;

const char *const kObjectEvents = "org.a11y.atspi.Event.Object";
const char *const kWindowEvents = "org.a11y.atspi.Event.Window";

} // namespace

// One event: detail, detail1, detail2 (0), the child concerned as a reference or else 0,
// and no properties.
void AccessibleBox::Emit(int object, const char *interface, const char *member, const char *detail,
                         int32_t detail1, int child) {
    DBusMessage *signal = dbus_->dbus_message_new_signal(PathOf(object), interface, member);
    if (signal == nullptr) {
        return;
    }
    DBusMessageIter args, variant;
    dbus_->dbus_message_iter_init_append(signal, &args);
    const DbusWriter out = {*dbus_, &args};
    PutString(out, detail);
    PutInt(out, detail1);
    PutInt(out, 0);
    OpenIn(out, DBUS_TYPE_VARIANT, child >= 0 ? "(so)" : "i", &variant);
    if (child >= 0) {
        PutRef({*dbus_, &variant}, name_, PathOf(child));
    } else {
        PutInt({*dbus_, &variant}, 0);
    }
    CloseIn(out, &variant);
    PutEmptyArray(out, "{sv}");
    dbus_->dbus_connection_send(conn_, signal, nullptr);
    dbus_->dbus_message_unref(signal);
}

void AccessibleBox::EmitState(int object, const char *state, bool on) {
    Emit(object, kObjectEvents, "StateChanged", state, on ? 1 : 0, -1);
}

// Called on every turn once registered: says what is new since the last.
void AccessibleBox::Announce() {
    if (announced_ == 0) {
        Emit(kApplication, kObjectEvents, "ChildrenChanged", "add", 0, kAlert);
        announced_ = 1;
    }
    if (!active_) {
        return;
    }
    const int focused = scene_->ButtonCount() > 0 ? scene_->Focused() : -1;
    if (announced_ == 1) {
        Emit(kAlert, kWindowEvents, "Create", "", 0, -1);
        Emit(kAlert, kWindowEvents, "Activate", "", 0, -1);
        EmitState(kAlert, "active", true);
        if (focused >= 0) {
            EmitState(kFirstButton + focused, "focused", true);
        }
        announced_ = 2;
    } else if (focused != focused_ && focused >= 0 && focused_ >= 0) {
        EmitState(kFirstButton + focused_, "focused", false);
        EmitState(kFirstButton + focused, "focused", true);
    }
    focused_ = focused;
}

void AccessibleBox::Retire() {
    if (announced_ == 2) {
        EmitState(kAlert, "active", false);
        Emit(kAlert, kWindowEvents, "Deactivate", "", 0, -1);
        Emit(kAlert, kWindowEvents, "Destroy", "", 0, -1);
    }
    Emit(kApplication, kObjectEvents, "ChildrenChanged", "remove", 0, kAlert);
    announced_ = 0;
}

} // namespace kvz::platform
