#include "RecordingPlatform.h"

#include "KVZDebugLib/ReportState.h"
#include "KVZDebugLib/text/Utf.h"

#include <atomic>
#include <errno.h>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <string.h>

namespace kvz::recording {

namespace {

std::mutex g_mutex;
std::vector<Event> g_events;
std::function<int32_t(const Event &)> g_answerer;
std::atomic<bool> g_attached{false};
std::atomic<int> g_flagReads{0};
std::atomic<int> g_trapSignals{0};
std::atomic<Observer> g_observer{nullptr};

std::u16string Copy(const KVZChar *text) {
    std::u16string copy;
    for (; *text != 0; ++text) {
        copy.push_back(static_cast<char16_t>(*text));
    }
    return copy;
}

void Record(Event event) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.push_back(std::move(event));
}

void CountTrap(int) {
    g_trapSignals.fetch_add(1);
}

// The trap instruction really runs; a counting handler, installed once for the whole
// test process, stands in for the debugger that would take it, so each trap is counted
// from the signal it raises.
std::once_flag g_handlerOnce;
thread_local int t_signalsBefore;
thread_local uint32_t t_lastError = 0;

// What the real operations may do to the host's error codes.
void Clobber() {
    errno = kClobberedErrno;
    t_lastError = kClobberedLastError;
}

} // namespace

void Reset() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_events.clear();
        g_answerer = nullptr;
    }
    g_observer = nullptr;
    g_attached = false;
    g_flagReads = 0;
    g_ReportState.AssertionFailed.store(nullptr);
    g_ReportState.AssertionFailedEx.store(nullptr);
    g_ReportState.EnterSafeMode.store(nullptr);
    memset(g_ReportState.MessageBuffer, 0, sizeof g_ReportState.MessageBuffer);
    memset(g_ReportState.DetailBuffer, 0, sizeof g_ReportState.DetailBuffer);
}

void SetDebuggerAttached(bool attached) {
    g_attached = attached;
}

void SetBoxAnswer(int32_t answer) {
    SetBoxAnswerer([answer](const Event &) { return answer; });
}

void SetBoxAnswerer(std::function<int32_t(const Event &)> answerer) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_answerer = std::move(answerer);
}

std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_events;
}

int FlagReads() {
    return g_flagReads;
}

void SetObserver(Observer observer) {
    g_observer = observer;
}

void SetLastErrorValue(uint32_t value) {
    t_lastError = value;
}

uint32_t LastErrorValue() {
    return t_lastError;
}

} // namespace kvz::recording

namespace kvz::platform {

using namespace kvz::recording;

// Narrow text is the POSIX systems' UTF-8, as the real platform decodes it.
size_t PutNarrow(TextSink &sink, const char *text, size_t maxBytes) {
    return PutUtf8(sink, text, maxBytes);
}

HostErrors SaveHostErrors() {
    return HostErrors{errno, t_lastError};
}

void RestoreHostErrors(const HostErrors &saved) {
    errno = saved.errorNumber;
    t_lastError = saved.lastError;
}

void WriteDebugOutput(const KVZChar *text) {
    Clobber();
    if (Observer observer = g_observer.load()) {
        observer(EventKind::Output, text, nullptr, BoxOk);
        return;
    }
    Record({EventKind::Output, Copy(text), {}, BoxOk});
}

bool IsDebuggerAttached() {
    Clobber();
    ++g_flagReads;
    return g_attached;
}

int32_t ShowMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    Clobber();
    if (Observer observer = g_observer.load()) {
        return observer(EventKind::Box, text, caption, buttons);
    }
    Event event{EventKind::Box, Copy(text), Copy(caption), buttons};
    std::function<int32_t(const Event &)> answerer;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        answerer = g_answerer;
    }
    Record(event);
    return answerer ? answerer(event) : kBoxOk;
}

void BeginTrap(TrapState *) {
    std::call_once(g_handlerOnce, [] {
        struct sigaction counting;
        memset(&counting, 0, sizeof counting);
        counting.sa_handler = CountTrap;
        sigemptyset(&counting.sa_mask);
        sigaction(SIGTRAP, &counting, nullptr);
    });
    t_signalsBefore = g_trapSignals.load();
}

void EndTrap(const TrapState *) {
    Clobber();
    if (g_trapSignals.load() != t_signalsBefore) {
        if (Observer observer = g_observer.load()) {
            observer(EventKind::Trap, nullptr, nullptr, BoxOk);
            return;
        }
        Record({EventKind::Trap, {}, {}, BoxOk});
    }
}

uintptr_t CurrentThreadId() {
    return static_cast<uintptr_t>(pthread_self());
}

} // namespace kvz::platform
