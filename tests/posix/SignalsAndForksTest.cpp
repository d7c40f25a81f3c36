// Reports where a host in trouble makes them: in a signal handler that interrupts a report
// on the same thread, on a small signal stack, and in a child forked while another thread's
// report held the library's buffers.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <sstream>
#include <string>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::ChildResult;
using kvz::testing::RunChild;

ChildResult Headless(int (*body)()) {
    ChildOptions options;
    options.withTerminal = false;
    options.timeoutSeconds = 60;
    return RunChild(options, body);
}

constexpr int kMainLines = 20000;
std::atomic<int> g_handlerLines{0};

void OnSignal(int) {
    int saved = errno;
    _DebugOutput(u"handler %d\n", g_handlerLines.fetch_add(1));
    errno = saved;
}

// The smallest stack a host commonly gives its handlers, with an unmapped page below it so
// that using more ends the process. Sanitizers' frames are larger: they get more room.
// AArch64's kernel puts a larger frame of its own there (MINSIGSTKSZ 5120, against 2048 on
// x86-64): the handler gets the same room above it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kSignalStackSize = 64 * 1024;
#elif defined(__aarch64__)
constexpr size_t kSignalStackSize = 11 * 1024;
#else
constexpr size_t kSignalStackSize = 8 * 1024;
#endif

void UseSmallSignalStack() {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    char *area = static_cast<char *>(mmap(nullptr, page + kSignalStackSize, PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(area, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = area + page;
    stack.ss_size = kSignalStackSize;
    sigaltstack(&stack, nullptr);
}

// The main thread writes numbered lines while another thread keeps interrupting it with a
// signal whose handler writes lines of its own.
int OutputInterruptedByHandlers() {
    // The host's own first call through its lazily bound import of _DebugOutput would
    // resolve it on the signal stack, with a frame as large as the kernel's: not ours.
    _DebugOutput(u"");
    UseSmallSignalStack();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);

    std::atomic<bool> done{false};
    pthread_t mainThread = pthread_self();
    std::thread interrupter([&] {
        while (!done) {
            pthread_kill(mainThread, SIGUSR1);
            std::this_thread::yield();
        }
    });
    const std::u16string pad(40, u'.');
    for (int i = 0; i < kMainLines; ++i) {
        _DebugOutput(u"main %05d %s\n", i, pad.c_str());
    }
    done = true;
    interrupter.join();
    return g_handlerLines > 0 ? 0 : 3;
}

TEST(SignalsAndForks, AHandlerInterruptingAReportLeavesEveryLineWhole) {
    ChildResult result = Headless(OutputInterruptedByHandlers);
    ASSERT_EQ(result.exitCode, 0) << "deadlocked, overran its signal stack, or never "
                                     "interrupted\n"
                                  << result.terminal;
    const std::string pad(40, '.');
    std::istringstream lines(result.standardError);
    std::string line;
    int mainLines = 0;
    int handlerLines = 0;
    while (std::getline(lines, line)) {
        char expected[96];
        snprintf(expected, sizeof expected, "main %05d %s", mainLines, pad.c_str());
        if (line == expected) {
            ++mainLines;
        } else if (line == "handler " + std::to_string(handlerLines)) {
            ++handlerLines;
        } else {
            ADD_FAILURE() << "a line out of place after " << mainLines << " main lines and "
                          << handlerLines << " handler lines: " << line;
            return;
        }
    }
    EXPECT_EQ(mainLines, kMainLines);
    EXPECT_GT(handlerLines, 0);
}

// A report stays inside the safe-mode hook, holding the library's buffers, while the main
// thread forks. The child's reports must not wait for the thread that is not there.
int ForkWhileAnotherThreadReports() {
    static int toHook[2];
    static int fromHook[2];
    if (pipe(toHook) != 0 || pipe(fromHook) != 0) {
        return 4;
    }
    _SetEnterSafeModeHandler([](void *) -> int32_t {
        char byte = 'i';
        (void)!write(fromHook[1], &byte, 1);
        (void)!read(toHook[0], &byte, 1);
        return 0;
    });
    std::thread reporter([] { _WarnFinal(u"held"); });
    char byte = 0;
    (void)!read(fromHook[0], &byte, 1);

    pid_t child = fork();
    if (child == 0) {
        alarm(10);
        _SetEnterSafeModeHandler(nullptr);
        _DebugOutput(u"child output %d\n", 1);
        int32_t answer = _WarnRelease(u"child.cpp", 2, u"detail");
        _exit(answer == Report ? 0 : 5);
    }
    int status = 0;
    waitpid(child, &status, 0);
    (void)!write(toHook[1], &byte, 1);
    reporter.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(SignalsAndForks, AChildForkedWhileAnotherThreadReportsIsNotHeldUp) {
    ChildResult result = Headless(ForkWhileAnotherThreadReports);
    EXPECT_EQ(result.exitCode, 0) << "100 + 14: the child waited until its alarm";
    EXPECT_EQ(result.standardError, "child output 1\n");
}

} // namespace
