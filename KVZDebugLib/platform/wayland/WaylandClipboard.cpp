// Ctrl+C puts the box as text on the clipboard: a data source offering it as UTF-8 text,
// made the seat's selection. The text is written to whoever asks, through the pipe they
// send, without ever waiting on them: a reader too slow to take it at once gets what the
// pipe holds. Writing to a reader that has gone raises no SIGPIPE in the host: the box
// blocks it on its thread while it is up (SigpipeShield).
#include "KVZDebugLib/platform/wayland/WaylandBox.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

const char *const kTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING"};

void OnTarget(void *, wl_data_source *, const char *) {}

void OnSend(void *data, wl_data_source *, const char *, int32_t fd) {
    const auto &box = *static_cast<const WaylandBox *>(data);
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) {
        size_t written = 0;
        while (written < box.copyLength) {
            const ssize_t done = write(fd, box.copy + written, box.copyLength - written);
            if (done > 0) {
                written += static_cast<size_t>(done);
            } else if (done < 0 && errno == EINTR) {
                continue;
            } else {
                break; // full (EAGAIN) or gone (EPIPE): given up
            }
        }
    }
    close(fd);
}

void OnCancelled(void *data, wl_data_source *source) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (box.source == source) {
        box.source = nullptr;
    }
    wl_data_source_destroy(source);
}

void OnDropPerformed(void *, wl_data_source *) {}
void OnFinished(void *, wl_data_source *) {}
void OnAction(void *, wl_data_source *, uint32_t) {}

const wl_data_source_listener kSourceListener = {OnTarget,        OnSend,     OnCancelled,
                                                 OnDropPerformed, OnFinished, OnAction};

} // namespace

void OfferCopy(WaylandBox &box) {
    box.copyLength = box.scene.CopyText(box.copy, sizeof box.copy);
    if (box.dataManager == nullptr || box.seat == nullptr) {
        return;
    }
    if (box.dataDevice == nullptr) {
        box.dataDevice = wl_data_device_manager_get_data_device(box.dataManager, box.seat);
    }
    if (box.source != nullptr) {
        wl_data_source_destroy(box.source);
    }
    box.source = wl_data_device_manager_create_data_source(box.dataManager);
    wl_data_source_add_listener(box.source, &kSourceListener, &box);
    for (const char *type : kTypes) {
        wl_data_source_offer(box.source, type);
    }
    wl_data_device_set_selection(box.dataDevice, box.source, box.inputSerial);
}

void ReleaseClipboard(WaylandBox &box) {
    Let(box, box.source, wl_data_source_destroy);
    if (box.dataDevice != nullptr &&
        wl_data_device_get_version(box.dataDevice) >= WL_DATA_DEVICE_RELEASE_SINCE_VERSION) {
        Let(box, box.dataDevice, wl_data_device_release);
    }
    Let(box, box.dataDevice, wl_data_device_destroy);
}

} // namespace kvz::platform
