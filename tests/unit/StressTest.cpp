// Many threads reporting at once, against the recording platform. Each report's text names
// its thread and sequence number, so the platform's side can tell exactly which text it
// must receive: every output and every box must be the text its own caller formatted, on
// that caller's thread, exactly once. Meanwhile another thread keeps installing and
// emptying the three hooks, and the hooks themselves call back into the library on the
// same thread (output, and a whole prompt from inside an assertion hook).
#include "RecordingPlatform.h"

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/ReportState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvz::g_ReportState;
using kvz::platform::BoxButtons;
using kvz::platform::BoxOk;
using kvz::platform::BoxOkCancel;
using kvz::recording::EventKind;

constexpr int kThreads = 8;
constexpr int kReportsPerThread = 100000;

// A text as the caller expects it to arrive: built with the C library's snprintf, not
// with the library's own formatter, and cut to the room of the buffer it goes through.
struct Text {
    KVZChar units[kvz::kMessageBufferSize];
    size_t length = 0;
};

void SetText(Text &text, size_t capacity, const char *format, ...) {
    char narrow[4096];
    va_list args;
    va_start(args, format);
    int made = vsnprintf(narrow, sizeof narrow, format, args);
    va_end(args);
    size_t length = made < 0 ? 0 : static_cast<size_t>(made);
    if (length > sizeof narrow - 1) {
        length = sizeof narrow - 1;
    }
    if (length > capacity - 1) {
        length = capacity - 1; // every text here is ASCII: a cut is a plain prefix
    }
    for (size_t i = 0; i < length; ++i) {
        text.units[i] = static_cast<KVZChar>(static_cast<unsigned char>(narrow[i]));
    }
    text.units[length] = 0;
    text.length = length;
}

bool Same(const KVZChar *got, const Text &expected) {
    if (got == nullptr) {
        return false;
    }
    for (size_t i = 0; i < expected.length; ++i) {
        if (got[i] != expected.units[i]) {
            return false;
        }
    }
    return got[expected.length] == 0;
}

