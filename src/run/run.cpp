#include "run/run.h"

#include "csc/index.h"
#include "extract/disk.h"
#include "jobs/checking.h"
#include "jobs/extraction.h"
#include "jobs/listing.h"
#include "jobs/mounting.h"
#include "jobs/streaming.h"
#include "platform/mount.h"
#include "run/archives.h"
#include "run/status_console.h"
#include "run/walk.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace run {
namespace {

void WriteHelp(console::Console& console) {
    const std::string_view lines[] = {
        "Usage: cscunpack [-RAWExtract]",
        "       cscunpack [options]",
        "",
        "Unpacks the sound files (OGG and WAV) stored in the CSC archives of Corvane 2, byte for",
        "byte: SchemaMetafile_HardDrive.csc (the index, required) and SchemaMetaFile.csc,",
        "SchemaMetaFile_Memory.csc, SchemaMetaFile_DVD1.csc to SchemaMetaFile_DVD3.csc (each",
        "optional). The files go to a folder for each archive:",
        "",
        "  __<archive>/TaggedSounds/<tag>[.<sub-tag>]/<file>   the tag and mission tables",
        "  __<archive>/MissionSounds/<mission>/<file>",
        "  __<archive>/<number>_<file>                         the RAW mode",
        "",
        "The classic command line, in the folder that holds the archives, exactly as written:",
        "  cscunpack              follows the index's tag and mission tables",
        "  cscunpack -RAWExtract  reads the sound records back to back into numbered files",
        "",
        "Any other command line is read as options; results go to standard output, everything",
        "else to standard error. Short options bundle (-lq, -dout):",
        "  -l, --list             list the files a run would write: size and path; write nothing",
        "      --names            list the paths alone, one a line",
        "  -0, --null             list the paths alone, each ended by a zero byte (xargs -0)",
        "  -t, --test             read every file a run would write and check it; write nothing",
        "  -p, --to-stdout        write the bytes of the files a run would write to standard",
        "                         output, one after another; write no file",
        "      --details          with --list: each sound's format, channels, rate and duration",
        "  -r, --raw              the RAW layout (also -RAWExtract)",
        "  -a, --archives DIR     the folder that holds the archives (default: the current one)",
        "  -d, --output-dir DIR   the folder that receives the __<archive> folders (default: the",
        "                         current one); made with its parents when missing",
        "  -i, --include PATTERN  take only files that match; may be repeated",
        "  -x, --exclude PATTERN  leave out files that match; may be repeated; wins over -i",
        "  -k, --keep-existing    leave every output path where something stands as it is",
        "  -j, --threads N        writer threads, 0 to 64 (0: the reading thread writes)",
        "  -q, --quiet            no banner, phases or progress",
        "      --json             with --list or --test: one JSON object per line",
        "      --mount DIR        show the tree a run writes, read-only, at the empty folder DIR,",
        "                         with ByTag/ beside it (every tag of every sound); Linux only",
        "      --background       with --mount: detach once the mount stands",
        "  -h, --help             shows this text (also -? and /?)",
        "      --version          shows the version",
        "",
        "PATTERN matches a path below the output folder, / between folders, as in .gitignore:",
        "without a /, any folder or file name (Ambience, *.wav); with one, the path from the",
        "output folder on (__SchemaMetaFile_DVD1.csc/MissionSounds); a folder that matches takes",
        "everything below it. A trailing / matches folders only, a leading **/ any folder; * and",
        "? stay within a name, ** spans folders, [...] is a class. Letters match in either case,",
        "unlike git's default, as Windows, the game's platform, takes names in either case.",
        "",
        "Existing files of the same names are replaced, unless --keep-existing is given.",
        "",
        "Exit codes: 0 every file written (listed, or found whole); 1 done, with warnings (files",
        "not written, damaged, skipped, or a pattern that matched nothing); 2 the index archive",
        "not found or unreadable, or a command line in error; 3 the output could not be written;",
        "130 interrupted; 203 memory ran out.",
    };
    for (std::string_view line : lines) {
        // The tree in the platform's own separators.
        std::string shown(line);
        if (line.find("__<") != std::string_view::npos) {
            std::replace(shown.begin(), shown.end(), '/', platform::ShownSeparator);
        }
        console::WriteLine(console, shown);
    }
}

std::string Files(std::uint64_t count, std::string_view one = " file",
                  std::string_view many = " files") {
    return std::to_string(count) + std::string(count == 1 ? one : many);
}

// Files whose archive is not open cannot be taken out; a run that skipped some says which
// archives it missed, and does not end as if all had gone well. Slots 6 and 7 name no archive
// that the game ships, so their files are told apart.
bool ReportSkipped(Status& status, const WalkCounts& counts) {
    std::uint64_t skipped = 0;
    std::string archives;
    for (std::size_t slot = 0; slot < csc::ShippedArchives; ++slot) {
        if (counts.Skipped[slot] > 0) {
            skipped += counts.Skipped[slot];
            archives += (archives.empty() ? "" : ", ") + std::string(csc::ArchiveFileNames[slot]);
        }
    }
    std::uint64_t nowhere = 0;
    for (std::size_t slot = csc::ShippedArchives; slot < counts.Skipped.size(); ++slot) {
        nowhere += counts.Skipped[slot];
    }
    if (skipped > 0) {
        status.Warning(Files(skipped) +
                       (skipped == 1 ? " was skipped, as its archive was"
                                     : " were skipped, as their archives were") +
                       " not found: " + archives);
    }
    if (nowhere > 0) {
        status.Warning(Files(nowhere) +
                       (nowhere == 1 ? " was skipped, as its location names"
                                     : " were skipped, as their locations name") +
                       " no archive (slot 6 or 7)");
    }
    return skipped > 0 || nowhere > 0;
}

// Every include pattern that matched no file is named: a typo must not pass for "nothing there".
bool ReportUnmatched(Status& status, const WalkCounts& counts) {
    for (const std::string& pattern : counts.Unmatched) {
        status.Warning("no file matches '", pattern, "'");
    }
    return !counts.Unmatched.empty();
}

// Archives that ended before a read was complete.
bool ReportShortReads(Status& status, const csc::Index& index) {
    bool any = false;
    for (std::size_t slot = 0; slot < index.Archives.size(); ++slot) {
        std::uint64_t reads = index.Archives[slot].ShortReads;
        if (reads == 0) {
            continue;
        }
        status.Warning(std::string(csc::ArchiveFileNames[slot]) + " ended before " +
                       std::to_string(reads) +
                       (reads == 1 ? " read was complete; missing bytes were taken as zeros"
                                   : " reads were complete; missing bytes were taken as zeros"));
        any = true;
    }
    return any;
}

// What every job's walk met: archives that ended early, files skipped, patterns unmatched.
bool ReportWalk(Status& status, const csc::Index& index, const WalkCounts& counts) {
    bool trouble = ReportShortReads(status, index);
    trouble = ReportSkipped(status, counts) || trouble;
    return ReportUnmatched(status, counts) || trouble;
}

// A run that met damaged archives or could not write its files says so, and does not end as if
// all had gone well. The option form has named every unwritten file as it settled.
bool ReportWriting(Status& status, const extract::TreeReport& written, bool everyFile) {
    if (written.UnwrittenFiles > 0 && !everyFile) {
        status.Warning(Files(written.UnwrittenFiles, " output file", " output files") +
                           " could not be written, the first: ",
                       layout::ShownPath(written.FirstUnwritten),
                       " (" + platform::DescribeError(written.FirstUnwrittenReason) + ")");
    }
    if (written.ZeroFilledFiles > 0) {
        status.Warning(Files(written.ZeroFilledFiles, " output file", " output files") +
                           (written.ZeroFilledFiles == 1 ? " was" : " were") +
                           " completed with zeros, the first: ",
                       layout::ShownPath(written.FirstZeroFilled));
    }
    return written.UnwrittenFiles > 0 || written.ZeroFilledFiles > 0;
}

// An interrupted run stops taking files, finishes those being written, and says how far it came.
int ReportInterrupt(Status& status, std::uint64_t written) {
    status.Closing("Interrupted: " + Files(written, " output file", " output files") +
                   (written == 1 ? " was written" : " were written"));
    return ExitInterrupted;
}

// Makes the output folder with its parents where it is missing, and opens it. In the option form,
// a folder that cannot be written into is one line, before any file is tried, however it was
// chosen; the classic run tries each file and names the first it could not write.
std::optional<platform::OutputRoot> OutputFolder(RunState& state, const std::string& folder,
                                                 bool mustBeWritable) {
    platform::ErrorCode error = platform::NoError;
    if (!folder.empty()) {
        error = platform::MakeFolders(folder);
    }
    platform::OutputRoot root;
    if (error == platform::NoError) {
        error = platform::OpenOutputRoot(folder, root);
    }
    if (error == platform::NoError && mustBeWritable) {
        error = platform::CheckWritable(root);
    }
    if (error != platform::NoError) {
        console::WriteLine(state.Errors,
                           "cscunpack: cannot write into " +
                               (folder.empty()
                                    ? std::string("the current folder")
                                    : "the output folder " + console::Shown(state.Errors, folder)) +
                               " (" + platform::DescribeError(error) + ")");
        return std::nullopt;
    }
    return root;
}

class Stopwatch {
  public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// What each part of the run takes from what the user asked for, said once each.

unsigned Threads(const Options& asked, const Defaults& defaults) {
    return asked.Threads.value_or(defaults.Threads);
}

WalkSettings WalkSettingsFor(const Options& asked) {
    return WalkSettings{.Raw = asked.Raw,
                        .NameRules = platform::NativeNameRules,
                        .Taken = {.Include = asked.Include, .Exclude = asked.Exclude}};
}

ConsoleStatusSettings StatusSettingsFor(const Options& asked, RunState& state) {
    bool resultsOnTerminal = asked.What == Action::List || asked.What == Action::Test;
    return ConsoleStatusSettings{
        .ItemsWhenRedirected = !asked.OptionForm,
        // Results and progress items on one terminal would run into each other.
        .ItemsOnTerminal = !(resultsOnTerminal &&
                             platform::SameTerminal(state.Output.Out, state.StatusChannel->Out)),
        .WholeRunItems = asked.OptionForm,
        .Doing = asked.What == Action::Mount    ? "Mounting"
                 : asked.What == Action::List   ? "Listing"
                 : asked.What == Action::Test   ? "Checking"
                 : asked.What == Action::Stream ? "Streaming"
                                                : "Extracting",
        .WarningPrefix = asked.OptionForm ? "cscunpack: warning: " : "Warning: "};
}

extract::TreeSettings TreeSettingsFor(const Options& asked, const Defaults& defaults,
                                      Status& status) {
    extract::TreeSettings settings{.Writers = Threads(asked, defaults),
                                   .KeepExisting = asked.KeepExisting};
    if (asked.OptionForm) {
        // Each file named as it settles, so that a run of many unwritten files keeps only their
        // count.
        settings.OnUnwritten = [&status](const extract::Unwritten& unwritten) {
            status.Warning("could not write ", layout::ShownPath(unwritten.Path),
                           " (" + platform::DescribeError(unwritten.Reason) + ")");
        };
    }
    return settings;
}

std::unique_ptr<Status> StatusFor(const Options& asked, RunState& state) {
    if (asked.Quiet) {
        return std::make_unique<QuietStatus>(*state.StatusChannel, StatusSettingsFor(asked, state));
    }
    return std::make_unique<ConsoleStatus>(*state.StatusChannel, StatusSettingsFor(asked, state));
}

int Extract(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults,
            platform::OutputRoot root) {
    Stopwatch stopwatch;
    Status& status = *state.Reporter;
    extract::NativeDisk disk(std::move(root));
    jobs::Extraction extraction(disk, index.Tables, TreeSettingsFor(asked, defaults, status));
    WalkCounts counts;
    Walk(index, status, WalkSettingsFor(asked), extraction, counts);
    if (platform::Interrupted()) {
        return ReportInterrupt(status, extraction.Abandon().WrittenFiles);
    }
    // Every file is out before the warnings are counted and the exit code is decided.
    extract::TreeReport written = extraction.Finish();
    if (platform::Interrupted()) {
        return ReportInterrupt(status, written.WrittenFiles); // it came during the last files
    }
    bool trouble = ReportWriting(status, written, asked.OptionForm);
    trouble = ReportWalk(status, index, counts) || trouble;
    if (asked.OptionForm) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", stopwatch.Seconds());
        std::uint64_t skipped = 0;
        for (std::uint64_t count : counts.Skipped) {
            skipped += count;
        }
        std::string over;
        if (written.OverwrittenFiles > 0) {
            over = ", " + std::to_string(written.OverwrittenFiles) +
                   (written.OverwrittenFiles == 1 ? " of them over an earlier file"
                                                  : " of them over earlier files") +
                   " of this run";
        }
        console::WriteLine(
            state.Output,
            Files(written.WrittenFiles) + " written (" + std::to_string(written.WrittenBytes) +
                " bytes)" + over + ", " + std::to_string(written.UnchangedFiles) + " unchanged, " +
                std::to_string(written.KeptFiles) + " kept, " + std::to_string(counts.LeftOut) +
                " left out, " + std::to_string(skipped) + " skipped, " +
                std::to_string(written.UnwrittenFiles) + " unwritten, in " + seconds + " s");
    }
    return trouble ? ExitWithWarnings : ExitClean;
}

int ListTestOrStream(RunState& state, csc::Index& index, const Options& asked,
                     const Defaults& defaults) {
    Status& status = *state.Reporter;
    WalkSettings walk = WalkSettingsFor(asked);
    WalkCounts counts;
    std::uint64_t damaged = 0;
    if (asked.What == Action::List) {
        jobs::Listing listing(state.Output, index.Tables, asked.Details, asked.Json, asked.Style);
        Walk(index, status, walk, listing, counts);
        if (!platform::Interrupted()) {
            listing.Finish();
        }
    } else if (asked.What == Action::Stream) {
        jobs::Streaming streaming(state.Output);
        Walk(index, status, walk, streaming, counts);
    } else {
        jobs::Checking checking(state.Output, asked.Json, Threads(asked, defaults));
        Walk(index, status, walk, checking, counts);
        if (!platform::Interrupted()) {
            checking.Finish();
        }
        damaged = checking.Damaged();
    }
    if (platform::Interrupted()) {
        status.Closing("Interrupted");
        return ExitInterrupted;
    }
    bool trouble = ReportWalk(status, index, counts);
    return trouble || damaged > 0 ? ExitWithWarnings : ExitClean;
}

// In the option form, the one line of an error that ends the run before its work.
int Refuse(RunState& state, const std::string& problem) {
    state.Reporter->Closing("cscunpack: " + problem);
    return ExitUsage;
}

// Shows the tree a run with the same options writes, and ByTag/, at point (the mount folder,
// resolved) until it is unmounted.
int Mount(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults,
          const std::string& point) {
    Status& status = *state.Reporter;
    const csc::Archive& indexArchive = index.Archives[csc::IndexArchive];
    jobs::Mounting mounting(index.Tables, platform::ModifiedTime(indexArchive.Source.File),
                            defaults.Threads > 0);
    WalkCounts counts;
    Walk(index, status, WalkSettingsFor(asked), mounting, counts);
    mounting.Finish();
    if (platform::Interrupted()) {
        status.Closing("Interrupted");
        return ExitInterrupted;
    }
    bool trouble = ReportWalk(status, index, counts);
    std::string problem;
    bool stood = false;
    platform::ErrorCode error = platform::ServeMount(
        point, mounting, asked.Background,
        [&] {
            status.Mounted(asked.MountFolder, platform::UnmountCommand(point));
            // A mount in the background detaches once this is out, and the process the user
            // started ends with what the run knows by now. A mount whose messages were lost does
            // not stay: nobody was told of it.
            console::WriteOutEverything(state.Output);
            console::WriteOutEverything(state.Errors);
            stood = !console::Failed(state.Output) && !console::Failed(state.Errors);
            return platform::Standing{.Stays = stood,
                                      .DetachedExitCode = trouble ? ExitWithWarnings : ExitClean};
        },
        problem);
    if (error != platform::NoError) {
        return Refuse(state,
                      "cannot mount at " + console::Shown(state.Errors, asked.MountFolder) + " (" +
                          (problem.empty() ? platform::DescribeError(error) : problem) + ")");
    }
    if (stood) {
        // Unmounted by an interrupt or by the user: either way the prompt gets a line of its own.
        status.Closing("Unmounted " + console::Shown(*state.StatusChannel, asked.MountFolder));
    }
    return trouble ? ExitWithWarnings : ExitClean;
}

void ReadTables(Status& status, csc::Index& index) {
    status.Enter(Phase::IndexTables);
    for (csc::Table table : csc::TablesInOrder) {
        status.TableReading(table);
        csc::ReadTable(index.Archives[csc::IndexArchive], table, index.Tables);
        status.TableRead();
    }
    status.PhaseDone();
}

// The folder the archives were looked for in, as the user named it.
std::string ArchiveFolderShown(const RunState& state, const Options& asked) {
    return asked.ArchiveFolder.empty() ? std::string("the current folder")
                                       : console::Shown(state.Errors, asked.ArchiveFolder);
}

int Run(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults) {
    Status& status = *state.Reporter;
    if (asked.OptionForm && !asked.ArchiveFolder.empty()) {
        if (platform::ErrorCode error = platform::CheckFolder(asked.ArchiveFolder);
            error != platform::NoError) {
            return Refuse(state, "cannot read the archives folder " +
                                     ArchiveFolderShown(state, asked) + " (" +
                                     platform::DescribeError(error) + ")");
        }
    }
    if (asked.What == Action::Extract && !asked.OutputFolder.empty()) {
        // A folder to be made is made later; something in its way is said at once.
        platform::ErrorCode error = platform::CheckFolder(asked.OutputFolder);
        if (error != platform::NoError && !platform::IsNotFound(error)) {
            return Refuse(state, "cannot write into the output folder " +
                                     console::Shown(state.Errors, asked.OutputFolder) + " (" +
                                     platform::DescribeError(error) + ")");
        }
    }
    // The mount folder is resolved once, before anything uses it, and everything that can keep
    // the mount from standing is found before the walk, which may take minutes.
    std::string mountPoint;
    if (asked.What == Action::Mount) {
        if (std::string why = platform::WhyNoMount(); !why.empty()) {
            return Refuse(state, why);
        }
        std::string problem;
        if (platform::ErrorCode error = platform::ResolveMountPoint(asked.MountFolder, mountPoint);
            error != platform::NoError) {
            problem = platform::DescribeError(error);
        } else {
            problem = platform::WhyCannotMountAt(mountPoint);
        }
        if (!problem.empty()) {
            return Refuse(state, "cannot mount at " +
                                     console::Shown(state.Errors, asked.MountFolder) + " (" +
                                     console::Shown(state.Errors, problem) + ")");
        }
    }
    if (asked.What == Action::Stream && state.Output.IsTerminal) {
        return Refuse(state, "--to-stdout writes the sounds' bytes, which a terminal cannot show; "
                             "send standard output to a file or a program");
    }
    status.Banner();
    DiscoverArchives(status, asked.ArchiveFolder, index.Archives);
    const csc::Archive& indexArchive = index.Archives[csc::IndexArchive];
    if (!csc::IsOpen(indexArchive)) {
        // Nothing was unpacked: a script that goes on after a success must not go on.
        std::string name(csc::ArchiveFileNames[csc::IndexArchive]);
        if (asked.OptionForm) {
            platform::ErrorCode error = indexArchive.Source.OpenError;
            return Refuse(state, platform::IsNotFound(error)
                                     ? "no " + name + " in " + ArchiveFolderShown(state, asked)
                                     : name + " in " + ArchiveFolderShown(state, asked) +
                                           " cannot be read (" + platform::DescribeError(error) +
                                           ")");
        }
        status.Closing("Error: " + name + " " + WhyNotOpen(indexArchive));
        return ExitIndexNotFound;
    }
    // The output folder is made only once the run is sure to have work for it.
    std::optional<platform::OutputRoot> root;
    if (asked.What == Action::Extract) {
        root = OutputFolder(state, asked.OutputFolder, asked.OptionForm);
        if (!root) {
            return ExitUsage;
        }
    }
    ReadTables(status, index);
    if (asked.What == Action::Extract) {
        return Extract(state, index, asked, defaults, std::move(*root));
    }
    if (asked.What == Action::Mount) {
        return Mount(state, index, asked, defaults, mountPoint);
    }
    return ListTestOrStream(state, index, asked, defaults);
}

// Output that could not be written is a failure of the run: said on standard error where that
// still works (the classic console writes nothing there), except when the reader of a pipe has
// gone, which is no surprise to whoever closed it.
int EndOnLostOutput(RunState& state, int exitCode, bool sayIt) {
    if (console::Failed(state.Output) && !platform::IsBrokenPipe(state.Output.WriteError) &&
        sayIt) {
        console::WriteLine(state.Errors, "cscunpack: cannot write to standard output (" +
                                             platform::DescribeError(state.Output.WriteError) +
                                             ")");
        console::WriteOutEverything(state.Errors);
    }
    if (console::Failed(state.Output) || console::Failed(state.Errors)) {
        return ExitOutputLost;
    }
    return exitCode;
}

} // namespace

