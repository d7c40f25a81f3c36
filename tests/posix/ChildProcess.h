// Runs a piece of test code in a child process, on a pseudo-terminal or with none, and
// collects what it wrote and how it ended.
#pragma once

#include <functional>
#include <string>

namespace kvz::testing {

struct ChildResult {
    int exitCode = -1;    // the child's exit code, or -1 when it did not exit normally
    std::string terminal; // what the child wrote on its terminal
    std::string standardError;
};

struct ChildOptions {
    bool withTerminal = true;  // a pseudo-terminal as the controlling terminal; else none
    std::string keys;          // typed on the terminal once the child waits for a key
    bool hangUp = false;       // close the terminal instead of typing
    std::string standardInput; // what the child finds on standard input (a pipe)
    int timeoutSeconds = 20;
};

// body runs in the child; its return value is the child's exit code.
ChildResult RunChild(const ChildOptions &options, const std::function<int()> &body);

} // namespace kvz::testing
