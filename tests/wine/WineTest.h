// Small helpers shared by the Windows test hosts: checks that count failures and say where
// they happened, and wide text shown on the console.
#pragma once

// libstdc++ defines NOMINMAX itself when one of its headers comes first.
#if !defined(WIN32_LEAN_AND_MEAN)
#define WIN32_LEAN_AND_MEAN
#endif
#if !defined(NOMINMAX)
#define NOMINMAX
#endif
#include <windows.h>

#include <stdio.h>
#include <string>

namespace wine_test {

inline int g_failures = 0;

// Wide text as UTF-8, with control characters escaped, for failure messages.
inline std::string Show(const std::wstring &text) {
    std::string out;
    for (wchar_t unit : text) {
        if (unit == L'\n') {
            out += "\\n";
        } else if (unit == L'\r') {
            out += "\\r";
        } else if (unit < 0x20) {
            char code[8];
            snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(unit));
            out += code;
        } else {
            char bytes[8];
            int n =
                WideCharToMultiByte(CP_UTF8, 0, &unit, 1, bytes, sizeof bytes, nullptr, nullptr);
            out.append(bytes, n > 0 ? static_cast<size_t>(n) : 0);
        }
    }
    return out;
}

inline void Fail(const char *file, int line, const std::string &what) {
    ++g_failures;
    fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, what.c_str());
    fflush(stderr);
}

// Ends a host: a summary line and an exit code of 0 only when every check held.
inline int Finish(const char *name) {
    if (g_failures != 0) {
        printf("%s: %d check(s) failed\n", name, g_failures);
    } else {
        printf("%s: all checks passed\n", name);
    }
    fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}

} // namespace wine_test

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            wine_test::Fail(__FILE__, __LINE__, #condition);                                       \
        }                                                                                          \
    } while (0)

#define CHECK_EQ(expected, actual)                                                                 \
    do {                                                                                           \
        auto kvzExpected_ = (expected);                                                            \
        auto kvzActual_ = (actual);                                                                \
        if (!(kvzExpected_ == kvzActual_)) {                                                       \
            wine_test::Fail(__FILE__, __LINE__,                                                    \
                            std::string(#actual " == " #expected ": got ") +                       \
                                std::to_string(kvzActual_) + ", expected " +                       \
                                std::to_string(kvzExpected_));                                     \
        }                                                                                          \
    } while (0)

#define CHECK_TEXT(expected, actual)                                                               \
    do {                                                                                           \
        std::wstring kvzExpected_ = (expected);                                                    \
        std::wstring kvzActual_ = (actual);                                                        \
        if (kvzExpected_ != kvzActual_) {                                                          \
            wine_test::Fail(__FILE__, __LINE__,                                                    \
                            std::string(#actual ":\n    got      \"") +                            \
                                wine_test::Show(kvzActual_) + "\"\n    expected \"" +              \
                                wine_test::Show(kvzExpected_) + "\"");                             \
        }                                                                                          \
    } while (0)
