#pragma once

#include "platform/platform.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Helpers shared by the tests: scratch folders, file contents, whole trees, and runs of the
// built executable.
namespace testing_support {

// A fresh folder below the system's temporary folder, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Runs the code of a test with the given folder as the current one.
class InFolder {
  public:
    explicit InFolder(const std::filesystem::path& folder);
    ~InFolder();

  private:
    std::filesystem::path previous_;
};

std::string ReadFile(const std::filesystem::path& path);
// A new, empty file to write to (a console capture, say), replacing what stood there.
platform::FileHandle CreateForWriting(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The folder as an output root; throws where it cannot be opened.
platform::OutputRoot OutputRootAt(const std::filesystem::path& folder);
// The read calls this process has made so far, as Linux counts them (its own read included).
std::uint64_t ReadCallsSoFar();

// Every file below folder by its "/"-separated relative path, with its bytes; folders appear with
// a trailing "/" and no bytes. Archive files lying directly in folder are left out.
std::map<std::string, std::string> Tree(const std::filesystem::path& folder);

struct ToolRun {
    int ExitCode = -1;        // 128 and the signal's number when a signal ended the child
    int KilledBy = 0;         // that signal
    std::string Output;       // everything written to standard output
    std::string Errors;       // everything written to standard error
    long PeakResidentKiB = 0; // of the child process
    // On a terminal: the pieces in which the output arrived, each as one read took it.
    std::vector<std::string> Pieces;
    // Whether the child was still running when the interrupt was sent (it may have ended just
    // after the look, in the few microseconds before the signal).
    bool SignalledWhileRunning = false;
};

// Limits put on the child; 0 leaves a limit as it is.
struct Limits {
    unsigned long long AddressSpace = 0;
    unsigned long long FileSize = 0; // a write beyond it raises SIGXFSZ, which ends a process
    unsigned long long OpenFiles = 0;
    bool OneProcessor = false; // the child may run on one processor only
    // Files the child finds empty: /dev/null is bound over each in a mount namespace of its own
    // (root only; the child ends with 125 where that cannot be done).
    std::vector<std::string> Hidden{};
    bool AsNobody = false;                  // the child runs as the user nobody (root only)
    std::vector<std::string> Environment{}; // "NAME=value", set in the child
};

// The environment that makes the reads of the file named fail with EIO from the offset from on,
// or, with slowMilliseconds, wait that long each (for the child's Limits::Environment).
std::vector<std::string> FaultyReads(const std::string& file, std::optional<std::uint64_t> from,
                                     unsigned slowMilliseconds = 0);

// A signal sent to the child after a delay.
struct Interrupt {
    int Signal = 0;
    std::chrono::microseconds After{0};
    bool IgnoredOnEntry = false; // the child starts with the signal ignored, as nohup has it
    // When not empty, the signal goes once standard output holds this text (and After later),
    // so that it finds the run where the text says it is.
    std::string OnceOutputHolds{};
    // When set, the signal goes once this holds (and After later).
    std::function<bool()> Once{};
};

// Runs the cscunpack executable in folder with standard output and standard error going to
// files. The executable is CSCUNPACK_EXE, and CSCUNPACK_LAUNCHER, when set, is the program that
// starts it (an emulator). outputTo, when given, is where standard output goes instead (such as
// /dev/full), and an empty one closes it; errorsTo likewise for standard error.
ToolRun RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                Limits limits = {}, Interrupt interrupt = {},
                const std::optional<std::string>& outputTo = std::nullopt,
                const std::optional<std::string>& errorsTo = std::nullopt);
// Runs it with standard output and standard error on a pseudo-terminal of the given width (0: the
// terminal tells none); Output is everything the terminal received.
ToolRun RunToolOnTerminal(const std::filesystem::path& folder,
                          const std::vector<std::string>& arguments, unsigned short columns = 0);
// Runs it with standard output into a pipe of which the first line is read, and then no more.
struct FirstLine {
    std::string Line;
    bool RunWentOn = false; // the run had not ended when the line came
    int ExitCode = -1;
    std::string Errors;
};
FirstLine RunToolReadingOneLine(const std::filesystem::path& folder,
                                const std::vector<std::string>& arguments, const Limits& limits);
// Runs it with standard output into a pipe that nobody reads any more; returns the exit code, and
// standard error as it was written.
ToolRun RunToolIntoBrokenPipe(const std::filesystem::path& folder,
                              const std::vector<std::string>& arguments = {});

// Whether the executable runs under a launcher (another operating system's build).
bool UnderLauncher();
// The command that runs the tool under test with arguments (its launcher first, where it has
// one), and the call that a child process makes to become it.
std::vector<std::string> Command(const std::vector<std::string>& arguments);
[[noreturn]] void Exec(std::vector<std::string> command);
// Runs a program of the launcher's system (cmd under Wine, say) in folder, as RunTool runs the
// tool.
ToolRun RunOnLauncher(const std::filesystem::path& folder, const std::vector<std::string>& program);

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space and add shadow memory:
// a limit on the address space, or a bound on peak memory, would measure them, not the tool.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool UnderMemoryHungrySanitizer = true;
#elif defined(__has_feature)
inline constexpr bool UnderMemoryHungrySanitizer =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool UnderMemoryHungrySanitizer = false;
#endif

} // namespace testing_support
