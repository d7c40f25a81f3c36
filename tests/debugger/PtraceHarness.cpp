// A minimal debugger: runs a host under ptrace, takes each breakpoint trap, checks that
// the trap lies inside one of the library's exports (by the library's own symbol table),
// and continues without delivering the signal.
//
//   kvz-ptrace-harness [--late] [--untraced] [--tty KEYS] --expect-stops A,B,...
//                      --expect-output TEXT -- HOST ARGS...
//
// --late      start the host untraced, wait for it to print "loaded", then attach
// --untraced  never attach: the host must run to a normal exit with no signal
// --tty KEYS  give the host a pseudo-terminal as its controlling terminal (raw mode), and
//             type the next of KEYS at each question a prompt asks there
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
    bool late = false;
    bool untraced = false;
    bool tty = false;
    std::string keys;
    std::vector<std::string> expectStops;
    std::string expectOutput;
    std::vector<char *> host;
};

struct Symbol {
    std::string name;
    unsigned long start;
    unsigned long size;
};

[[noreturn]] void Fail(const std::string &why) {
    fprintf(stderr, "harness: %s\n", why.c_str());
    exit(1);
}

std::vector<std::string> Split(const std::string &text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ',')) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

Options Parse(int argc, char **argv) {
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--late") {
            options.late = true;
        } else if (arg == "--untraced") {
            options.untraced = true;
        } else if (arg == "--tty" && i + 1 < argc) {
            options.tty = true;
            options.keys = argv[++i];
        } else if (arg == "--expect-stops" && i + 1 < argc) {
            options.expectStops = Split(argv[++i]);
        } else if (arg == "--expect-output" && i + 1 < argc) {
            options.expectOutput = argv[++i];
        } else if (arg == "--") {
            ++i;
            break;
        } else {
            Fail("unknown argument " + arg);
        }
    }
    for (; i < argc; ++i) {
        options.host.push_back(argv[i]);
    }
    if (options.host.empty()) {
        Fail("no host to run");
    }
    options.host.push_back(nullptr);
    return options;
}

// The library's load address and path, from the tracee's memory map.
bool FindLibrary(pid_t pid, unsigned long &base, std::string &path) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libKVZDebugLib.so") == std::string::npos) {
            continue;
        }
        unsigned long start = 0, end = 0, offset = 0;
        char perms[8] = {};
        if (sscanf(line.c_str(), "%lx-%lx %7s %lx", &start, &end, perms, &offset) != 4) {
            continue;
        }
        if (offset == 0) {
            base = start;
            path = line.substr(line.find('/'));
            return true;
        }
    }
    return false;
}

// The library's exported functions with their extents, from its dynamic symbol table.
std::vector<Symbol> ReadExports(const std::string &path, unsigned long base) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    if (image.size() < sizeof(Elf64_Ehdr)) {
        Fail("cannot read " + path);
    }
    const auto *header = reinterpret_cast<const Elf64_Ehdr *>(image.data());
    const auto *sections = reinterpret_cast<const Elf64_Shdr *>(image.data() + header->e_shoff);
    std::vector<Symbol> symbols;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) {
            continue;
        }
        const char *names = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto *table =
            reinterpret_cast<const Elf64_Sym *>(image.data() + sections[i].sh_offset);
        size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t s = 0; s < count; ++s) {
            if (ELF64_ST_TYPE(table[s].st_info) == STT_FUNC && table[s].st_shndx != SHN_UNDEF) {
                symbols.push_back(
                    {names + table[s].st_name, base + table[s].st_value, table[s].st_size});
            }
        }
    }
    return symbols;
}

std::string ExportAt(pid_t pid, unsigned long address) {
    unsigned long base = 0;
    std::string path;
    if (!FindLibrary(pid, base, path)) {
        Fail("the library is not mapped in the host");
    }
    for (const Symbol &symbol : ReadExports(path, base)) {
        if (address >= symbol.start && address < symbol.start + symbol.size) {
            char where[64];
            snprintf(where, sizeof where, "+0x%lx of 0x%lx", address - symbol.start, symbol.size);
            printf("harness: trap in %s (%s)\n", symbol.name.c_str(), where);
            return symbol.name;
        }
    }
    char text[64];
    snprintf(text, sizeof text, "0x%lx", address);
    printf("harness: trap at %s, outside every export\n", text);
    return text;
}

unsigned long ProgramCounter(pid_t pid) {
    struct user_regs_struct regs;
    struct iovec vector = {&regs, sizeof regs};
    if (ptrace(PTRACE_GETREGSET, pid, reinterpret_cast<void *>(NT_PRSTATUS), &vector) != 0) {
        Fail("cannot read the host's registers");
    }
#if defined(__x86_64__)
    return regs.rip;
#elif defined(__aarch64__)
    return regs.pc;
#endif
}

