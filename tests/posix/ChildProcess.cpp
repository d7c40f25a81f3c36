#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace kvz::testing {

namespace {

void Drain(int fd, std::string &into) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        into.append(buffer, static_cast<size_t>(got));
    }
}

} // namespace

ChildResult RunChild(const ChildOptions &options, const std::function<int()> &body) {
    int err[2], in[2];
    if (pipe(err) != 0 || pipe(in) != 0) {
        return {};
    }
    int master = -1;
    pid_t pid = options.withTerminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (pid == 0) {
        if (!options.withTerminal) {
            setsid();
        }
        dup2(err[1], STDERR_FILENO);
        dup2(in[0], STDIN_FILENO);
        close(err[0]);
        close(in[1]);
        unsetenv("DISPLAY");
        _exit(body());
    }
    close(err[1]);
    close(in[0]);
    if (!options.standardInput.empty() &&
        write(in[1], options.standardInput.data(), options.standardInput.size()) < 0) {
        kill(pid, SIGKILL);
    }
    close(in[1]);
    fcntl(err[0], F_SETFL, O_NONBLOCK);

    ChildResult result;
    bool typed = false;
    time_t deadline = time(nullptr) + options.timeoutSeconds;
    int status = 0;
    for (;;) {
        if (master >= 0) {
            fcntl(master, F_SETFL, O_NONBLOCK);
            Drain(master, result.terminal);
            // Type once the prompt has asked, so the keys go to a terminal in its raw mode.
            if (!typed && result.terminal.find("] ") != std::string::npos &&
                result.terminal.find("[OK") != std::string::npos) {
                typed = true;
                if (options.hangUp) {
                    close(master);
                    master = -1;
                } else if (!options.keys.empty() &&
                           write(master, options.keys.data(), options.keys.size()) < 0) {
                    break;
                }
            }
        }
        Drain(err[0], result.standardError);
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.terminal += "\n[killed after the time limit]";
            break;
        }
        struct pollfd fds[2] = {{master, POLLIN, 0}, {err[0], POLLIN, 0}};
        poll(fds, 2, 20);
    }
    if (master >= 0) {
        Drain(master, result.terminal);
        close(master);
    }
    Drain(err[0], result.standardError);
    close(err[0]);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace kvz::testing