bool ShouldPauseAtEnd(bool consoleOwnedAlone, bool inputIsConsole, bool outputIsConsole,
                      bool errorsAreConsole) {
    return consoleOwnedAlone && inputIsConsole && outputIsConsole && errorsAreConsole;
}

int RunProgram(RunState& state, const std::vector<std::string>& arguments,
               const Defaults& defaults) {
    CommandLine line = ReadCommandLine(arguments);
    const Options& asked = line.Asked;
    // The classic console is the run of the classic form; the help and the version are this
    // tool's own texts, in this platform's line ends, as everything of the option form is.
    bool classicConsole = !asked.OptionForm && line.Problem.empty() && asked.What != Action::Help &&
                          asked.What != Action::Version;
    if (!classicConsole) {
        state.Output.LineEnd = console::NativeLineEnd;
        state.Errors.LineEnd = console::NativeLineEnd;
    }
    int exitCode = ExitClean;
    if (!line.Problem.empty()) {
        console::WriteLine(state.Errors,
                           "cscunpack: " + console::Shown(state.Errors, line.Problem));
        console::WriteLine(state.Errors, "Try 'cscunpack --help'");
        exitCode = ExitUsage;
    } else if (asked.What == Action::Help) {
        WriteHelp(state.Output);
    } else if (asked.What == Action::Version) {
        console::WriteLine(state.Output, "cscunpack " CSCUNPACK_VERSION);
    } else {
        state.StatusChannel = asked.OptionForm ? &state.Errors : &state.Output;
        state.Reporter = StatusFor(asked, state);
        csc::Index index;
        exitCode = Run(state, index, asked, defaults);
        csc::CloseIndex(index);
        // The RAW mode's last item is left open, so that no prompt lands on it on a terminal.
        console::EndOpenLine(*state.StatusChannel);
    }
    console::WriteOutEverything(state.Output);
    console::WriteOutEverything(state.Errors);
    exitCode = EndOnLostOutput(state, exitCode, !classicConsole);
    if (ShouldPauseAtEnd(platform::ConsoleOwnedAlone(), platform::InputIsTerminal(),
                         state.Output.IsTerminal, state.Errors.IsTerminal)) {
        console::Write(state.Output, "Press Enter to close this window");
        console::WriteOutEverything(state.Output);
        platform::WaitForEnter();
    }
    return exitCode;
}

int EndWithOutOfMemory(RunState& state) {
    console::WriteOutEverything(state.Output);
    console::WriteOutEverything(state.Errors);
    Phase reached = state.Reporter ? state.Reporter->Current() : Phase::StartUp;
    // Memory has run out: the line is made on the stack.
    char line[64];
    int length = std::snprintf(line, sizeof line, "Runtime error %3d at %08X\r\n", ExitOutOfMemory,
                               static_cast<unsigned>(reached));
    if (length > 0) {
        platform::Write(state.StatusChannel->Out, line, static_cast<std::size_t>(length));
    }
    return ExitOutOfMemory;
}

} // namespace run