// Where the library's trap lies, for a SIGTRAP stop that is one; 0 for any other SIGTRAP.
// A continue resumes at the stop's program counter, so the trap must lie just before it.
unsigned long TrapAddress(pid_t pid) {
    siginfo_t info;
    ptrace(PTRACE_GETSIGINFO, pid, nullptr, &info);
    unsigned long pc = ProgramCounter(pid);
#if defined(__x86_64__)
    // int3 has run: the instruction pointer is just past it.
    return info.si_code == SI_KERNEL || info.si_code == TRAP_BRKPT ? pc - 1 : 0;
#elif defined(__aarch64__)
    // The host sent the signal to itself with tgkill, the system call just before the
    // program counter.
    if (info.si_code != SI_TKILL || info.si_pid != pid) {
        return 0;
    }
    const unsigned long kSvc0 = 0xd4000001;
    errno = 0;
    long word = ptrace(PTRACE_PEEKTEXT, pid, reinterpret_cast<void *>(pc - 4), nullptr);
    if (errno != 0 || (static_cast<unsigned long>(word) & 0xffffffffUL) != kSvc0) {
        Fail("SIGTRAP from the host, but not just past a system call");
    }
    return pc - 4;
#endif
}

// Takes the tracee's stops until it ends; returns the exports the traps lay in.
std::vector<std::string> Trace(pid_t pid, int &exitStatus) {
    std::vector<std::string> stops;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, 0) < 0) {
            Fail("waitpid failed");
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            exitStatus = status;
            return stops;
        }
        if (!WIFSTOPPED(status)) {
            continue;
        }
        int signal = WSTOPSIG(status);
        int event = status >> 16;
        int deliver = 0;
        if (event != 0) {
            deliver = 0; // exec or a ptrace stop of our own asking
        } else if (signal == SIGTRAP) {
            unsigned long trap = TrapAddress(pid);
            if (trap != 0) {
                stops.push_back(ExportAt(pid, trap));
            } else {
                deliver = signal;
            }
        } else {
            deliver = signal;
        }
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void *>(static_cast<long>(deliver)));
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    return line;
}

// Types the next key each time a prompt shows its choices ("[OK"), as a person would: a
// prompt drops keys typed before it asks. Runs in a process of its own while the harness
// traces, and ends when the terminal closes.
void StartTypist(int master, const std::string &keys) {
    if (fork() != 0) {
        return;
    }
    std::string shown;
    size_t typed = 0;
    char buffer[4096];
    ssize_t got;
    while ((got = read(master, buffer, sizeof buffer)) > 0) {
        shown.append(buffer, static_cast<size_t>(got));
        size_t asked = 0;
        for (size_t at = shown.find("[OK"); at != std::string::npos;
             at = shown.find("[OK", at + 1)) {
            ++asked;
        }
        for (; typed < asked && typed < keys.size(); ++typed) {
            if (write(master, &keys[typed], 1) != 1) {
                _exit(1);
            }
        }
    }
    _exit(0);
}

} // namespace

int main(int argc, char **argv) {
    Options options = Parse(argc, argv);
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) {
        Fail("pipe failed");
    }

    const bool traceFromStart = !options.late && !options.untraced;
    int master = -1;
    pid_t pid;
    if (options.tty) {
        struct termios raw;
        memset(&raw, 0, sizeof raw);
        cfmakeraw(&raw);
        raw.c_cc[VMIN] = 1;
        pid = forkpty(&master, nullptr, &raw, nullptr);
    } else {
        pid = fork();
    }
    if (pid < 0) {
        Fail("fork failed");
    }
    if (pid == 0) {
        if (!options.tty) {
            setsid(); // no controlling terminal: prompts cannot ask anybody
        }
        dup2(out[1], STDOUT_FILENO);
        dup2(in[0], STDIN_FILENO);
        close(out[0]);
        close(in[1]);
        if (traceFromStart) {
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
            raise(SIGSTOP);
        }
        execv(options.host[0], options.host.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    if (master >= 0 && !options.keys.empty()) {
        StartTypist(master, options.keys);
    }

    int exitStatus = 0;
    std::vector<std::string> stops;
    std::string output;
    if (traceFromStart) {
        int status = 0;
        waitpid(pid, &status, 0);
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL);
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        stops = Trace(pid, exitStatus);
    } else if (options.late) {
        std::string first = ReadLine(out[0]);
        if (first != "loaded") {
            Fail("the host did not say it was loaded: " + first);
        }
        if (ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_EXITKILL) != 0) {
            Fail("cannot attach to the host");
        }
        printf("harness: attached to the running host\n");
        if (write(in[1], "go\n", 3) != 3) {
            Fail("cannot wake the host");
        }
        stops = Trace(pid, exitStatus);
    } else {
        waitpid(pid, &exitStatus, 0);
    }
    output = ReadAll(out[0]);
    printf("harness: host printed: %s", output.c_str());

    bool ok = true;
    if (!WIFEXITED(exitStatus) || WEXITSTATUS(exitStatus) != 0) {
        printf("harness: FAIL: host did not exit normally (status 0x%x)\n", exitStatus);
        ok = false;
    }
    if (stops != options.expectStops) {
        std::string seen, wanted;
        for (const auto &s : stops) {
            seen += s + " ";
        }
        for (const auto &s : options.expectStops) {
            wanted += s + " ";
        }
        printf("harness: FAIL: traps [%s], expected [%s]\n", seen.c_str(), wanted.c_str());
        ok = false;
    }
    if (output.find(options.expectOutput) == std::string::npos) {
        printf("harness: FAIL: expected output \"%s\"\n", options.expectOutput.c_str());
        ok = false;
    }
    printf("harness: %zu trap(s), %s\n", stops.size(), ok ? "as expected" : "NOT as expected");
    return ok ? 0 : 1;
}
