// The box's objects and what they answer: the application (root), the alert (1), the text
// as a label (2) and the buttons (3, 4). Every call gets an answer, an error for what is
// not known, so that no client waits on us.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include "KVZDebugLib/platform/dialog/AccessibleText.h"
#include "KVZDebugLib/platform/dialog/DbusWrite.h"

#include <string.h>

namespace kvz::platform {

namespace {

constexpr int kApplication = 0, kAlert = 1, kLabel = 2, kFirstButton = 3;

// Roles and states as AT-SPI numbers them.
constexpr uint32_t kRoles[] = {75, 2, 29, 43}; // application, alert, label, push button
const char *const kRoleNames[] = {"application", "alert", "label", "push button"};
constexpr int kActive = 1, kEnabled = 8, kFocusable = 11, kFocused = 12, kModal = 16,
              kMultiLine = 17, kSensitive = 24, kShowing = 25, kVisible = 30, kIsDefault = 39;

const char *const kAccessible = "org.a11y.atspi.Accessible";
const char *const kApplicationInterface = "org.a11y.atspi.Application";
const char *const kComponent = "org.a11y.atspi.Component";
const char *const kText = "org.a11y.atspi.Text";
const char *const kAction = "org.a11y.atspi.Action";
const char *const kProperties = "org.freedesktop.DBus.Properties";

bool Is(const char *a, const char *b) {
    return a != nullptr && strcmp(a, b) == 0;
}

int KindOf(int object) {
    return object < kFirstButton ? object : kFirstButton;
}

} // namespace

const char *AccessibleBox::PathOf(int object) {
    static const char *const kPaths[] = {
        "/org/a11y/atspi/accessible/root", "/org/a11y/atspi/accessible/1",
        "/org/a11y/atspi/accessible/2", "/org/a11y/atspi/accessible/3",
        "/org/a11y/atspi/accessible/4"};
    return kPaths[object];
}

int AccessibleBox::ObjectAt(const char *path) const {
    for (int object = 0; path != nullptr && object < kFirstButton + scene_->ButtonCount();
         ++object) {
        if (strcmp(path, PathOf(object)) == 0) {
            return object;
        }
    }
    return -1;
}

int AccessibleBox::ChildCount(int object) const {
    return object == kApplication ? 1 : object == kAlert ? 1 + scene_->ButtonCount() : 0;
}

void AccessibleBox::PutObject(DBusMessageIter *at, int object) const {
    if (object < 0) {
        PutRef({*dbus_, at}, "", "/org/a11y/atspi/null");
    } else {
        PutRef({*dbus_, at}, name_, PathOf(object));
    }
}

void AccessibleBox::PutState(DBusMessageIter *at, int object) const {
    uint32_t bits[2] = {};
    auto set = [&bits](int state) { bits[state / 32] |= 1u << (state % 32); };
    if (object != kApplication) {
        const int shown[] = {kEnabled, kSensitive, kShowing, kVisible};
        for (int state : shown) {
            set(state);
        }
    }
    if (object == kAlert) {
        set(kModal);
        if (active_) {
            set(kActive);
        }
    } else if (object == kLabel) {
        set(kMultiLine);
    } else if (object >= kFirstButton) {
        set(kFocusable);
        if (object - kFirstButton == scene_->Focused()) {
            set(kFocused);
        }
        if (scene_->ButtonAnswer(object - kFirstButton) == kBoxOk) {
            set(kIsDefault);
        }
    }
    DBusMessageIter array;
    OpenIn({*dbus_, at}, DBUS_TYPE_ARRAY, "u", &array);
    PutUint({*dbus_, &array}, bits[0]);
    PutUint({*dbus_, &array}, bits[1]);
    CloseIn({*dbus_, at}, &array);
}

void AccessibleBox::PutInterfaces(DBusMessageIter *at, int object) const {
    static const char *const kLists[][3] = {{kAccessible, kApplicationInterface, nullptr},
                                            {kAccessible, kComponent, nullptr},
                                            {kAccessible, kComponent, kText},
                                            {kAccessible, kComponent, kAction}};
    DBusMessageIter array;
    OpenIn({*dbus_, at}, DBUS_TYPE_ARRAY, "s", &array);
    for (const char *name : kLists[KindOf(object)]) {
        if (name != nullptr) {
            PutString({*dbus_, &array}, name);
        }
    }
    CloseIn({*dbus_, at}, &array);
}

// The box's parts in window coordinates; the alert is the whole box.
Rect AccessibleBox::Extents(int object) const {
    const DialogGeometry &box = scene_->Geometry();
    if (object >= kFirstButton) {
        return scene_->ButtonBox(object - kFirstButton);
    }
    if (object == kLabel) {
        const int top = scene_->CaptionHeight();
        return Rect{0, top, box.window.width, box.bandTop - top};
    }
    return Rect{0, 0, box.window.width, box.window.height};
}

// Returns the answer of a button pressed through DoAction, or 0.
int32_t AccessibleBox::Answer(DBusMessage *call) {
    const char *interface = dbus_->dbus_message_get_interface(call);
    const char *member = dbus_->dbus_message_get_member(call);
    const char *path = dbus_->dbus_message_get_path(call);
    const int object = ObjectAt(path);
    DBusMessage *reply = dbus_->dbus_message_new_method_return(call);
    if (reply == nullptr) {
        return 0;
    }
    bool known = false;
    if (Is(path, "/org/a11y/atspi/cache") && Is(member, "GetItems")) {
        // No cache: clients ask each object, which stays right as the focus moves.
        DBusMessageIter out;
        dbus_->dbus_message_iter_init_append(reply, &out);
        PutEmptyArray({*dbus_, &out}, "((so)(so)(so)iiassusau)");
        known = true;
    }
    int32_t answer = 0;
    const int kind = object < 0 ? -1 : KindOf(object);
    if (known || object < 0 || member == nullptr) {
    } else if (Is(interface, kProperties)) {
        known = AnswerProperties(object, member, call, reply);
    } else if (interface == nullptr || Is(interface, kAccessible)) {
        known = AnswerAccessible(object, member, call, reply);
    } else if (Is(interface, kComponent) && kind != kApplication) {
        known = AnswerComponent(object, member, call, reply);
    } else if (Is(interface, kText) && kind == kLabel) {
        known = AnswerText(object, member, call, reply);
    } else if (Is(interface, kAction) && kind == kFirstButton) {
        answer = AnswerAction(object, member, call, reply, &known);
    } else if (Is(interface, kApplicationInterface) && kind == kApplication &&
               (Is(member, "GetLocale") || Is(member, "GetApplicationBusAddress"))) {
        DBusMessageIter out;
        dbus_->dbus_message_iter_init_append(reply, &out);
        PutString({*dbus_, &out}, ""); // no bus of its own: clients use this one
        known = true;
    }
    if (!known) {
        dbus_->dbus_message_unref(reply);
        reply = dbus_->dbus_message_new_error(
            call, object < 0 ? DBUS_ERROR_UNKNOWN_OBJECT : DBUS_ERROR_UNKNOWN_METHOD,
            "Not offered by this object");
    }
    if (reply != nullptr) {
        if (!dbus_->dbus_message_get_no_reply(call)) {
            dbus_->dbus_connection_send(conn_, reply, nullptr);
        }
        dbus_->dbus_message_unref(reply);
    }
    return answer;
}

bool AccessibleBox::AnswerAccessible(int object, const char *member, DBusMessage *call,
                                     DBusMessage *reply) {
    DBusMessageIter out, array;
    dbus_->dbus_message_iter_init_append(reply, &out);
    const DbusWriter put = {*dbus_, &out};
    const int kind = KindOf(object);
    if (Is(member, "GetChildAtIndex")) {
        int32_t index = -1;
        ReadInts(*dbus_, call, &index, 1);
        const bool inside = index >= 0 && index < ChildCount(object);
        PutObject(&out, !inside ? -1 : object == kApplication ? kAlert : kLabel + index);
    } else if (Is(member, "GetChildren")) {
        OpenIn(put, DBUS_TYPE_ARRAY, "(so)", &array);
        for (int i = 0; i < ChildCount(object); ++i) {
            PutObject(&array, object == kApplication ? kAlert : kLabel + i);
        }
        CloseIn(put, &array);
    } else if (Is(member, "GetIndexInParent")) {
        PutInt(put, object == kApplication ? -1 : object <= kLabel ? 0 : object - kLabel);
    } else if (Is(member, "GetRelationSet")) {
        PutEmptyArray(put, "(ua(so))");
    } else if (Is(member, "GetRole")) {
        PutUint(put, kRoles[kind]);
    } else if (Is(member, "GetRoleName") || Is(member, "GetLocalizedRoleName")) {
        PutString(put, kRoleNames[kind]);
    } else if (Is(member, "GetState")) {
        PutState(&out, object);
    } else if (Is(member, "GetAttributes")) {
        PutEmptyArray(put, "{ss}");
    } else if (Is(member, "GetApplication")) {
        PutObject(&out, kApplication);
    } else if (Is(member, "GetInterfaces")) {
        PutInterfaces(&out, object);
    } else {
        return false;
    }
    return true;
}

} // namespace kvz::platform
