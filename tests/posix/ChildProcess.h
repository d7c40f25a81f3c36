// Runs a piece of test code in a child process, on a pseudo-terminal or with none, and
// collects what it wrote and how it ended. The test side of the pseudo-terminal plays a
// person at a VT100-like terminal: it types keys when asked, answers cursor-position
// requests as a terminal does, signals, stops and continues the child.
#pragma once

#include <functional>
#include <stddef.h>
#include <string>
#include <vector>

namespace kvz::testing {

struct ChildResult {
    int exitCode = -1;    // the child's exit code, or -1 when it did not exit normally
    std::string terminal; // what the child wrote on its terminal
    std::string standardError;
    bool settingsKept = false; // the terminal's settings after the child were those before it
};

// One exchange with a prompt. Turn i is played once the prompt has asked i + 1 times (the
// choices "[OK" have been shown that often).
struct Turn {
    std::string keys;      // typed on the terminal
    int signal = 0;        // sent to the child first, once it sleeps waiting for a key
    size_t errorBytes = 0; // the keys wait until the child's standard error holds this many
                           // bytes (a handler or another thread says it is ready)
    bool stopped = false;  // the keys are typed while the child is stopped (SIGSTOP) and its
                           // terminal is in the settings it started with, as a shell leaves
                           // it; once they are echoed the child is continued (SIGCONT)
};

struct ChildOptions {
    bool withTerminal = true; // a pseudo-terminal as the controlling terminal; else none
    std::vector<Turn> turns;
    std::string typedFirst;    // typed at once, before anything is asked
    bool hangUp = false;       // close the terminal at the first question instead of typing
    std::string standardInput; // what the child finds on standard input (a pipe)
    int timeoutSeconds = 20;
};

// body runs in the child; its return value is the child's exit code. The terminal answers
// a cursor-position request (ESC [ 6 n) in the child's output by typing ESC [ 3 ; 1 5 R.
ChildResult RunChild(const ChildOptions &options, const std::function<int()> &body);

// In a child with a terminal: runs body as the foreground job of a small job-control
// shell. When the job stops (Ctrl-Z) the shell takes the terminal back in the settings it
// had, as shells do, then continues the job in the foreground, as `fg` does. Returns the
// job's exit code, or -1 when it did not exit normally.
int RunAsJob(const std::function<int()> &body);

} // namespace kvz::testing
