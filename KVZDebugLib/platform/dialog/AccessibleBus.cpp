// Finding the accessibility bus, connecting and registering, each step sent and its answer
// picked up by a later Turn: libdbus never waits here. Replies are matched by serial as
// messages are popped, so no pending call outlives the connection.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include "KVZDebugLib/platform/dialog/DbusWrite.h"
#include "KVZDebugLib/platform/posix/BoxWait.h"

#include <stdlib.h>
#include <string.h>

namespace kvz::platform {

namespace {

// How long a closing box gives the bus to take its last events.
constexpr int kFarewellMs = 200;
// How often a bus whose queue of connections was full is tried again.
constexpr int kRetryMs = 20;

const char *const kRootPath = "/org/a11y/atspi/accessible/root";

// Only one local socket: other transports may resolve names or start programs
// (autolaunch:), and either could wait or leave a process behind.
bool AddressUsable(const DbusFunctions &dbus, const char *address) {
    return address != nullptr && strncmp(address, "unix:", 5) == 0 &&
           strchr(address, ';') == nullptr && strlen(address) <= 1024 &&
           dbus.dbus_validate_utf8(address, nullptr);
}

// Copies a name libdbus handed over (valid UTF-8 already) when it fits.
void Keep(const char *from, char *to, size_t capacity) {
    if (from != nullptr && strlen(from) < capacity) {
        memcpy(to, from, strlen(from) + 1);
    }
}

} // namespace

void AccessibleBox::Start(const DialogScene &scene, const KVZChar *text, const KVZChar *caption,
                          const char *rootAddress) {
    scene_ = &scene;
    SafeUtf8(caption, kMaxCaptionUnits, caption_, sizeof caption_);
    textChars_ = SafeUtf8(text, kMaxTextUnits, text_, sizeof text_);
    dbus_ = LoadDbus();
    if (dbus_ == nullptr) {
        return;
    }
    deadline_ = MonotonicMs() + kAccessibleDeadlineMs;
    // The accessibility bus itself when it is named (by the environment, or on X11 by the
    // root window); else the session bus, to ask for it.
    const char *own = getenv("AT_SPI_BUS_ADDRESS");
    if ((AddressUsable(*dbus_, own) && Open(own)) ||
        (AddressUsable(*dbus_, rootAddress) && Open(rootAddress))) {
        SendHello(Stage::BusHello);
    } else if (Open(getenv("DBUS_SESSION_BUS_ADDRESS"))) {
        SendHello(Stage::SessionHello);
    }
}

// libdbus is given the relay's socket, never the bus's (BusRelay.h).
bool AccessibleBox::Open(const char *address) {
    if (!AddressUsable(*dbus_, address) || !RelayOpen(relay_, address)) {
        return false;
    }
    DBusError error;
    dbus_->dbus_error_init(&error);
    conn_ = dbus_->dbus_connection_open_private(relay_.address, &error);
    dbus_->dbus_error_free(&error);
    if (conn_ != nullptr) {
        dbus_->dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    }
    if (conn_ == nullptr || !RelayAccept(relay_)) {
        GiveUp();
        return false;
    }
    // libdbus starts authenticating only when first driven.
    dbus_->dbus_connection_read_write(conn_, 0);
    return Pump();
}

// libdbus has work no event on the bus's descriptor would announce: bytes to read, on its
// socket or still in the relay, or messages to write (a few kilobytes a turn) that the relay
// has room for.
bool AccessibleBox::Ready() const {
    int fd = -1;
    pollfd unread = {-1, POLLIN, 0};
    if (dbus_->dbus_connection_get_socket(conn_, &fd)) {
        unread.fd = fd;
    }
    return RelayHolding(relay_) || (unread.fd >= 0 && poll(&unread, 1, 0) > 0) ||
           (RelayTakes(relay_) && dbus_->dbus_connection_get_is_authenticated(conn_) &&
            dbus_->dbus_connection_has_messages_to_send(conn_));
}

bool AccessibleBox::Pending() const {
    return RelayPending(relay_) || dbus_->dbus_connection_has_messages_to_send(conn_);
}

// Both directions moved on: what libdbus wrote towards the bus, what the bus sent to it.
bool AccessibleBox::Pump() {
    if (conn_ != nullptr && !RelayPump(relay_)) {
        GiveUp();
    }
    return conn_ != nullptr;
}

// Queues a call (the message is let go) and keeps its serial.
bool AccessibleBox::Call(DBusMessage *message, dbus_uint32_t *serial) {
    if (message == nullptr) {
        return false;
    }
    const bool sent = dbus_->dbus_connection_send(conn_, message, serial) != 0;
    dbus_->dbus_message_unref(message);
    return sent;
}

// The bus answers nothing else before Hello, which gives the connection its name.
bool AccessibleBox::SendHello(Stage next) {
    DBusMessage *hello = dbus_->dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                             DBUS_INTERFACE_DBUS, "Hello");
    if (!Call(hello, &awaited_)) {
        GiveUp();
        return false;
    }
    stage_ = next;
    return true;
}

