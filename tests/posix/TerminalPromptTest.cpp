// The prompts on a real pseudo-terminal, and with no terminal at all.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::ChildResult;
using kvz::testing::RunAsJob;
using kvz::testing::RunChild;
using kvz::testing::Turn;

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

// Exit code 93 when input is left on the terminal after the prompt: the tail of a key's
// escape sequence, which the host's next reader (a shell) would take as typed.
int NothingLeftOver(int answer) {
    termios settings, peek;
    tcgetattr(STDOUT_FILENO, &settings);
    peek = settings;
    peek.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    peek.c_cc[VMIN] = 0;
    peek.c_cc[VTIME] = 0;
    tcsetattr(STDOUT_FILENO, TCSANOW, &peek);
    char left = 0;
    const ssize_t got = read(STDOUT_FILENO, &left, 1);
    tcsetattr(STDOUT_FILENO, TCSANOW, &settings);
    return got > 0 ? 93 : answer;
}

ChildResult Ask(const std::vector<Turn> &turns, int (*prompt)()) {
    ChildOptions options;
    options.turns = turns;
    return RunChild(options, [prompt] { return NothingLeftOver(prompt()); });
}

std::string Keys(const std::string &keys) {
    return ::testing::PrintToString(keys);
}

TEST(TerminalPrompt, ThePersonSeesCaptionTextAndChoices) {
    ChildResult result = Ask({{"o"}}, WarnRelease);
    EXPECT_EQ(result.exitCode, Continue);
    EXPECT_NE(result.terminal.find("[Assertion Failure]"), std::string::npos) << result.terminal;
    // The pseudo-terminal turns each line feed into CR LF on the way out.
    EXPECT_NE(result.terminal.find("disk.cpp, line 12 : 97% full\r\n Press OK to continue or "
                                   "CANCEL to report this error."),
              std::string::npos)
        << result.terminal;
    EXPECT_NE(result.terminal.find("[OK: Enter or o] [CANCEL: c or Escape] OK"), std::string::npos)
        << result.terminal;

    result = Ask({{"o"}}, BreakRelease);
    EXPECT_NE(result.terminal.find("[Debug Breakpoint]"), std::string::npos) << result.terminal;
    result = Ask({{"\r"}}, WarnFinal);
    EXPECT_NE(result.terminal.find("closing\r\n Press OK to continue.\r\n[OK: Enter] OK"),
              std::string::npos)
        << result.terminal;
}

// Each row: the keys typed, and the answer. Escape sequences (arrows, function keys, the
// terminal's replies) are read whole and answer nothing; Ctrl-C and Ctrl-\ are keys that
// answer as Escape does, without ending the host. Nothing is left for the next reader,
// and the terminal's settings are as they were.
TEST(TerminalPrompt, EachKeyGivesItsAnswer) {
    struct Row {
        const char *keys;
        int (*prompt)();
        int expected;
    } rows[] = {
        {"\r", WarnRelease, Continue},
        {"o", WarnRelease, Continue},
        {"O", WarnDebug, Continue},
        {"c", WarnRelease, Report},
        {"\x1b", WarnRelease, Report},
        {"c", WarnDebug, Debug},
        {"\x1b", BreakRelease, Report},
        {"x\r", BreakRelease, Continue}, // x answers nothing
        {"\x04", WarnRelease, Report},   // end of input
        {"\r", WarnFinal, 1},
        {"\x1b", WarnFinal, 1},
        {"\x04", WarnFinal, 1},
        // Keys and replies that begin with Escape.
        {"\x1b[Ao", WarnRelease, Continue},                // up arrow
        {"\x1bOPo", WarnRelease, Continue},                // F1
        {"\x1b[15~\x1b[1;5Cc", WarnDebug, Debug},          // F5, Ctrl-right
        {"\x1b[3;15Ro", WarnRelease, Continue},            // a cursor-position report
        {"\x1b]11;rgb:0/0/0\x07o", WarnRelease, Continue}, // a colour reply, ended by BEL
        {"\x1bP1$r0m\x1b\\o", WarnRelease, Continue},      // a status string, ended by ST
        {"\x1bxo", WarnRelease, Continue},                 // Alt-x
        {"\x1b[A\r", WarnFinal, 1},
        // Interrupt and quit.
        {"\x03", WarnRelease, Report},
        {"\x1c", WarnDebug, Debug},
        {"\x03", WarnFinal, 1},
        {"\x1c", WarnFinal, 1},
    };
    for (const Row &row : rows) {
        ChildResult result = Ask({{row.keys}}, row.prompt);
        EXPECT_EQ(result.exitCode, row.expected) << "keys " << Keys(row.keys) << "\n"
                                                 << result.terminal;
        EXPECT_TRUE(result.settingsKept) << "keys " << Keys(row.keys);
    }
}

