#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <utmp.h>

namespace kvz::testing {

namespace {

void Drain(int fd, std::string &into) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        into.append(buffer, static_cast<size_t>(got));
    }
}

bool SameSettings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

size_t Count(const std::string &text, const char *what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

void Type(int master, const std::string &keys) {
    if (!keys.empty() && write(master, keys.data(), keys.size()) < 0) {
        return;
    }
}

// The parent's side of a child on a pseudo-terminal.
struct Session {
    const ChildOptions &options;
    pid_t pid;
    int master;
    termios original;
    ChildResult result;
    size_t turn = 0;
    bool signalSent = false;
    size_t requestsAnswered = 0;
};

// Whether the child sleeps (state S in /proc): after asking, a prompt sleeps only while it
// waits for a key.
bool Sleeping(pid_t pid) {
    char path[64], stat[256] = {};
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY);
    const ssize_t got = fd >= 0 ? read(fd, stat, sizeof stat - 1) : -1;
    if (fd >= 0) {
        close(fd);
    }
    const char *end = got > 0 ? strrchr(stat, ')') : nullptr;
    return end != nullptr && end[1] == ' ' && end[2] == 'S';
}

// Types a stopped turn's keys while the child is stopped and its terminal in line mode.
void PlayStopped(Session &s, const Turn &turn) {
    int status = 0;
    kill(s.pid, SIGSTOP);
    waitpid(s.pid, &status, WUNTRACED);
    tcsetattr(s.master, TCSANOW, &s.original);
    const size_t before = s.result.terminal.size();
    Type(s.master, turn.keys);
    const time_t deadline = time(nullptr) + 5;
    while (s.result.terminal.size() < before + turn.keys.size() && time(nullptr) < deadline) {
        struct pollfd watched = {s.master, POLLIN, 0};
        poll(&watched, 1, 20);
        Drain(s.master, s.result.terminal);
    }
    kill(s.pid, SIGCONT);
}

// Plays the next turn if its time has come.
void Play(Session &s) {
    const std::vector<Turn> &turns = s.options.turns;
    const size_t asked = Count(s.result.terminal, "[OK");
    if (s.options.hangUp && asked > 0 && s.master >= 0) {
        close(s.master);
        s.master = -1;
    }
    if (s.master < 0 || s.turn >= turns.size() || asked <= s.turn) {
        return;
    }
    const Turn &turn = turns[s.turn];
    if (turn.signal != 0 && !s.signalSent) {
        if (!Sleeping(s.pid)) {
            return;
        }
        s.signalSent = true;
        kill(s.pid, turn.signal);
    }
    if (s.result.standardError.size() < turn.errorBytes) {
        return;
    }
    if (turn.stopped) {
        PlayStopped(s, turn);
    } else {
        Type(s.master, turn.keys);
    }
    ++s.turn;
    s.signalSent = false;
}

// Answers each cursor-position request in the output, as a VT100 does, by typing a report.
void AnswerRequests(Session &s) {
    const size_t requests = Count(s.result.terminal, "\x1b[6n");
    for (; s.master >= 0 && s.requestsAnswered < requests; ++s.requestsAnswered) {
        Type(s.master, "\x1b[3;15R");
    }
}

int Wait(Session &s, int err) {
    int status = 0;
    const time_t deadline = time(nullptr) + s.options.timeoutSeconds;
    for (;;) {
        if (s.master >= 0) {
            Drain(s.master, s.result.terminal);
            AnswerRequests(s);
            Play(s);
        }
        Drain(err, s.result.standardError);
        if (waitpid(s.pid, &status, WNOHANG) == s.pid) {
            return status;
        }
        if (time(nullptr) > deadline) {
            kill(s.pid, SIGKILL);
            waitpid(s.pid, &status, 0);
            s.result.terminal += "\n[killed after the time limit]";
            return status;
        }
        struct pollfd fds[2] = {{s.master, POLLIN, 0}, {err, POLLIN, 0}};
        poll(fds, 2, 20);
    }
}

} // namespace

ChildResult RunChild(const ChildOptions &options, const std::function<int()> &body) {
    int err[2], in[2];
    int master = -1, slave = -1;
    termios original = {};
    if (pipe(err) != 0 || pipe(in) != 0 ||
        (options.withTerminal && (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 ||
                                  tcgetattr(slave, &original) != 0))) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit noCore = {0, 0}; // Ctrl-\ on an old prompt would dump core
        setrlimit(RLIMIT_CORE, &noCore);
        if (options.withTerminal) {
            close(master);
            login_tty(slave);
        } else {
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
    if (master >= 0) {
        close(slave);
        fcntl(master, F_SETFL, O_NONBLOCK);
        Type(master, options.typedFirst);
    }

    Session session{options, pid, master, original, {}};
    const int status = Wait(session, err[0]);
    ChildResult result = session.result;
    if (session.master >= 0) {
        Drain(session.master, result.terminal);
        termios after = {}; // the master reads and sets the settings of the child's side
        result.settingsKept =
            tcgetattr(session.master, &after) == 0 && SameSettings(original, after);
        close(session.master);
    }
    Drain(err[0], result.standardError);
    close(err[0]);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

int RunAsJob(const std::function<int()> &body) {
    const int tty = STDOUT_FILENO;
    termios shellSettings = {};
    tcgetattr(tty, &shellSettings);
    signal(SIGTTOU, SIG_IGN); // a shell hands the terminal over from the background
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        tcsetpgrp(tty, getpgrp());
        signal(SIGTTOU, SIG_DFL);
        _exit(body());
    }
    setpgid(job, job);
    tcsetpgrp(tty, job);
    for (;;) {
        int status = 0;
        if (waitpid(job, &status, WUNTRACED) < 0) {
            return -1;
        }
        if (!WIFSTOPPED(status)) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        tcsetpgrp(tty, getpgrp());
        tcsetattr(tty, TCSANOW, &shellSettings);
        tcsetpgrp(tty, job);
        kill(-job, SIGCONT);
    }
}

} // namespace kvz::testing
