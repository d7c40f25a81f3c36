// The library's logic on the recording platform, which records into fixed counters here
// (its observer), so that every allocation counted is the library's own.
#include "CountingAllocator.h"
#include "EveryExport.h"
#include "RecordingPlatform.h"

#include <gtest/gtest.h>

namespace {

using kvz::recording::EventKind;

int g_outputs = 0;
int g_boxes = 0;
int g_traps = 0;
KVZChar g_lastBox[1024];

int32_t Observe(EventKind kind, const KVZChar *text, const KVZChar *, kvz::platform::BoxButtons) {
    switch (kind) {
    case EventKind::Output:
        ++g_outputs;
        break;
    case EventKind::Box: {
        ++g_boxes;
        size_t i = 0;
        for (; text[i] != 0 && i < 1023; ++i) {
            g_lastBox[i] = text[i];
        }
        g_lastBox[i] = 0;
        break;
    }
    case EventKind::Trap:
        ++g_traps;
        break;
    }
    return kvz::platform::kBoxCancel;
}

TEST(NoAllocation, TheCountingIsInPlace) {
    EXPECT_EQ(kvz::alloc::CountedDeliberateAllocations(), kvz::alloc::kDeliberateAllocations)
        << "a deliberate malloc, calloc, realloc, new and new[] are each counted once";
}

// Each test of this program runs in a process of its own (CTest), so these are the
// exports' first calls.
TEST(NoAllocation, EveryExportFromItsFirstCallWithNoDebugger) {
    kvz::recording::Reset();
    kvz::recording::SetObserver(Observe);
    kvz::alloc::StartCounting();
    long sum = kvz::alloc::RunEveryExport();
    long allocations = kvz::alloc::StopCounting();
    kvz::recording::SetObserver(nullptr);
    EXPECT_EQ(allocations, 0);
    std::cout << "allocations during every export: " << allocations << "\n";
    EXPECT_EQ(g_outputs, kvz::alloc::kOutputs);
    EXPECT_EQ(g_boxes, kvz::alloc::kBoxes);
    EXPECT_EQ(g_traps, 0);
    // Hooks 6 + 10 + 0; every box answers CANCEL: 1 and 2 from the prompts, and 1 from
    // _WarnFinal, whose box was answered; twice.
    EXPECT_EQ(sum, 6 + 10 + 2 * (1 + 2 + 2 + 1));
    EXPECT_EQ(std::u16string(g_lastBox), u"final\n Press OK to continue.");
}

// With a debugger attached, the trap path runs too (the recording platform takes the
// trap's signal in place of a debugger).
TEST(NoAllocation, EveryExportFromItsFirstCallWithADebugger) {
    kvz::recording::Reset();
    kvz::recording::SetDebuggerAttached(true);
    kvz::recording::SetObserver(Observe);
    kvz::alloc::StartCounting();
    kvz::alloc::RunEveryExport();
    long allocations = kvz::alloc::StopCounting();
    kvz::recording::SetObserver(nullptr);
    EXPECT_EQ(allocations, 0);
    std::cout << "allocations during every export, traps included: " << allocations << "\n";
    // Three forwarding entry points and four prompts with no hook trap once each.
    EXPECT_EQ(g_traps, 7);
}

} // namespace
