// libdbus-1, loaded with dlopen when a box first reaches for an accessibility bus: the
// module has no link-time D-Bus dependency. Only its headers are used at compile time.
//
// Only calls that never wait are listed: libdbus's blocking sends were seen to ignore their
// timeout on a stalled bus, so the box drives its connections itself (AccessibleBus.h).
#pragma once

#include <dbus/dbus.h>

namespace kvz::platform {

#define KVZ_DBUS_FUNCTIONS(X)                                                                      \
    X(dbus_error_init)                                                                             \
    X(dbus_error_free)                                                                             \
    X(dbus_connection_open_private)                                                                \
    X(dbus_connection_close)                                                                       \
    X(dbus_connection_unref)                                                                       \
    X(dbus_connection_set_exit_on_disconnect)                                                      \
    X(dbus_connection_get_is_connected)                                                            \
    X(dbus_connection_get_is_authenticated)                                                        \
    X(dbus_connection_get_socket)                                                                  \
    X(dbus_connection_has_messages_to_send)                                                        \
    X(dbus_connection_read_write)                                                                  \
    X(dbus_connection_pop_message)                                                                 \
    X(dbus_connection_send)                                                                        \
    X(dbus_message_new_method_call)                                                                \
    X(dbus_message_new_method_return)                                                              \
    X(dbus_message_new_error)                                                                      \
    X(dbus_message_new_signal)                                                                     \
    X(dbus_message_unref)                                                                          \
    X(dbus_message_set_auto_start)                                                                 \
    X(dbus_message_get_type)                                                                       \
    X(dbus_message_get_reply_serial)                                                               \
    X(dbus_message_get_path)                                                                       \
    X(dbus_message_get_interface)                                                                  \
    X(dbus_message_get_member)                                                                     \
    X(dbus_message_get_no_reply)                                                                   \
    X(dbus_message_iter_init)                                                                      \
    X(dbus_message_iter_init_append)                                                               \
    X(dbus_message_iter_get_arg_type)                                                              \
    X(dbus_message_iter_get_basic)                                                                 \
    X(dbus_message_iter_next)                                                                      \
    X(dbus_message_iter_recurse)                                                                   \
    X(dbus_message_iter_append_basic)                                                              \
    X(dbus_message_iter_open_container)                                                            \
    X(dbus_message_iter_close_container)                                                           \
    X(dbus_validate_utf8)

struct DbusFunctions {
// NOLINTNEXTLINE(bugprone-macro-parentheses): a declaration's name cannot be in parentheses
#define KVZ_DBUS_MEMBER(name) decltype(&::name) name;
    KVZ_DBUS_FUNCTIONS(KVZ_DBUS_MEMBER)
#undef KVZ_DBUS_MEMBER
};

// libdbus's functions, or null when it cannot be loaded whole: the box then has no
// accessibility and works as before.
const DbusFunctions *LoadDbus();

} // namespace kvz::platform
