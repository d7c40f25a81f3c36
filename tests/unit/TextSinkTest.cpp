// The bounded text sink: what each call keeps when room runs out, the terminator it always
// leaves, and the half surrogate pair that a cut drops.
#include "KVZDebugLib/text/TextSink.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using Text = std::basic_string<KVZChar>;
#define K(s) KVZ_TEXT(s)

constexpr KVZChar kGuard = 0x5A5A;

struct Result {
    Text text;
    bool truncated;
};

// Runs `fill` on a sink over `capacity` units followed by guard units; checks the guard,
// the terminator after every call's text, and what SinkFinish returns.
template <class F> Result Fill(size_t capacity, F fill) {
    std::vector<KVZChar> buffer(capacity + 4, kGuard);
    kvz::TextSink sink = kvz::MakeTextSink(buffer.data(), capacity);
    fill(sink);
    if (capacity != 0) {
        EXPECT_EQ(buffer[sink.length], 0) << "not terminated before SinkFinish";
    }
    bool truncated = sink.truncated;
    size_t length = kvz::SinkFinish(sink);
    for (size_t i = capacity; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kGuard) << "written past the capacity at " << i;
    }
    if (capacity == 0) {
        EXPECT_EQ(length, 0u);
        return {Text(), truncated};
    }
    EXPECT_EQ(length, sink.length);
    EXPECT_EQ(buffer[length], 0);
    return {Text(buffer.data(), length), truncated};
}

TEST(TextSink, EachCallKeepsWhatFitsAndNotesTheRest) {
    struct Case {
        size_t capacity;
        void (*fill)(kvz::TextSink &);
        const KVZChar *expected;
        bool truncated;
    };
    const Case cases[] = {
        {8, [](kvz::TextSink &s) { kvz::SinkPut(s, 'a'); }, K("a"), false},
        {2,
         [](kvz::TextSink &s) {
             kvz::SinkPut(s, 'a');
             kvz::SinkPut(s, 'b');
         },
         K("a"), true},
        {8, [](kvz::TextSink &s) { kvz::SinkPutText(s, K("abc"), 3); }, K("abc"), false},
        {3, [](kvz::TextSink &s) { kvz::SinkPutText(s, K("abc"), 3); }, K("ab"), true},
        {4, [](kvz::TextSink &s) { kvz::SinkPutText(s, K("abc"), 3); }, K("abc"), false},
        {4, [](kvz::TextSink &s) { kvz::SinkPutText(s, nullptr, 3); }, K(""), false},
        {8, [](kvz::TextSink &s) { kvz::SinkPutTerminated(s, K("hello")); }, K("hello"), false},
        {6, [](kvz::TextSink &s) { kvz::SinkPutTerminated(s, K("hello")); }, K("hello"), false},
        {5, [](kvz::TextSink &s) { kvz::SinkPutTerminated(s, K("hello")); }, K("hell"), true},
        {5, [](kvz::TextSink &s) { kvz::SinkPutTerminated(s, nullptr); }, K(""), false},
        {8, [](kvz::TextSink &s) { kvz::SinkPutRepeat(s, '-', 3); }, K("---"), false},
        {4, [](kvz::TextSink &s) { kvz::SinkPutRepeat(s, '-', SIZE_MAX); }, K("---"), true},
        {4, [](kvz::TextSink &s) { kvz::SinkPutRepeat(s, '-', 0); }, K(""), false},
        {16, [](kvz::TextSink &s) { kvz::SinkPutInt(s, 0); }, K("0"), false},
        {16, [](kvz::TextSink &s) { kvz::SinkPutInt(s, -7); }, K("-7"), false},
        {16, [](kvz::TextSink &s) { kvz::SinkPutInt(s, INT32_MAX); }, K("2147483647"), false},
        {16, [](kvz::TextSink &s) { kvz::SinkPutInt(s, INT32_MIN); }, K("-2147483648"), false},
        {4, [](kvz::TextSink &s) { kvz::SinkPutInt(s, -12345); }, K("-12"), true},
        // Once full, a call that adds nothing is no cut; one that adds something is.
        {3,
         [](kvz::TextSink &s) {
             kvz::SinkPutText(s, K("ab"), 2);
             kvz::SinkPutTerminated(s, K(""));
             kvz::SinkPutRepeat(s, 'x', 0);
         },
         K("ab"), false},
        {3,
         [](kvz::TextSink &s) {
             kvz::SinkPutText(s, K("ab"), 2);
             kvz::SinkPutInt(s, 1);
         },
         K("ab"), true},
        {1, [](kvz::TextSink &s) { kvz::SinkPut(s, 'a'); }, K(""), true},
        {0, [](kvz::TextSink &s) { kvz::SinkPutTerminated(s, K("a")); }, K(""), true},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Result result = Fill(cases[i].capacity, cases[i].fill);
        EXPECT_EQ(result.text, cases[i].expected) << "case " << i;
        EXPECT_EQ(result.truncated, cases[i].truncated) << "case " << i;
    }
}