// Closed before the last reference goes: libdbus ends the process otherwise.
void AccessibleBox::GiveUp() {
    if (conn_ != nullptr) {
        dbus_->dbus_connection_close(conn_);
        dbus_->dbus_connection_unref(conn_);
        conn_ = nullptr;
    }
    RelayClose(relay_);
    stage_ = Stage::Off;
}

void AccessibleBox::OnReply(DBusMessage *message) {
    const dbus_uint32_t serial = dbus_->dbus_message_get_reply_serial(message);
    if (serial == embed_ && embed_ != 0) {
        OnDesktop(message);
        return;
    }
    if (serial != awaited_ || awaited_ == 0) {
        return;
    }
    awaited_ = 0;
    if (dbus_->dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_ERROR) {
        GiveUp();
    } else if (stage_ == Stage::AskAddress) {
        OnAddress(message);
    } else {
        OnName(message);
    }
}

// The session bus's Hello, then org.a11y.Bus's answer: the accessibility bus's address.
void AccessibleBox::OnAddress(DBusMessage *message) {
    DBusMessageIter at;
    const char *address = nullptr;
    if (dbus_->dbus_message_iter_init(message, &at) &&
        dbus_->dbus_message_iter_get_arg_type(&at) == DBUS_TYPE_STRING) {
        dbus_->dbus_message_iter_get_basic(&at, &address);
    }
    char kept[1025] = {};
    Keep(address, kept, sizeof kept);
    GiveUp();
    if (Open(kept)) {
        SendHello(Stage::BusHello);
    }
}

// Our name on the bus: on the session bus, ask for the accessibility bus (without starting
// it); on the accessibility bus, register with the registry, not waiting for its answer.
void AccessibleBox::OnName(DBusMessage *message) {
    DBusMessageIter at;
    const char *name = nullptr;
    if (dbus_->dbus_message_iter_init(message, &at) &&
        dbus_->dbus_message_iter_get_arg_type(&at) == DBUS_TYPE_STRING) {
        dbus_->dbus_message_iter_get_basic(&at, &name);
    }
    if (stage_ == Stage::SessionHello) {
        DBusMessage *ask = dbus_->dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                               "org.a11y.Bus", "GetAddress");
        if (ask != nullptr) {
            dbus_->dbus_message_set_auto_start(ask, FALSE);
        }
        stage_ = Stage::AskAddress;
        if (!Call(ask, &awaited_)) {
            GiveUp();
        }
        return;
    }
    name_[0] = 0;
    Keep(name, name_, sizeof name_);
    DBusMessage *embed = dbus_->dbus_message_new_method_call("org.a11y.atspi.Registry", kRootPath,
                                                             "org.a11y.atspi.Socket", "Embed");
    if (name_[0] == 0 || embed == nullptr) {
        if (embed != nullptr) {
            dbus_->dbus_message_unref(embed);
        }
        GiveUp();
        return;
    }
    DBusMessageIter args;
    dbus_->dbus_message_iter_init_append(embed, &args);
    PutRef({*dbus_, &args}, name_, kRootPath);
    stage_ = Stage::Live;
    if (!Call(embed, &embed_)) {
        GiveUp();
    }
}

