// The prompts on a real pseudo-terminal, and with no terminal at all.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::ChildResult;
using kvz::testing::RunChild;

int WarnRelease() {
    return _WarnRelease(u"disk.cpp", 12, u"%d%% full", 97);
}
int WarnDebug() {
    return _WarnDebug(u"disk.cpp", 12, u"x");
}
int BreakRelease() {
    return _BreakRelease(u"loop.cpp", 3);
}
int WarnFinal() {
    return _WarnFinal(u"closing");
}

ChildResult Ask(const std::string &keys, int (*prompt)()) {
    ChildOptions options;
    options.keys = keys;
    return RunChild(options, prompt);
}

TEST(TerminalPrompt, ThePersonSeesCaptionTextAndChoices) {
    ChildResult result = Ask("o", WarnRelease);
    EXPECT_EQ(result.exitCode, Continue);
    EXPECT_NE(result.terminal.find("[Assertion Failure]"), std::string::npos) << result.terminal;
    // The pseudo-terminal turns each line feed into CR LF on the way out.
    EXPECT_NE(result.terminal.find("disk.cpp, line 12 : 97% full\r\n Press OK to continue or "
                                   "CANCEL to report this error."),
              std::string::npos)
        << result.terminal;
    EXPECT_NE(result.terminal.find("[OK: Enter or o] [CANCEL: c or Escape] OK"), std::string::npos)
        << result.terminal;

    result = Ask("o", BreakRelease);
    EXPECT_NE(result.terminal.find("[Debug Breakpoint]"), std::string::npos) << result.terminal;
    result = Ask("\r", WarnFinal);
    EXPECT_NE(result.terminal.find("closing\r\n Press OK to continue.\r\n[OK: Enter] OK"),
              std::string::npos)
        << result.terminal;
}

TEST(TerminalPrompt, EachKeyGivesItsAnswer) {
    struct Row {
        const char *keys;
        int (*prompt)();
        int expected;
    } rows[] = {
        {"\r", WarnRelease, Continue},  {"o", WarnRelease, Continue},    {"O", WarnDebug, Continue},
        {"c", WarnRelease, Report},     {"\x1b", WarnRelease, Report},   {"c", WarnDebug, Debug},
        {"\x1b", BreakRelease, Report}, {"x\r", BreakRelease, Continue}, // x answers nothing
        {"\x04", WarnRelease, Report},                                   // end of input
        {"\r", WarnFinal, 1},           {"\x1b", WarnFinal, 1},          {"\x04", WarnFinal, 1},
    };
    for (const Row &row : rows) {
        ChildResult result = Ask(row.keys, row.prompt);
        EXPECT_EQ(result.exitCode, row.expected)
            << "keys " << ::testing::PrintToString(row.keys) << "\n"
            << result.terminal;
    }
}

int HungUp(int (*prompt)()) {
    signal(SIGHUP, SIG_IGN);
    return prompt();
}

TEST(TerminalPrompt, ATerminalThatGoesAwayAnswersAsClosingTheBox) {
    ChildOptions options;
    options.hangUp = true;
    EXPECT_EQ(RunChild(options, [] { return HungUp(WarnRelease); }).exitCode, Report);
    EXPECT_EQ(RunChild(options, [] { return HungUp(WarnFinal); }).exitCode, 1);
}

bool SameSettings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Exit codes: the prompt's answer, or 90 when the settings were not put back.
int PromptKeepingSettings(int (*prompt)()) {
    int tty = STDOUT_FILENO; // the pseudo-terminal
    termios before, after;
    tcgetattr(tty, &before);
    int answer = prompt();
    tcgetattr(tty, &after);
    return SameSettings(before, after) ? answer : 90;
}

void OnAlarm(int) {}

TEST(TerminalPrompt, SettingsArePutBackAfterAnAnswer) {
    ChildOptions typed;
    typed.keys = "o";
    EXPECT_EQ(RunChild(typed, [] { return PromptKeepingSettings(WarnRelease); }).exitCode,
              Continue);
}

// A signal that interrupts the read (Ctrl-C with a host handler, say) ends the prompt as
// CANCEL, with the settings put back.
TEST(TerminalPrompt, AnInterruptedReadCancelsAndPutsTheSettingsBack) {
    ChildResult result = RunChild({}, [] {
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnAlarm; // no SA_RESTART: the read returns EINTR
        sigaction(SIGALRM, &action, nullptr);
        alarm(1);
        return PromptKeepingSettings(WarnDebug);
    });
    EXPECT_EQ(result.exitCode, Debug) << result.terminal;
}

TEST(TerminalPrompt, StandardInputIsNeverRead) {
    ChildOptions options;
    options.keys = "o";
    options.standardInput = "host's own input";
    ChildResult result = RunChild(options, [] {
        int answer = WarnRelease();
        char buffer[64] = {};
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer - 1);
        bool intact = got > 0 && strcmp(buffer, "host's own input") == 0;
        return intact ? answer : 91;
    });
    EXPECT_EQ(result.exitCode, Continue);
}

TEST(Headless, NoTerminalAndNoDisplayAnswersAtOnce) {
    ChildOptions options;
    options.withTerminal = false;
    options.timeoutSeconds = 10;
    EXPECT_EQ(RunChild(options, WarnDebug).exitCode, Debug);
    EXPECT_EQ(RunChild(options, WarnRelease).exitCode, Report);
    EXPECT_EQ(RunChild(options, BreakRelease).exitCode, Report);
    EXPECT_EQ(RunChild(options, WarnFinal).exitCode, 0) << "cannot be shown";
}

} // namespace
