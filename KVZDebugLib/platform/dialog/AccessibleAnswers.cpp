// The answers of the interfaces beyond Accessible: Properties, Component, Text and Action.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include "KVZDebugLib/platform/dialog/AccessibleText.h"
#include "KVZDebugLib/platform/dialog/DbusWrite.h"

#include <errno.h>
#include <string.h>

namespace kvz::platform {

namespace {

constexpr int kApplication = 0, kAlert = 1, kLabel = 2, kFirstButton = 3;
constexpr int kScreenCoordinates = 0, kWindowCoordinates = 1;
constexpr uint32_t kLayerWidget = 3, kLayerWindow = 7;

bool Is(const char *a, const char *b) {
    return a != nullptr && strcmp(a, b) == 0;
}

// The program's name, when libdbus would take it.
const char *ProgramName(const DbusFunctions &dbus) {
    const char *name = program_invocation_short_name;
    return name != nullptr && dbus.dbus_validate_utf8(name, nullptr) ? name : "";
}

} // namespace

// Appends the property as a variant; false when the object has no such property.
bool AccessibleBox::AnswerProperty(int object, const char *interface, const char *name,
                                   DBusMessageIter *at) {
    DBusMessageIter v;
    const DbusWriter out = {*dbus_, at};
    const DbusWriter in = {*dbus_, &v};
    const bool accessible = Is(interface, "org.a11y.atspi.Accessible");
    if (accessible && Is(name, "Name")) {
        const char *names[] = {ProgramName(*dbus_), caption_, text_};
        OpenIn(out, DBUS_TYPE_VARIANT, "s", &v);
        PutString(in, object < kFirstButton ? names[object]
                                            : scene_->ButtonLabel(object - kFirstButton));
    } else if (accessible && (Is(name, "Description") || Is(name, "Locale") ||
                              Is(name, "AccessibleId") || Is(name, "HelpText"))) {
        OpenIn(out, DBUS_TYPE_VARIANT, "s", &v);
        PutString(in, "");
    } else if (accessible && Is(name, "Parent")) {
        OpenIn(out, DBUS_TYPE_VARIANT, "(so)", &v);
        if (object != kApplication) {
            PutObject(&v, object == kAlert ? kApplication : kAlert);
        } else if (desktop_[0] != 0) {
            PutRef(in, desktop_, desktopPath_);
        } else {
            PutRef(in, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root");
        }
    } else if (accessible && Is(name, "ChildCount")) {
        OpenIn(out, DBUS_TYPE_VARIANT, "i", &v);
        PutInt(in, ChildCount(object));
    } else if (object == kApplication && Is(interface, "org.a11y.atspi.Application") &&
               (Is(name, "ToolkitName") || Is(name, "Version") || Is(name, "AtspiVersion"))) {
        OpenIn(out, DBUS_TYPE_VARIANT, "s", &v);
        PutString(in, Is(name, "ToolkitName") ? "KVZDebugLib" : Is(name, "Version") ? "1" : "2.1");
    } else if (object == kApplication && Is(interface, "org.a11y.atspi.Application") &&
               Is(name, "Id")) {
        OpenIn(out, DBUS_TYPE_VARIANT, "i", &v);
        PutInt(in, 0);
    } else if (object >= kFirstButton && Is(interface, "org.a11y.atspi.Action") &&
               Is(name, "NActions")) {
        OpenIn(out, DBUS_TYPE_VARIANT, "i", &v);
        PutInt(in, 1);
    } else if (object == kLabel && Is(interface, "org.a11y.atspi.Text") &&
               (Is(name, "CharacterCount") || Is(name, "CaretOffset"))) {
        OpenIn(out, DBUS_TYPE_VARIANT, "i", &v);
        PutInt(in, Is(name, "CharacterCount") ? textChars_ : 0);
    } else {
        return false;
    }
    CloseIn(out, &v);
    return true;
}

bool AccessibleBox::AnswerProperties(int object, const char *member, DBusMessage *call,
                                     DBusMessage *reply) {
    // Each interface's properties, for GetAll; those of an interface the object does not
    // offer are not given.
    static const char *const kAccessibleNames[] = {"Name",       "Description", "Parent",
                                                   "ChildCount", "Locale",      "AccessibleId"};
    static const char *const kOtherNames[] = {"ToolkitName", "Version",        "AtspiVersion", "Id",
                                              "NActions",    "CharacterCount", "CaretOffset"};
    const char *interface = ReadString(*dbus_, call, 0);
    DBusMessageIter out, array, entry;
    dbus_->dbus_message_iter_init_append(reply, &out);
    if (Is(member, "Set")) {
        return true; // the registry may number the application; nothing here changes
    }
    if (Is(member, "Get")) {
        return AnswerProperty(object, interface, ReadString(*dbus_, call, 1), &out);
    }
    if (!Is(member, "GetAll")) {
        return false;
    }
    DBusMessageIter scratch;
    DBusMessage *trial = dbus_->dbus_message_new_method_return(call);
    OpenIn({*dbus_, &out}, DBUS_TYPE_ARRAY, "{sv}", &array);
    const bool accessible = Is(interface, "org.a11y.atspi.Accessible");
    const char *const *names = accessible ? kAccessibleNames : kOtherNames;
    const int count = accessible ? 6 : 7;
    for (int i = 0; i < count && trial != nullptr; ++i) {
        const char *name = names[i];
        // Tried on a message of its own first: an entry once opened must get its value.
        dbus_->dbus_message_iter_init_append(trial, &scratch);
        if (!AnswerProperty(object, interface, name, &scratch)) {
            continue;
        }
        OpenIn({*dbus_, &array}, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        PutString({*dbus_, &entry}, name);
        AnswerProperty(object, interface, name, &entry);
        CloseIn({*dbus_, &array}, &entry);
    }
    CloseIn({*dbus_, &out}, &array);
    if (trial != nullptr) {
        dbus_->dbus_message_unref(trial);
    }
    return true;
}

bool AccessibleBox::AnswerComponent(int object, const char *member, DBusMessage *call,
                                    DBusMessage *reply) {
    int32_t args[3] = {0, 0, kScreenCoordinates};
    const bool extents = Is(member, "GetExtents") || Is(member, "GetPosition");
    const int coordinates = extents ? (ReadInts(*dbus_, call, args + 2, 1), args[2])
                                    : (ReadInts(*dbus_, call, args, 3), args[2]);
    Rect box = Extents(object);
    if (coordinates != kWindowCoordinates &&
        (coordinates == kScreenCoordinates || object == kAlert)) {
        box.x += originX_;
        box.y += originY_;
    }
    DBusMessageIter out, s;
    dbus_->dbus_message_iter_init_append(reply, &out);
    const DbusWriter put = {*dbus_, &out};
    if (Is(member, "GetExtents")) {
        OpenIn(put, DBUS_TYPE_STRUCT, nullptr, &s);
        const int values[] = {box.x, box.y, box.width, box.height};
        for (int value : values) {
            PutInt({*dbus_, &s}, value);
        }
        CloseIn(put, &s);
    } else if (Is(member, "GetPosition") || Is(member, "GetSize")) {
        const bool size = Is(member, "GetSize");
        PutInt(put, size ? box.width : box.x);
        PutInt(put, size ? box.height : box.y);
    } else if (Is(member, "Contains")) {
        PutBool(put, args[0] >= box.x && args[0] < box.x + box.width && args[1] >= box.y &&
                         args[1] < box.y + box.height);
    } else if (Is(member, "GetLayer")) {
        PutUint(put, object == kAlert ? kLayerWindow : kLayerWidget);
    } else if (Is(member, "GrabFocus")) {
        PutBool(put, false);
    } else {
        return false;
    }
    return true;
}

bool AccessibleBox::AnswerText(int /*object*/, const char *member, DBusMessage *call,
                               DBusMessage *reply) {
    int32_t args[2] = {0, -1};
    ReadInts(*dbus_, call, args, 2);
    DBusMessageIter out;
    dbus_->dbus_message_iter_init_append(reply, &out);
    const DbusWriter put = {*dbus_, &out};
    char slice[sizeof text_];
    if (Is(member, "GetText")) {
        Utf8Slice(text_, textChars_, args[0], args[1], slice, sizeof slice);
        PutString(put, slice);
    } else if (Is(member, "GetTextAtOffset") || Is(member, "GetStringAtOffset")) {
        // A character for the character boundary; the whole text for every other.
        const bool one = args[1] == 0 && args[0] >= 0 && args[0] < textChars_;
        const int start = one ? args[0] : 0, end = one ? args[0] + 1 : textChars_;
        Utf8Slice(text_, textChars_, start, end, slice, sizeof slice);
        PutString(put, slice);
        PutInt(put, start);
        PutInt(put, end);
    } else if (Is(member, "GetCharacterAtOffset")) {
        PutInt(put, static_cast<int32_t>(Utf8At(text_, textChars_, args[0])));
    } else if (Is(member, "GetCaretOffset") || Is(member, "GetNSelections")) {
        PutInt(put, 0);
    } else if (Is(member, "GetAttributes") || Is(member, "GetAttributeRun")) {
        PutEmptyArray(put, "{ss}");
        PutInt(put, 0);
        PutInt(put, textChars_);
    } else if (Is(member, "GetDefaultAttributes") || Is(member, "GetDefaultAttributeSet")) {
        PutEmptyArray(put, "{ss}");
    } else if (Is(member, "SetCaretOffset")) {
        PutBool(put, false);
    } else {
        return false;
    }
    return true;
}

// DoAction answers the box as a click on the button would: the answer is returned.
int32_t AccessibleBox::AnswerAction(int object, const char *member, DBusMessage *call,
                                    DBusMessage *reply, bool *known) {
    int32_t index = -1;
    ReadInts(*dbus_, call, &index, 1);
    DBusMessageIter out, array, entry;
    dbus_->dbus_message_iter_init_append(reply, &out);
    const DbusWriter put = {*dbus_, &out};
    *known = true;
    if (Is(member, "DoAction")) {
        PutBool(put, index == 0);
        return index == 0 ? scene_->ButtonAnswer(object - kFirstButton) : 0;
    }
    if (Is(member, "GetName") || Is(member, "GetLocalizedName")) {
        PutString(put, index == 0 ? "click" : "");
    } else if (Is(member, "GetDescription") || Is(member, "GetKeyBinding")) {
        PutString(put, "");
    } else if (Is(member, "GetActions")) {
        OpenIn(put, DBUS_TYPE_ARRAY, "(sss)", &array);
        OpenIn({*dbus_, &array}, DBUS_TYPE_STRUCT, nullptr, &entry);
        const char *const texts[] = {"click", "", ""};
        for (const char *text : texts) {
            PutString({*dbus_, &entry}, text);
        }
        CloseIn({*dbus_, &array}, &entry);
        CloseIn(put, &array);
    } else {
        *known = false;
    }
    return 0;
}

} // namespace kvz::platform