TEST(TextSink, ACutDropsATrailingHighSurrogateAndNothingElse) {
    const KVZChar pair[] = {'a', 0xD83D, 0xDE00};
    // Cut inside the pair: the high half goes too.
    EXPECT_EQ(Fill(3, [&](kvz::TextSink &s) { kvz::SinkPutText(s, pair, 3); }).text, K("a"));
    EXPECT_EQ(Fill(3,
                   [&](kvz::TextSink &s) {
                       kvz::SinkPut(s, 'a');
                       kvz::SinkPut(s, 0xD83D);
                       kvz::SinkPut(s, 0xDE00);
                   })
                  .text,
              K("a"));
    // The pair fits whole, then something else is cut: the pair stays.
    EXPECT_EQ(Fill(4,
                   [&](kvz::TextSink &s) {
                       kvz::SinkPutText(s, pair, 3);
                       kvz::SinkPut(s, 'z');
                   })
                  .text,
              Text(pair, 3));
    // A lone high surrogate at the end of text that was not cut stays.
    EXPECT_EQ(Fill(4, [&](kvz::TextSink &s) { kvz::SinkPutText(s, pair, 2); }).text, Text(pair, 2));
    // A low surrogate at the end of a cut is left alone.
    const KVZChar low[] = {'a', 0xDE00, 'b'};
    EXPECT_EQ(Fill(3, [&](kvz::TextSink &s) { kvz::SinkPutText(s, low, 3); }).text, Text(low, 2));
}

TEST(TextSink, ANullBufferHoldsNothing) {
    kvz::TextSink sink = kvz::MakeTextSink(nullptr, 100);
    EXPECT_EQ(kvz::SinkRoom(sink), 0u);
    kvz::SinkPutTerminated(sink, K("abc"));
    kvz::SinkPutInt(sink, 5);
    EXPECT_TRUE(sink.truncated);
    EXPECT_EQ(kvz::SinkFinish(sink), 0u);
}

#if !defined(_WIN32)
TEST(TextSink, PutTerminatedReadsNoMoreThanTheRoomAndOneUnit) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    char *base = static_cast<char *>(map);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    // Sixteen units with no terminator, right before the unreadable page.
    KVZChar *text = reinterpret_cast<KVZChar *>(base + page) - 16;
    for (size_t i = 0; i < 16; ++i) {
        text[i] = 'x';
    }
    Result result = Fill(16, [&](kvz::TextSink &s) { kvz::SinkPutTerminated(s, text); });
    EXPECT_EQ(result.text, Text(15, 'x'));
    EXPECT_TRUE(result.truncated);
    result = Fill(12, [&](kvz::TextSink &s) {
        kvz::SinkPutText(s, K("ab"), 2);
        kvz::SinkPutTerminated(s, text + 6); // room for 9: reads those and one more, the last
    });
    EXPECT_EQ(result.text, K("ab") + Text(9, 'x'));
    munmap(map, 2 * page);
}
#endif

} // namespace
