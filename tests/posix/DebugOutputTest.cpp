// _DebugOutput through a real pipe: the exact bytes on standard error.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::RunChild;

std::string Output(int (*body)()) {
    ChildOptions options;
    options.withTerminal = false;
    return RunChild(options, body).standardError;
}

TEST(DebugOutput, WritesExactlyTheFormattedTextAsUtf8) {
    EXPECT_EQ(Output([] {
                  _DebugOutput(u"plain text");
                  return 0;
              }),
              "plain text")
        << "no line feed added";
    EXPECT_EQ(Output([] {
                  _DebugOutput(u"h\u00e9llo %s %d\n", u"\U0001F600", -5);
                  return 0;
              }),
              "h\xc3\xa9llo \xf0\x9f\x98\x80 -5\n");
}

TEST(DebugOutput, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(Output([] {
                  const char16_t text[] = {u'a', 0xD800, u'b', 0xDC00, 0};
                  _DebugOutput(u"%s", text);
                  return 0;
              }),
              "a\xef\xbf\xbd"
              "b\xef\xbf\xbd");
}

TEST(DebugOutput, LongTextIsCutAt1023Units) {
    std::string out = Output([] {
        std::u16string text(3000, u'\u20ac'); // three bytes each in UTF-8
        _DebugOutput(u"%s", text.c_str());
        return 0;
    });
    EXPECT_EQ(out.size(), 1023u * 3);
}

} // namespace