// The first units of a text, for messages.
std::string Shown(const KVZChar *text, size_t length = SIZE_MAX) {
    std::string out;
    if (text == nullptr) {
        return "(none)";
    }
    for (size_t i = 0; i < length && text[i] != 0; ++i) {
        if (i == 60) {
            return out + "...";
        }
        out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    return out;
}

std::string Narrow(const Text &text) {
    std::string out;
    for (size_t i = 0; i < text.length; ++i) {
        out += static_cast<char>(text.units[i]);
    }
    return out;
}

std::string Versus(const KVZChar *got, const Text &expected) {
    return "\n  got      \"" + Shown(got) + "\"\n  expected \"" +
           Shown(expected.units, expected.length) + "\"";
}

// What one call on this thread must produce. Nested calls (from hooks) get their own.
struct Expectation {
    bool wantOutput = false;
    Text output;
    bool wantBox = false;
    Text box;
    const char16_t *caption = u"";
    BoxButtons buttons = BoxOk;
    int32_t answer = kvz::platform::kBoxOk;
    int outputs = 0;
    int boxes = 0;
};

struct ThreadRecord {
    int thread = 0;
    std::atomic<int> sequence{0}; // read by the watchdog
    long calls = 0;
    long outputs = 0;
    long boxes = 0;
    long errors = 0;
    std::vector<std::string> firstErrors;
    // How often each path ran: hook called, or slot found empty.
    long assertHookRuns = 0, assertEmpty = 0;
    long exHookRuns = 0, exEmpty = 0;
    long safeObserveRuns = 0, safeReenterRuns = 0, safeEmptyInPrompts = 0;
    long safeFromEntryRuns = 0, safeFromEntryEmpty = 0;
};

thread_local ThreadRecord *t_record = nullptr;
thread_local Expectation *t_expect = nullptr;
thread_local int t_sequence = 0;
thread_local int t_marker = 0; // the pointer this thread hands _EnterSafeMode
thread_local char t_fileNarrow[32];
thread_local KVZChar t_file[32];
// Runs of each hook on this thread, to tell from a result whether the hook was called.
thread_local long t_assertRuns = 0, t_exRuns = 0, t_safeEntryRuns = 0, t_safePromptRuns = 0;

void Fail(const char *what, const std::string &detail = std::string()) {
    ThreadRecord *record = t_record;
    if (record == nullptr) {
        std::fprintf(stderr, "stress: %s outside a worker thread\n", what);
        std::abort();
    }
    if (++record->errors <= 5) {
        char head[96];
        std::snprintf(head, sizeof head, "thread %d, report %d: ", record->thread, t_sequence);
        record->firstErrors.push_back(head + std::string(what) + detail);
    }
}

// Makes an expectation the current one for the scope of one call.
class Expecting {
  public:
    explicit Expecting(Expectation &expectation) : saved_(t_expect) { t_expect = &expectation; }
    ~Expecting() { t_expect = saved_; }
    Expecting(const Expecting &) = delete;
    Expecting &operator=(const Expecting &) = delete;

  private:
    Expectation *saved_;
};

void CheckDelivered(const Expectation &e, const char *call) {
    int outputs = e.wantOutput ? 1 : 0;
    int boxes = e.wantBox ? 1 : 0;
    if (e.outputs != outputs || e.boxes != boxes) {
        Fail(call, ": delivered " + std::to_string(e.outputs) + " outputs and " +
                       std::to_string(e.boxes) + " boxes, expected " + std::to_string(outputs) +
                       " and " + std::to_string(boxes));
    }
    t_record->outputs += e.outputs;
    t_record->boxes += e.boxes;
}

// The platform's side: each output and box arrives here on the thread that made it.
int32_t Observe(EventKind kind, const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    Expectation *e = t_expect;
    if (e == nullptr) {
        Fail("an event arrived outside any call on this thread");
        return kvz::platform::kBoxOk;
    }
    switch (kind) {
    case EventKind::Output:
        ++e->outputs;
        if (!e->wantOutput) {
            Fail("an output from a call that makes none");
        } else if (!Same(text, e->output)) {
            Fail("output is not the text formatted", Versus(text, e->output));
        }
        return 0;
    case EventKind::Box:
        ++e->boxes;
        if (!e->wantBox) {
            Fail("a box from a call that shows none");
        } else if (!Same(text, e->box)) {
            Fail("box text is not the text composed", Versus(text, e->box));
        } else if (std::u16string(caption) != e->caption || buttons != e->buttons) {
            Fail("wrong caption or buttons");
        }
        return e->answer;
    case EventKind::Trap:
        Fail("a trap with no debugger attached");
        return 0;
    }
    return 0;
}

const char16_t *PadWide(size_t length);
const char *PadNarrow(size_t length);

// A nested _DebugOutput made from inside a hook; returns the text it sent.
const Text &NestedOutput(Expectation &nested, const char *where) {
    nested.wantOutput = true;
    SetText(nested.output, kvz::kMessageBufferSize, "T%d #%d %s", t_record->thread, t_sequence,
            where);
    {
        Expecting scope(nested);
        _DebugOutput(u"T%d #%d %S", t_record->thread, t_sequence, where);
    }
    CheckDelivered(nested, "nested _DebugOutput");
    return nested.output;
}

constexpr intptr_t kMagic = 0x5EED;

int32_t Mix(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    return static_cast<int32_t>((a * 1000003 + b) * 31 + c * 7 + d) | 1; // never 0
}

// The hooks. Each checks what it was given and calls back into the library.
int32_t KVZ_CDECL AssertHook(intptr_t a, intptr_t b, intptr_t c) {
    ++t_assertRuns;
    if (a != t_record->thread || b != t_sequence || c != kMagic) {
        Fail("the assertion hook got other arguments than its caller passed");
    }
    Expectation nested;
    NestedOutput(nested, "from the assertion hook");
    return Mix(a, b, c, 0);
}

int32_t KVZ_CDECL AssertExHook(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    ++t_exRuns;
    if (a != t_record->thread || b != t_sequence || c != kMagic || d != -kMagic) {
        Fail("the extended assertion hook got other arguments than its caller passed");
    }
    // A whole prompt from inside the hook, holding nothing of the caller's.
    Expectation nested;
    nested.wantBox = true;
    nested.caption = u"Assertion Failure";
    nested.buttons = BoxOkCancel;
    nested.answer = kvz::platform::kBoxCancel;
    Text detail;
    SetText(detail, kvz::kDetailBufferSize, "T%d #%d from the extended hook", t_record->thread,
            t_sequence);
    SetText(nested.box, kvz::kMessageBufferSize,
            "%s, line %d : %s\n Press OK to continue or CANCEL to report this error.", t_fileNarrow,
            t_sequence, Narrow(detail).c_str());
    int32_t result;
    {
        Expecting scope(nested);
        result = _WarnRelease(t_file, t_sequence, u"T%d #%d from the extended hook",
                              t_record->thread, t_sequence);
    }
    CheckDelivered(nested, "_WarnRelease from a hook");
    if (result != Report) {
        Fail("the nested prompt's answer was lost");
    }
    return Mix(a, b, c, d);
}

constexpr int32_t kObserveResult = 0x0B5E;
constexpr int32_t kReenterResult = 0x2E27;

// Whether a pointer lies in a caller's frame on this thread's stack, a little above this
// function's own.
bool InCallersFrame(const void *pointer) {
    char here = 0;
    const std::ptrdiff_t distance = static_cast<const char *>(pointer) - &here;
    return distance > 0 && distance < 64 * 1024;
}

// True when the safe-mode hook was called by a prompt, with MessageBuffer or, when another
// report held that, with the prompt's own message on its stack; false when by
// _EnterSafeMode with this thread's own marker; anything else is a fault.
bool FromPrompt(void *argument) {
    if (argument == &t_marker) {
        return false;
    }
    if (argument != static_cast<void *>(g_ReportState.MessageBuffer) &&
        !InCallersFrame(argument)) {
        Fail("the safe-mode hook got another pointer than its caller passed");
    }
    return true;
}

int32_t KVZ_CDECL SafeModeObserve(void *argument) {
    if (FromPrompt(argument)) {
        ++t_safePromptRuns;
        ++t_record->safeObserveRuns;
        if (t_expect == nullptr || !Same(static_cast<const KVZChar *>(argument), t_expect->box)) {
            Fail("the safe-mode hook was not handed the composed message");
        }
    } else {
        ++t_safeEntryRuns;
    }
    return kObserveResult;
}

int32_t KVZ_CDECL SafeModeReenter(void *argument) {
    Expectation nested;
    if (FromPrompt(argument)) {
        ++t_safePromptRuns;
        ++t_record->safeReenterRuns;
        Expectation *outer = t_expect;
        if (outer == nullptr || !Same(static_cast<const KVZChar *>(argument), outer->box)) {
            Fail("the safe-mode hook was not handed the composed message");
        }
        // The output goes through MessageBuffer, so when the prompt handed that, the output's
        // text is what the box then shows; a prompt's own message is left as it is.
        const Text &sent = NestedOutput(nested, "from the safe-mode hook");
        if (outer != nullptr && argument == static_cast<void *>(g_ReportState.MessageBuffer)) {
            outer->box = sent;
        }
    } else {
        ++t_safeEntryRuns;
        NestedOutput(nested, "from the safe-mode hook, called directly");
    }
    return kReenterResult;
}

std::vector<char16_t> g_padWide(1000, u'p');
std::string g_padNarrow(1000, 'p');

const char16_t *PadWide(size_t length) {
    return g_padWide.data() + g_padWide.size() - length;
}
const char *PadNarrow(size_t length) {
    return g_padNarrow.c_str() + g_padNarrow.size() - length;
}

// Detail lengths from none to past the detail's room, so cuts happen under contention too.
constexpr size_t kPadLengths[] = {0, 3, 17, 60, 0, 5, 200, 1000};
// Box answers: OK, CANCEL, and a box that cannot be shown.
constexpr int32_t kAnswers[] = {kvz::platform::kBoxOk, kvz::platform::kBoxCancel,
                                kvz::platform::kBoxNotShown};

void CheckResult(int32_t result, int32_t expected, const char *call) {
    if (result != expected) {
        Fail(call, ": result " + std::to_string(result) + ", expected " + std::to_string(expected));
    }
}

// One prompt with a detail: _WarnDebug, _WarnRelease or _WarnFinal.
void DetailPrompt(int which, int thread, int sequence, size_t padLength, int32_t answer) {
    static const char *const kClosings[] = {
        "\n Press OK to continue or CANCEL to debug.",
        "\n Press OK to continue or CANCEL to report this error."};
    static const char *const kWords[] = {"debug", "release", "final"};
    Expectation e;
    e.wantBox = true;
    e.caption = u"Assertion Failure";
    e.buttons = which == 2 ? BoxOk : BoxOkCancel;
    e.answer = answer;
    Text detail;
    SetText(detail, kvz::kDetailBufferSize, "T%d #%d %s %s", thread, sequence, kWords[which],
            PadNarrow(padLength));
    if (which == 2) {
        SetText(e.box, kvz::kMessageBufferSize, "%s\n Press OK to continue.",
                Narrow(detail).c_str());
    } else {
        SetText(e.box, kvz::kMessageBufferSize, "%s, line %d : %s%s", t_fileNarrow, sequence,
                Narrow(detail).c_str(), kClosings[which]);
    }
    long hookRunsBefore = t_safePromptRuns;
    int32_t result;
    {
        Expecting scope(e);
        const char16_t *pad = PadWide(padLength);
        if (which == 0) {
            result = _WarnDebug(t_file, sequence, u"T%d #%d debug %s", thread, sequence, pad);
        } else if (which == 1) {
            result = _WarnRelease(t_file, sequence, u"T%d #%d release %s", thread, sequence, pad);
        } else {
            result = _WarnFinal(u"T%d #%d final %s", thread, sequence, pad);
        }
    }
    CheckDelivered(e, kWords[which]);
    if (t_safePromptRuns == hookRunsBefore) {
        ++t_record->safeEmptyInPrompts;
    }
    int32_t other = which == 0 ? Debug : Report;
    CheckResult(result, which == 2 ? answer : (answer == kvz::platform::kBoxOk ? Continue : other),
                kWords[which]);
}

void OneReport(int thread, int sequence) {
    t_sequence = sequence;
    size_t padLength = kPadLengths[(sequence / 8) % 8];
    int32_t answer = kAnswers[(sequence / 8) % 3];
    switch ((sequence + thread) % 8) {
    case 0: {
        Expectation e;
        e.wantOutput = true;
        SetText(e.output, kvz::kMessageBufferSize, "T%d #%d output %s", thread, sequence,
                PadNarrow(padLength));
        {
            Expecting scope(e);
            _DebugOutput(u"T%d #%d output %s", thread, sequence, PadWide(padLength));
        }
        CheckDelivered(e, "_DebugOutput");
        break;
    }
    case 1:
        DetailPrompt(0, thread, sequence, padLength, answer);
        break;
    case 2:
        DetailPrompt(1, thread, sequence, padLength, answer);
        break;
    case 3: {
        Expectation e;
        e.wantBox = true;
        e.caption = u"Debug Breakpoint";
        e.buttons = BoxOkCancel;
        e.answer = answer;
        SetText(e.box, kvz::kMessageBufferSize,
                "A debug breakpoint was hit in %s, line %d.\nThis indicates a condition that "
                "should not occur.\nPlease notify a programmer of this. Press OK to continue or "
                "CANCEL to report.",
                t_fileNarrow, sequence);
        long hookRunsBefore = t_safePromptRuns;
        int32_t result;
        {
            Expecting scope(e);
            result = _BreakRelease(t_file, sequence);
        }
        CheckDelivered(e, "_BreakRelease");
        if (t_safePromptRuns == hookRunsBefore) {
            ++t_record->safeEmptyInPrompts;
        }
        CheckResult(result, answer == kvz::platform::kBoxOk ? Continue : Report, "_BreakRelease");
        break;
    }
    case 4:
        DetailPrompt(2, thread, sequence, padLength, answer == 2 ? 0 : answer);
        break;
    case 5: {
        Expectation e; // the call itself shows and writes nothing
        long before = t_assertRuns;
        int32_t result;
        {
            Expecting scope(e);
            result = _AssertFailed(thread, sequence, kMagic);
        }
        CheckDelivered(e, "_AssertFailed");
        bool ran = t_assertRuns != before;
        (ran ? t_record->assertHookRuns : t_record->assertEmpty)++;
        CheckResult(result, ran ? Mix(thread, sequence, kMagic, 0) : 0, "_AssertFailed");
        break;
    }
    case 6: {
        Expectation e;
        long before = t_exRuns;
        int32_t result;
        {
            Expecting scope(e);
            result = _AssertFailedEx(thread, sequence, kMagic, -kMagic);
        }
        CheckDelivered(e, "_AssertFailedEx");
        bool ran = t_exRuns != before;
        (ran ? t_record->exHookRuns : t_record->exEmpty)++;
        CheckResult(result, ran ? Mix(thread, sequence, kMagic, -kMagic) : 0, "_AssertFailedEx");
        break;
    }
    case 7: {
        Expectation e;
        long before = t_safeEntryRuns;
        int32_t result;
        {
            Expecting scope(e);
            result = _EnterSafeMode(&t_marker);
        }
        CheckDelivered(e, "_EnterSafeMode");
        bool ran = t_safeEntryRuns != before;
        (ran ? t_record->safeFromEntryRuns : t_record->safeFromEntryEmpty)++;
        if (ran ? result != kObserveResult && result != kReenterResult : result != 0) {
            Fail("_EnterSafeMode handed back another result than its hook's");
        }
        break;
    }
    }
    ++t_record->calls;
}

void Worker(ThreadRecord *record) {
    t_record = record;
    std::snprintf(t_fileNarrow, sizeof t_fileNarrow, "src/T%d.cpp", record->thread);
    for (size_t i = 0; i < sizeof t_file / sizeof t_file[0]; ++i) {
        t_file[i] = static_cast<KVZChar>(t_fileNarrow[i]);
        if (t_fileNarrow[i] == 0) {
            break;
        }
    }
    for (int sequence = 0; sequence < kReportsPerThread; ++sequence) {
        OneReport(record->thread, sequence);
        record->sequence.store(sequence + 1, std::memory_order_relaxed);
    }
}

class Stress : public ::testing::Test {
  protected:
    void SetUp() override {
        kvz::recording::Reset();
        kvz::recording::SetObserver(Observe);
    }
    void TearDown() override { kvz::recording::Reset(); }
};

TEST_F(Stress, ConcurrentReportsArriveWholeWhileHooksComeAndGo) {
    std::vector<ThreadRecord> records(kThreads);
    std::atomic<bool> done{false};
    long hookChanges = 0;

    // Installs and empties each slot in turn, as fast as it can, while the reports run.
    std::thread installer([&] {
        const EnterSafeModeHandler safeModeHooks[] = {SafeModeObserve, SafeModeReenter, nullptr};
        for (unsigned step = 0; !done.load(); ++step) {
            _SetAssertionFailedHandler(step % 2 == 0 ? AssertHook : nullptr);
            _SetAssertionFailedExHandler(step % 4 < 2 ? AssertExHook : nullptr);
            _SetEnterSafeModeHandler(safeModeHooks[step % 3]);
            ++hookChanges;
            std::this_thread::yield();
        }
    });

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        records[t].thread = t;
        workers.emplace_back(Worker, &records[t]);
    }

    // A watchdog, not a timer: it fails only when no thread has moved for a whole minute,
    // which is a deadlock however slow the machine.
    auto progress = [&] {
        long sum = 0;
        for (const ThreadRecord &record : records) {
            sum += record.sequence.load(std::memory_order_relaxed);
        }
        return sum;
    };
    long last = -1;
    auto lastMove = std::chrono::steady_clock::now();
    for (;;) {
        long now = progress();
        if (now == static_cast<long>(kThreads) * kReportsPerThread) {
            break;
        }
        if (now != last) {
            last = now;
            lastMove = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastMove > std::chrono::seconds(60)) {
            std::fprintf(stderr, "stress: no report finished for a minute; deadlocked at:\n");
            for (const ThreadRecord &record : records) {
                std::fprintf(stderr, "  thread %d at report %d\n", record.thread,
                             record.sequence.load());
            }
            std::abort(); // the stuck threads cannot be joined
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread &worker : workers) {
        worker.join();
    }
    done = true;
    installer.join();

    ThreadRecord total;
    for (const ThreadRecord &record : records) {
        for (const std::string &error : record.firstErrors) {
            ADD_FAILURE() << error;
        }
        EXPECT_EQ(record.errors, 0) << "thread " << record.thread;
        EXPECT_EQ(record.calls, kReportsPerThread) << "thread " << record.thread;
        total.calls += record.calls;
        total.outputs += record.outputs;
        total.boxes += record.boxes;
        total.assertHookRuns += record.assertHookRuns;
        total.assertEmpty += record.assertEmpty;
        total.exHookRuns += record.exHookRuns;
        total.exEmpty += record.exEmpty;
        total.safeObserveRuns += record.safeObserveRuns;
        total.safeReenterRuns += record.safeReenterRuns;
        total.safeEmptyInPrompts += record.safeEmptyInPrompts;
        total.safeFromEntryRuns += record.safeFromEntryRuns;
        total.safeFromEntryEmpty += record.safeFromEntryEmpty;
    }
    EXPECT_EQ(total.calls, static_cast<long>(kThreads) * kReportsPerThread);
    // Every path was taken while the slots changed under the callers.
    EXPECT_GT(total.assertHookRuns, 0);
    EXPECT_GT(total.assertEmpty, 0);
    EXPECT_GT(total.exHookRuns, 0);
    EXPECT_GT(total.exEmpty, 0);
    EXPECT_GT(total.safeObserveRuns, 0);
    EXPECT_GT(total.safeReenterRuns, 0);
    EXPECT_GT(total.safeEmptyInPrompts, 0);
    EXPECT_GT(total.safeFromEntryRuns, 0);
    EXPECT_GT(total.safeFromEntryEmpty, 0);
    std::printf("stress: %d threads, %ld reports, %ld outputs and %ld boxes checked, %ld hook "
                "changes; hooks ran %ld times, slots found empty %ld times\n",
                kThreads, total.calls, total.outputs, total.boxes, hookChanges,
                total.assertHookRuns + total.exHookRuns + total.safeObserveRuns +
                    total.safeReenterRuns + total.safeFromEntryRuns,
                total.assertEmpty + total.exEmpty + total.safeEmptyInPrompts +
                    total.safeFromEntryEmpty);
}

} // namespace
