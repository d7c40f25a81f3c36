// Finding the accessibility bus, connecting and registering, each step sent and its answer
// picked up by a later Turn: libdbus never waits here. Replies are matched by serial as
// messages are popped, so no pending call outlives the connection.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include "KVZDebugLib/platform/dialog/DbusWrite.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// How long a closing box gives the bus to take its last events.
constexpr int kFarewellMs = 200;

const char *const kRootPath = "/org/a11y/atspi/accessible/root";

int64_t NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Only one local socket: other transports may resolve names or start programs
// (autolaunch:), and either could wait or leave a process behind.
bool AddressUsable(const DbusFunctions &dbus, const char *address) {
    return address != nullptr && strncmp(address, "unix:", 5) == 0 &&
           strchr(address, ';') == nullptr && strlen(address) <= 1024 &&
           dbus.dbus_validate_utf8(address, nullptr);
}

// The value of `key` in the address's key=value list, unescaped (%XX) into out[capacity];
// false when it is not there or does not fit.
bool AddressValue(const char *address, const char *key, char *out, size_t capacity) {
    const size_t keyLength = strlen(key);
    for (const char *at = address + 5; *at != 0;) {
        const char *end = strchr(at, ',');
        end = end != nullptr ? end : at + strlen(at);
        if (strncmp(at, key, keyLength) == 0 && at[keyLength] == '=') {
            size_t used = 0;
            for (const char *c = at + keyLength + 1; c < end; ++c) {
                char value = *c;
                if (value == '%' && end - c >= 3) {
                    const char hex[3] = {c[1], c[2], 0};
                    value = static_cast<char>(strtol(hex, nullptr, 16));
                    c += 2;
                }
                if (used + 1 >= capacity) {
                    return false;
                }
                out[used++] = value;
            }
            out[used] = 0;
            return true;
        }
        at = *end != 0 ? end + 1 : end;
    }
    return false;
}

// libdbus connects with a blocking connect(), which on a bus that is stopped with its queue
// of connections full would wait for as long as it stays so: the socket is tried without
// blocking first.
bool Reachable(const char *address) {
    sockaddr_un to = {};
    to.sun_family = AF_UNIX;
    socklen_t length = 0;
    char name[sizeof to.sun_path] = {};
    if (AddressValue(address, "path", name, sizeof name)) {
        memcpy(to.sun_path, name, strlen(name) + 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + strlen(name) + 1);
    } else if (AddressValue(address, "abstract", name, sizeof name - 1)) {
        memcpy(to.sun_path + 1, name, strlen(name));
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + strlen(name));
    } else {
        return false;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool reached = connect(fd, reinterpret_cast<const sockaddr *>(&to), length) == 0;
    close(fd);
    return reached;
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
    deadline_ = NowMs() + kAccessibleDeadlineMs;
    const char *own = getenv("AT_SPI_BUS_ADDRESS");
    if (AddressUsable(*dbus_, own) && Open(own)) {
        SendHello(Stage::BusHello);
    } else if (AddressUsable(*dbus_, rootAddress) && Open(rootAddress)) {
        SendHello(Stage::BusHello);
    } else if (Open(getenv("DBUS_SESSION_BUS_ADDRESS"))) {
        SendHello(Stage::SessionHello);
    }
}

bool AccessibleBox::Open(const char *address) {
    if (!AddressUsable(*dbus_, address) || !Reachable(address)) {
        return false;
    }
    DBusError error;
    dbus_->dbus_error_init(&error);
    conn_ = dbus_->dbus_connection_open_private(address, &error);
    dbus_->dbus_error_free(&error);
    if (conn_ != nullptr) {
        dbus_->dbus_connection_set_exit_on_disconnect(conn_, FALSE);
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
    int fd = -1;
    if (conn_ == nullptr || !dbus_->dbus_connection_get_socket(conn_, &fd)) {
        return wanted;
    }
    wanted.fd = fd;
    wanted.events = POLLIN;
    if (!dbus_->dbus_connection_get_is_authenticated(conn_) ||
        dbus_->dbus_connection_has_messages_to_send(conn_)) {
        wanted.events |= POLLOUT;
    }
    return wanted;
}

int AccessibleBox::TimeoutMs() const {
    if (conn_ == nullptr) {
        return -1;
    }
    const int64_t now = NowMs();
    int64_t until = stage_ != Stage::Live ? deadline_ : -1;
    if (stage_ == Stage::Live && stalledSince_ != 0) {
        until = stalledSince_ + kAccessibleDeadlineMs;
    } else if (stage_ == Stage::Live && active_ && announced_ < 2) {
        until = now;
    }
    return until < 0 ? -1 : until <= now ? 0 : static_cast<int>(until - now);
}

// Reads what has come and answers it, a bounded number of rounds.
int32_t AccessibleBox::Drain() {
    int32_t answer = 0;
    for (int round = 0; round < 16 && conn_ != nullptr; ++round) {
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
    const int64_t now = NowMs();
    if (conn_ != nullptr && stage_ != Stage::Live && now >= deadline_) {
        GiveUp();
    }
    if (conn_ == nullptr || stage_ != Stage::Live) {
        return answer;
    }
    Announce();
    dbus_->dbus_connection_read_write(conn_, 0);
    // A bus that takes nothing for the deadline has stalled: the box goes on without it.
    if (!dbus_->dbus_connection_has_messages_to_send(conn_)) {
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
        // The last events go out while the socket takes them, for a moment at most.
        const int64_t until = NowMs() + kFarewellMs;
        while (dbus_->dbus_connection_has_messages_to_send(conn_) && NowMs() < until) {
            pollfd out = PollFor();
            if (out.fd < 0 || poll(&out, 1, static_cast<int>(until - NowMs())) <= 0 ||
                !dbus_->dbus_connection_read_write(conn_, 0)) {
                break;
            }
        }
    }
    GiveUp();
}

} // namespace kvz::platform
