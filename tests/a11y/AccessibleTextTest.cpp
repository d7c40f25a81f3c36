// The pieces of the box's accessibility that need no bus: the text handed to libdbus (which
// ends the process on text that is not UTF-8), its cutting by characters as AT-SPI counts
// offsets, and reading a call's arguments.
#include "KVZDebugLib/platform/dialog/AccessibleText.h"
#include "KVZDebugLib/platform/dialog/DbusWrite.h"

#include <gtest/gtest.h>

#include <string>

namespace kvz::platform {
namespace {

struct SafeCase {
    const char *name;
    std::u16string text;
    size_t capacity;
    const char *utf8;
    int characters;
};

TEST(AccessibleText, SafeUtf8IsTextLibdbusTakes) {
    const SafeCase cases[] = {
        {"ascii", u"OK", 16, "OK", 2},
        {"pair", u"a\U0001F600", 16, "a\xF0\x9F\x98\x80", 2},
        {"lone high", u"a\xD800z", 16, "a\xEF\xBF\xBDz", 3},
        {"lone low", u"\xDC00", 16, "\xEF\xBF\xBD", 1},
        {"high at the end", u"a\xD83D", 16, "a\xEF\xBF\xBD", 2},
        {"noncharacters", u"\xFFFE\xFFFF\xFDD0", 16, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 3},
        {"cut before a character", u"ab\x00E9", 4, "ab", 2},
        {"cut before a pair", u"a\U0001F600", 4, "a", 1},
        {"no room", u"abc", 1, "", 0},
    };
    const DbusFunctions *dbus = LoadDbus();
    for (const SafeCase &c : cases) {
        char out[16] = {'x'};
        const int characters = SafeUtf8(reinterpret_cast<const KVZChar *>(c.text.c_str()),
                                        c.text.size(), out, c.capacity);
        EXPECT_STREQ(out, c.utf8) << c.name;
        EXPECT_EQ(characters, c.characters) << c.name;
        if (dbus != nullptr) {
            EXPECT_TRUE(dbus->dbus_validate_utf8(out, nullptr)) << c.name;
        }
    }
}

TEST(AccessibleText, SafeUtf8StopsAtTheCountAndTheTerminator) {
    const char16_t text[] = u"abc\0def";
    char out[16];
    EXPECT_EQ(SafeUtf8(reinterpret_cast<const KVZChar *>(text), 2, out, sizeof out), 2);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(SafeUtf8(reinterpret_cast<const KVZChar *>(text), 7, out, sizeof out), 3);
    EXPECT_STREQ(out, "abc");
}

struct SliceCase {
    int start, end;
    const char *text;
    int characters;
};

TEST(AccessibleText, SlicesCountCharactersNotBytes) {
    const char *text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // a é € 😀 z
    const SliceCase cases[] = {
        {0, -1, text, 5},
        {1, 3, "\xC3\xA9\xE2\x82\xAC", 2},
        {3, 4, "\xF0\x9F\x98\x80", 1},
        {4, 99, "z", 1},
        {-5, 1, "a", 1},
        {3, 2, "", 0},
        {9, 12, "", 0},
    };
    for (const SliceCase &c : cases) {
        char out[32];
        EXPECT_EQ(Utf8Slice(text, 5, c.start, c.end, out, sizeof out), c.characters)
            << c.start << ".." << c.end;
        EXPECT_STREQ(out, c.text) << c.start << ".." << c.end;
    }
    EXPECT_EQ(Utf8At(text, 5, 0), 0x61u);
    EXPECT_EQ(Utf8At(text, 5, 1), 0xE9u);
    EXPECT_EQ(Utf8At(text, 5, 2), 0x20ACu);
    EXPECT_EQ(Utf8At(text, 5, 3), 0x1F600u);
    EXPECT_EQ(Utf8At(text, 5, 5), 0u);
    EXPECT_EQ(Utf8At(text, 5, -1), 0u);
}

TEST(AccessibleText, ASliceThatDoesNotFitIsEmptyNotCut) {
    char out[3];
    EXPECT_EQ(Utf8Slice("a\xE2\x82\xAC", 2, 0, -1, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

TEST(AccessibleText, ReadsTheArgumentsOfACall) {
    const DbusFunctions *dbus = LoadDbus();
    if (dbus == nullptr) {
        GTEST_SKIP() << "libdbus-1.so.3 cannot be loaded";
    }
    DBusMessage *call = dbus->dbus_message_new_method_call("a.b", "/a", "a.b", "GetText");
    DBusMessageIter at;
    dbus->dbus_message_iter_init_append(call, &at);
    PutInt({*dbus, &at}, 4);
    PutUint({*dbus, &at}, 7);
    PutString({*dbus, &at}, "name");
    int32_t ints[3] = {-1, -1, -1};
    EXPECT_EQ(ReadInts(*dbus, call, ints, 3), 2); // the string ends them
    EXPECT_EQ(ints[0], 4);
    EXPECT_EQ(ints[1], 7);
    EXPECT_EQ(ints[2], -1);
    EXPECT_STREQ(ReadString(*dbus, call, 2), "name");
    EXPECT_EQ(ReadString(*dbus, call, 0), nullptr);
    EXPECT_EQ(ReadString(*dbus, call, 5), nullptr);
    dbus->dbus_message_unref(call);
}

} // namespace
} // namespace kvz::platform