// The registry's answer to Embed: the desktop, the application's parent.
void AccessibleBox::OnDesktop(DBusMessage *message) {
    DBusMessageIter at, in;
    if (!dbus_->dbus_message_iter_init(message, &at) ||
        dbus_->dbus_message_iter_get_arg_type(&at) != DBUS_TYPE_STRUCT) {
        return;
    }
    dbus_->dbus_message_iter_recurse(&at, &in);
    const char *name = nullptr, *path = nullptr;
    if (dbus_->dbus_message_iter_get_arg_type(&in) == DBUS_TYPE_STRING) {
        dbus_->dbus_message_iter_get_basic(&in, &name);
        dbus_->dbus_message_iter_next(&in);
    }
    if (dbus_->dbus_message_iter_get_arg_type(&in) == DBUS_TYPE_OBJECT_PATH) {
        dbus_->dbus_message_iter_get_basic(&in, &path);
    }
    if (name != nullptr && path != nullptr && strlen(name) < sizeof desktop_ &&
        strlen(path) < sizeof desktopPath_) {
        Keep(name, desktop_, sizeof desktop_);
        Keep(path, desktopPath_, sizeof desktopPath_);
    }
}

pollfd AccessibleBox::PollFor() const {
    pollfd wanted = {-1, 0, 0};
    if (conn_ != nullptr && !relay_.retrying) {
        wanted.fd = relay_.bus;
        wanted.events = RelayEvents(relay_);
    }
    return wanted;
}

int AccessibleBox::TimeoutMs() const {
    if (conn_ == nullptr) {
        return -1;
    }
    const int64_t now = MonotonicMs();
    const bool live = stage_ == Stage::Live;
    int64_t until = live ? -1 : deadline_;
    if (Ready() || (live && stalledSince_ == 0 && active_ && announced_ < 2)) {
        until = now;
    } else if (relay_.retrying) {
        until = now + kRetryMs < deadline_ ? now + kRetryMs : deadline_;
    } else if (live && stalledSince_ != 0) {
        until = stalledSince_ + kAccessibleDeadlineMs;
    }
    return until < 0 ? -1 : until <= now ? 0 : static_cast<int>(until - now);
}

// Reads what has come and answers it, a bounded number of rounds.
int32_t AccessibleBox::Drain() {
    int32_t answer = 0;
    for (int round = 0; round < 16 && Pump(); ++round) {
        if (!dbus_->dbus_connection_read_write(conn_, 0)) {
            GiveUp();
            break;
        }
        DBusMessage *message = dbus_->dbus_connection_pop_message(conn_);
        if (message == nullptr) {
            break;
        }
        const int type = dbus_->dbus_message_get_type(message);
        if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) {
            OnReply(message);
        } else if (type == DBUS_MESSAGE_TYPE_METHOD_CALL && stage_ == Stage::Live) {
            const int32_t pressed = Answer(message);
            answer = answer != 0 ? answer : pressed;
        }
        dbus_->dbus_message_unref(message);
    }
    return answer;
}

int32_t AccessibleBox::Turn() {
    if (conn_ == nullptr) {
        return 0;
    }
    const int32_t answer = Drain();
    const int64_t now = MonotonicMs();
    if (conn_ != nullptr && stage_ != Stage::Live && now >= deadline_) {
        GiveUp();
    }
    if (conn_ != nullptr && stage_ == Stage::Live) {
        Announce();
    }
    // What libdbus wrote, out to the bus now.
    if (conn_ == nullptr || !dbus_->dbus_connection_read_write(conn_, 0) || !Pump()) {
        GiveUp();
        return answer;
    }
    if (stage_ != Stage::Live) {
        return answer;
    }
    // A bus that takes nothing for the deadline has stalled: the box goes on without it.
    if (!Pending()) {
        stalledSince_ = 0;
    } else if (stalledSince_ == 0) {
        stalledSince_ = now;
    } else if (now - stalledSince_ >= kAccessibleDeadlineMs) {
        GiveUp();
    }
    return answer;
}

void AccessibleBox::Close() {
    if (conn_ != nullptr && stage_ == Stage::Live && announced_ && stalledSince_ == 0) {
        Retire();
        // The last events go out while the bus takes them, for a moment at most. libdbus
        // has written most of them to the relay already, as it was handed them.
        const int64_t until = MonotonicMs() + kFarewellMs;
        while (dbus_->dbus_connection_read_write(conn_, 0) && Pump() && Pending() &&
               MonotonicMs() < until) {
            pollfd out = PollFor();
            out.events |= POLLOUT;
            const int64_t left = until - MonotonicMs();
            if (left <= 0 || poll(&out, 1, static_cast<int>(left)) <= 0) {
                break;
            }
        }
    }
    GiveUp();
}

} // namespace kvz::platform