// A host handler for SIGINT that ends the process must not be reached from the prompt.
TEST(TerminalPrompt, CtrlCDoesNotReachTheHostsHandler) {
    ChildOptions options;
    options.turns = {{"\x03"}};
    ChildResult result = RunChild(options, [] {
        signal(SIGINT, [](int) { _exit(70); });
        return WarnRelease();
    });
    EXPECT_EQ(result.exitCode, Report) << result.terminal;
    EXPECT_TRUE(result.settingsKept);
}

TEST(TerminalPrompt, ATerminalThatGoesAwayAnswersAsClosingTheBox) {
    ChildOptions options;
    options.hangUp = true;
    auto hungUp = [](int (*prompt)()) {
        return [prompt] {
            signal(SIGHUP, SIG_IGN);
            return prompt();
        };
    };
    EXPECT_EQ(RunChild(options, hungUp(WarnRelease)).exitCode, Report);
    EXPECT_EQ(RunChild(options, hungUp(WarnFinal)).exitCode, 1);
}

#define STAND_IN "\xEF\xBF\xBD" // U+FFFD in UTF-8

// Bytes the host's text must never put on the terminal: C0 controls other than line
// feed, tab and the CR of the terminal's own CR LF; DEL; C1 controls; bidi controls.
std::string FirstControl(const std::string &shown) {
    static const char *const kSequences[] = {
        "\xC2\x80",     "\xC2\x85",     "\xC2\x9B",     "\xC2\x9F",     "\xE2\x80\xAE",
        "\xE2\x80\xAA", "\xE2\x81\xA6", "\xE2\x81\xA9", "\xE2\x80\x8F", "\xD8\x9C"};
    for (size_t i = 0; i < shown.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(shown[i]);
        const bool lineEnd = byte == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n';
        if ((byte < 0x20 && byte != '\n' && byte != '\t' && !lineEnd) || byte == 0x7F) {
            return "byte " + std::to_string(byte) + " at " + std::to_string(i);
        }
    }
    for (const char *sequence : kSequences) {
        if (shown.find(sequence) != std::string::npos) {
            return Keys(sequence);
        }
    }
    return "";
}

// Each row: a file name and detail from the host, and what the terminal must show of
// them. Every control becomes U+FFFD. The request for the cursor position must not make
// the terminal type a reply that answers the prompt.
TEST(TerminalPrompt, HostTextIsShownAsText) {
    struct Row {
        const char16_t *file;
        const char16_t *detail;
        const char *shown;
    } rows[] = {
        {u"disk.cpp", u"<\x1b[2J>", "<" STAND_IN "[2J>"},
        {u"disk.cpp", u"<\x1b]0;title\a>", "<" STAND_IN "]0;title" STAND_IN ">"},
        {u"disk.cpp", u"<\x1b[31mred>", "<" STAND_IN "[31mred>"},
        {u"disk.cpp", u"<a\rb\bc\x7f>", "<a" STAND_IN "b" STAND_IN "c" STAND_IN ">"},
        {u"disk.cpp", u"<\u009b6n\u0085>", "<" STAND_IN "6n" STAND_IN ">"},
        {u"disk.cpp", u"<\u202eevil\u2066\u200f>", "<" STAND_IN "evil" STAND_IN STAND_IN ">"},
        {u"disk.cpp", u"<\x1b[6n>", "<" STAND_IN "[6n>"},
        {u"<\x1b[2J>.cpp", u"x", "<" STAND_IN "[2J>.cpp, line 12"},
        {u"disk.cpp", u"<tab\there\nline \u00e9 \U0001d11e>",
         "<tab\there\r\nline \xC3\xA9 \xF0\x9D\x84\x9E>"},
    };
    for (const Row &row : rows) {
        ChildOptions options;
        options.turns = {{"o"}};
        ChildResult result = RunChild(options, [&row] {
            return NothingLeftOver(_WarnRelease(row.file, 12, u"%s", row.detail));
        });
        EXPECT_EQ(result.exitCode, Continue) << row.shown << "\n" << result.terminal;
        EXPECT_NE(result.terminal.find(row.shown), std::string::npos) << Keys(row.shown) << "\n"
                                                                      << Keys(result.terminal);
        EXPECT_EQ(FirstControl(result.terminal), "") << Keys(result.terminal);
        EXPECT_TRUE(result.settingsKept) << row.shown;
    }
}

