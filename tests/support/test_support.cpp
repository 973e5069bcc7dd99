#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <pty.h>
#include <random>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

TempFolder::TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("cscunpack-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

namespace {

// Calls each with the folder's descriptor and every name in it but "." and "..", one folder at a
// time below it, so that paths longer than the system takes in one piece are reached as well.
void EachIn(int folder, const std::function<void(int, const std::string&)>& each) {
    int listing = ::dup(folder);
    DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
    if (entries == nullptr) {
        if (listing >= 0) {
            ::close(listing);
        }
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(entries)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(entries);
    for (const std::string& name : names) {
        each(folder, name);
    }
}

bool IsFolderAt(int folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

// Removes everything in the folder, whatever its depth; a folder made read-only on purpose by a
// test is given back to its owner first.
void RemoveBelow(int folder) {
    EachIn(folder, [](int at, const std::string& name) {
        if (IsFolderAt(at, name)) {
            [[maybe_unused]] int given = ::fchmodat(at, name.c_str(), 0700, 0);
            int below = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (below >= 0) {
                RemoveBelow(below);
                ::close(below);
            }
            ::unlinkat(at, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(at, name.c_str(), 0);
        }
    });
}

} // namespace

TempFolder::~TempFolder() {
    ::chmod(path_.c_str(), 0700);
    int folder = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        RemoveBelow(folder);
        ::close(folder);
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

InFolder::InFolder(const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

InFolder::~InFolder() {
    std::filesystem::current_path(previous_);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

platform::FileHandle CreateForWriting(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

platform::OutputRoot OutputRootAt(const std::filesystem::path& folder) {
    platform::OutputRoot root;
    if (platform::OpenOutputRoot(folder.string(), root) != platform::NoError) {
        throw std::runtime_error("no output root at " + folder.string());
    }
    return root;
}

std::uint64_t ReadCallsSoFar() {
    std::ifstream io("/proc/self/io");
    std::string field;
    std::uint64_t value = 0;
    while (io >> field >> value) {
        if (field == "syscr:") {
            return value;
        }
    }
    return 0;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::string> Tree(const std::filesystem::path& folder) {
    std::map<std::string, std::string> tree;
    std::function<void(int, const std::string&)> visit = [&](int at, const std::string& prefix) {
        EachIn(at, [&](int in, const std::string& name) {
            if (IsFolderAt(in, name)) {
                tree[prefix + name + "/"] = "";
                int below = ::openat(in, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (below >= 0) {
                    visit(below, prefix + name + "/");
                    ::close(below);
                }
            } else if (!prefix.empty()) {
                std::string bytes;
                int file = ::openat(in, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                char piece[65536];
                for (ssize_t got; file >= 0 && (got = ::read(file, piece, sizeof piece)) > 0;) {
                    bytes.append(piece, static_cast<std::size_t>(got));
                }
                if (file >= 0) {
                    ::close(file);
                }
                tree[prefix + name] = bytes;
            }
        });
    };
    int root = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root >= 0) {
        visit(root, "");
        ::close(root);
    }
    return tree;
}

std::vector<std::string> FaultyReads(const std::string& file, std::optional<std::uint64_t> from,
                                     unsigned slowMilliseconds) {
    std::vector<std::string> environment = {
        std::string("LD_PRELOAD=") + CSCUNPACK_FAULTY_READS, "CSCUNPACK_FAULTY_FILE=" + file,
        // A tool built with AddressSanitizer wants its runtime first; this library needs none.
        "ASAN_OPTIONS=verify_asan_link_order=0"};
    if (from) {
        environment.push_back("CSCUNPACK_FAIL_FROM=" + std::to_string(*from));
    }
    if (slowMilliseconds > 0) {
        environment.push_back("CSCUNPACK_SLOW_READS=" + std::to_string(slowMilliseconds));
    }
    return environment;
}

bool UnderLauncher() {
    const char* launcher = std::getenv("CSCUNPACK_LAUNCHER");
    return launcher != nullptr && *launcher != '\0';
}

std::vector<std::string> Command(const std::vector<std::string>& arguments) {
    // The build's own executable, unless CSCUNPACK_EXE names another (the Windows build, say).
    const char* executable = std::getenv("CSCUNPACK_EXE");
    if (executable == nullptr) {
        executable = CSCUNPACK_BUILT_EXE;
    }
    std::vector<std::string> command;
    if (UnderLauncher()) {
        command.push_back(std::getenv("CSCUNPACK_LAUNCHER"));
    }
    command.push_back(std::filesystem::absolute(executable).string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

// A run that hangs (on a pipe it took for an archive, say) ends with SIGALRM instead of holding
// up the suite; the alarm survives the exec.
constexpr unsigned kSecondsARunMayTake = 120;

[[noreturn]] void Exec(std::vector<std::string> command) {
    ::alarm(kSecondsARunMayTake);
    if (UnderLauncher()) {
        // Wine names the files of the Linux side in the caller's character set, and reads the
        // arguments in it: the expected trees hold UTF-8 names, whatever the caller's locale.
        ::setenv("LC_ALL", "C.UTF-8", 1);
    }
    // Only standard input, output and error go with the tool, whatever the test runner holds open.
    ::close_range(3, ~0u, 0);
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

namespace {

int ExitCode(pid_t child, long* peakResidentKiB = nullptr, int* killedBy = nullptr) {
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    if (peakResidentKiB != nullptr) {
        *peakResidentKiB = usage.ru_maxrss;
    }
    if (killedBy != nullptr) {
        *killedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void SetLimit(int resource, unsigned long long value) {
    if (value != 0) {
        struct rlimit limit {
            value, value
        };
        ::setrlimit(resource, &limit);
    }
}

} // namespace

ToolRun RunToolIntoBrokenPipe(const std::filesystem::path& folder,
                              const std::vector<std::string>& arguments) {
    std::vector<std::string> command = Command(arguments);
    TempFolder captures;
    std::filesystem::path errPath = captures.Path() / "stderr";
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("no pipe");
    }
    ::close(ends[0]);
    pid_t child = ::fork();
    if (child == 0) {
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(ends[1], 1);
        ::dup2(err, 2);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::signal(SIGPIPE, SIG_DFL);
        Exec(command);
    }
    ::close(ends[1]);
    ToolRun run;
    run.ExitCode = ExitCode(child);
    run.Errors = ReadFile(errPath);
    return run;
}

namespace {

ToolRun RunCaptured(const std::filesystem::path& folder, std::vector<std::string> command,
                    Limits limits, Interrupt interrupt, const std::optional<std::string>& outputTo,
                    const std::optional<std::string>& errorsTo);

} // namespace

ToolRun RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                Limits limits, Interrupt interrupt, const std::optional<std::string>& outputTo,
                const std::optional<std::string>& errorsTo) {
    return RunCaptured(folder, Command(arguments), std::move(limits), std::move(interrupt),
                       outputTo, errorsTo);
}

ToolRun RunOnLauncher(const std::filesystem::path& folder,
                      const std::vector<std::string>& program) {
    std::vector<std::string> command{std::getenv("CSCUNPACK_LAUNCHER")};
    command.insert(command.end(), program.begin(), program.end());
    return RunCaptured(folder, command, {}, {}, std::nullopt, std::nullopt);
}

namespace {

ToolRun RunCaptured(const std::filesystem::path& folder, std::vector<std::string> command,
                    Limits limits, Interrupt interrupt, const std::optional<std::string>& outputTo,
                    const std::optional<std::string>& errorsTo) {

    TempFolder captures;
    std::filesystem::path outPath = captures.Path() / "stdout";
    std::filesystem::path errPath = captures.Path() / "stderr";
    if (limits.AsNobody && !UnderLauncher()) {
        // The build may lie in a folder that only its owner may enter: nobody runs a copy.
        std::filesystem::path copy = captures.Path() / "cscunpack";
        std::filesystem::copy_file(command.front(), copy);
        command.front() = copy.string();
    }
    // A child's peak memory counts the pages it had before it became the tool, a copy of this
    // process's: what earlier tests freed goes back to the system first.
    ::malloc_trim(0);
    pid_t child = ::fork();
    if (child == 0) {
        auto openFor = [](const std::filesystem::path& to) {
            return to.empty() ? -1
                              : ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        };
        std::filesystem::path outTo = outputTo ? std::filesystem::path(*outputTo) : outPath;
        std::filesystem::path errTo = errorsTo ? std::filesystem::path(*errorsTo) : errPath;
        int out = openFor(outTo);
        int err = openFor(errTo);
        int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if ((out < 0 && !outTo.empty()) || (err < 0 && !errTo.empty()) || in < 0 ||
            ::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::dup2(in, 0);
        for (auto [from, to] : {std::pair{out, 1}, std::pair{err, 2}}) {
            if (from >= 0) {
                ::dup2(from, to);
            } else {
                ::close(to);
            }
        }
        if (!limits.Hidden.empty()) {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                ::_exit(125);
            }
            for (const std::string& hidden : limits.Hidden) {
                if (::mount("/dev/null", hidden.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                    ::_exit(125);
                }
            }
        }
        for (const std::string& variable : limits.Environment) {
            ::putenv(const_cast<char*>(variable.c_str()));
        }
        if (limits.AsNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(125);
        }
        SetLimit(RLIMIT_AS, limits.AddressSpace);
        SetLimit(RLIMIT_FSIZE, limits.FileSize);
        SetLimit(RLIMIT_NOFILE, limits.OpenFiles);
        if (limits.OneProcessor) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(0, &one);
            ::sched_setaffinity(0, sizeof one, &one);
        }
        // As a shell starts a command: nothing ignored or blocked that the tool would meet by
        // default, whatever the test runner does with signals.
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE}) {
            ::signal(signal,
                     signal == interrupt.Signal && interrupt.IgnoredOnEntry ? SIG_IGN : SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        Exec(command);
    }
    ToolRun result;
    if (interrupt.Signal != 0) {
        if (!interrupt.OnceOutputHolds.empty()) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (ReadFile(outPath).find(interrupt.OnceOutputHolds) == std::string::npos &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        if (interrupt.Once) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!interrupt.Once() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        std::this_thread::sleep_for(interrupt.After);
        siginfo_t info{};
        result.SignalledWhileRunning =
            ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == 0;
        ::kill(child, interrupt.Signal);
    }
    result.ExitCode = ExitCode(child, &result.PeakResidentKiB, &result.KilledBy);
    result.Output = outputTo ? std::string() : ReadFile(outPath);
    result.Errors = errorsTo ? std::string() : ReadFile(errPath);
    return result;
}

} // namespace

FirstLine RunToolReadingOneLine(const std::filesystem::path& folder,
                                const std::vector<std::string>& arguments, const Limits& limits) {
    std::vector<std::string> command = Command(arguments);
    TempFolder captures;
    std::filesystem::path errPath = captures.Path() / "stderr";
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("no pipe");
    }
    pid_t child = ::fork();
    if (child == 0) {
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(ends[1], 1);
        ::dup2(err, 2);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        for (const std::string& variable : limits.Environment) {
            ::putenv(const_cast<char*>(variable.c_str()));
        }
        ::signal(SIGPIPE, SIG_DFL);
        Exec(command);
    }
    ::close(ends[1]);
    FirstLine result;
    char character = 0;
    while (::read(ends[0], &character, 1) == 1 && character != '\n') {
        result.Line += character;
    }
    siginfo_t info{};
    result.RunWentOn =
        ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == 0;
    ::close(ends[0]); // as head -1 does once it has its line
    result.ExitCode = ExitCode(child);
    result.Errors = ReadFile(errPath);
    return result;
}

ToolRun RunToolOnTerminal(const std::filesystem::path& folder,
                          const std::vector<std::string>& arguments, unsigned short columns) {
    std::vector<std::string> command = Command(arguments);
    int terminal = -1;
    struct winsize size {};
    size.ws_row = 24;
    size.ws_col = columns;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child < 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        Exec(command);
    }
    ToolRun result;
    char buffer[4096];
    while (true) {
        ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break; // EIO once the child has gone and the terminal is closed
        }
        result.Output.append(buffer, static_cast<std::size_t>(got));
        result.Pieces.emplace_back(buffer, static_cast<std::size_t>(got));
    }
    ::close(terminal);
    result.ExitCode = ExitCode(child, &result.PeakResidentKiB, &result.KilledBy);
    return result;
}

} // namespace testing_support