// A handler installed by the host without SA_RESTART, as a host in trouble may have.
// It says on standard error that it ran: the signal kind writes '!', the prompting kind
// the result of a prompt of its own, nested in the one its thread is showing.
void MarkSignal(int) {
    const char mark = '!';
    ssize_t ignored = write(STDERR_FILENO, &mark, 1);
    (void)ignored;
}
void PromptInHandler(int) {
    const char result = static_cast<char>('0' + _WarnFinal(u"nested"));
    ssize_t ignored = write(STDERR_FILENO, &result, 1);
    (void)ignored;
}

// Each row: a signal that reaches the host while its prompt waits. The prompt goes on
// waiting for the key typed after the handler ran; a nested prompt is not shown (0).
TEST(TerminalPrompt, SignalsDoNotAnswer) {
    struct Row {
        int signal;
        void (*handler)(int);
        const char *handlerWrote;
    } rows[] = {
        {SIGALRM, MarkSignal, "!"},
        {SIGCHLD, MarkSignal, "!"},
        {SIGWINCH, MarkSignal, "!"},
        {SIGUSR1, PromptInHandler, "0"},
    };
    for (const Row &row : rows) {
        ChildOptions options;
        options.turns = {{"o", row.signal, 1}};
        ChildResult result = RunChild(options, [&row] {
            struct sigaction action;
            memset(&action, 0, sizeof action);
            action.sa_handler = row.handler; // no SA_RESTART: a read returns EINTR
            sigaction(row.signal, &action, nullptr);
            return WarnDebug();
        });
        EXPECT_EQ(result.exitCode, Continue) << "signal " << row.signal << "\n" << result.terminal;
        EXPECT_EQ(result.standardError, row.handlerWrote) << "signal " << row.signal;
        EXPECT_TRUE(result.settingsKept) << "signal " << row.signal;
    }
}

// Waits until a whole line has been typed on the terminal, which is in line mode.
int AfterTypeAhead(int (*prompt)()) {
    struct pollfd watched = {STDOUT_FILENO, POLLIN, 0};
    poll(&watched, 1, 10000);
    return prompt();
}

// Keys typed while the prompt was not asking are not answers: before the question, and
// while the job was stopped and the terminal in line mode (Ctrl-Z or SIGSTOP, then
// continued in the foreground). The prompt asks again and takes the key typed then.
TEST(TerminalPrompt, OnlyKeysTypedAtTheQuestionAnswer) {
    struct Row {
        const char *what;
        std::string typedFirst;
        std::vector<Turn> turns;
        bool asJob;
    } rows[] = {
        {"typed before the question", "o\r", {{"c"}}, false},
        {"Ctrl-Z, typed while stopped, fg",
         "",
         {{"\x1a"
           "o\r"},
          {"c"}},
         true},
        {"SIGSTOP, typed while stopped, SIGCONT", "", {{"o\r", 0, 0, true}, {"c"}}, false},
    };
    for (const Row &row : rows) {
        ChildOptions options;
        options.typedFirst = row.typedFirst;
        options.turns = row.turns;
        ChildResult result = RunChild(options, [&row] {
            if (row.asJob) {
                return RunAsJob([] { return NothingLeftOver(WarnRelease()); });
            }
            return NothingLeftOver(row.typedFirst.empty() ? WarnRelease()
                                                          : AfterTypeAhead(WarnRelease));
        });
        EXPECT_EQ(result.exitCode, Report) << row.what << "\n" << result.terminal;
        EXPECT_TRUE(result.settingsKept) << row.what;
    }
}

bool TerminalInLineMode() {
    termios settings;
    return tcgetattr(STDOUT_FILENO, &settings) == 0 && (settings.c_lflag & ICANON) != 0;
}

// Two threads prompt at once: the second once the first is asking (its terminal out of
// line mode), and it says so on standard error before the first is answered. One question
// at a time; each thread gets the answer typed at its own question; the terminal ends as
// it was.
TEST(TerminalPrompt, ThreadsTakeTurns) {
    ChildOptions options;
    options.turns = {{"o", 0, 1}, {"c"}};
    ChildResult result = RunChild(options, [] {
        int second = -1;
        std::thread asker([&second] {
            while (TerminalInLineMode()) {
                usleep(1000);
            }
            ssize_t ignored = write(STDERR_FILENO, "2", 1);
            (void)ignored;
            second = _WarnRelease(u"second.cpp", 2, u"x");
        });
        const int first = _WarnRelease(u"first.cpp", 1, u"x");
        asker.join();
        return first * 10 + second;
    });
    const std::string &shown = result.terminal;
    EXPECT_EQ(result.exitCode, Continue * 10 + Report) << shown;
    EXPECT_LT(shown.find("] OK"), shown.find("second.cpp"))
        << "the second asked before the first was answered\n"
        << shown;
    EXPECT_TRUE(result.settingsKept);
}

TEST(TerminalPrompt, StandardInputIsNeverRead) {
    ChildOptions options;
    options.turns = {{"o"}};
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
