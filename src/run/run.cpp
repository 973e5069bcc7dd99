#include "run/run.h"

#include "csc/index.h"
#include "extract/disk.h"
#include "jobs/checking.h"
#include "jobs/extraction.h"
#include "jobs/listing.h"
#include "jobs/mounting.h"
#include "jobs/results.h"
#include "jobs/serving.h"
#include "jobs/streaming.h"
#include "platform/http.h"
#include "platform/mount.h"
#include "run/archives.h"
#include "run/walk.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

namespace run {
namespace {

std::string Files(std::uint64_t count, std::string_view one = " file",
                  std::string_view many = " files") {
    return std::to_string(count) + std::string(count == 1 ? one : many);
}

// What a run came to, gathered in one place once its work is done, for the warnings and the
// summary: what the walk met, what writing came to, and what the archives' own reads met.
struct Totals {
    WalkCounts Walk;
    extract::TreeReport Written; // an extraction's
    struct ArchiveReads {
        std::uint64_t ShortReads = 0;
        std::uint64_t ReadErrors = 0;
        std::uint64_t FirstReadErrorAt = 0;
        platform::ErrorCode FirstReadError = platform::NoError;
    };
    std::array<ArchiveReads, csc::ArchiveSlots> Reads{};
    double Seconds = 0;
};

Totals TotalsOf(const csc::Index& index, WalkCounts walk) {
    Totals totals;
    totals.Walk = std::move(walk);
    for (std::size_t slot = 0; slot < index.Archives.size(); ++slot) {
        const csc::Archive& archive = index.Archives[slot];
        totals.Reads[slot] = {archive.ShortReads, archive.ReadErrors, archive.FirstReadErrorAt,
                              archive.FirstReadError};
    }
    return totals;
}

// Every warning that a run's totals call for, in one order for every job: what writing came to
// (the option form has named each unwritten or unread file as it settled), the archives that could
// not be read or ended early, the files skipped, the patterns that matched nothing.
void TellWarnings(Status& status, const Totals& totals, bool eachFileNamed) {
    const extract::TreeReport& written = totals.Written;
    if (written.UnwrittenFiles > 0 && !eachFileNamed) {
        status.Warning(Files(written.UnwrittenFiles, " output file", " output files") +
                           " could not be written, the first: ",
                       layout::ShownPath(written.FirstUnwritten),
                       " (" + platform::DescribeError(written.FirstUnwrittenReason) + ")");
    }
    if (written.UnreadFiles > 0 && !eachFileNamed) {
        const extract::Unread& first = written.FirstUnread;
        status.Warning(jobs::CouldNotRead(first.Source, first.Offset, first.Reason) + "; ",
                       layout::ShownPath(first.Path),
                       (written.UnreadFiles == 1 ? std::string()
                                                 : " and " + Files(written.UnreadFiles - 1,
                                                                   " other file", " other files")) +
                           " could not be read in full");
    }
    if (written.ZeroFilledFiles > 0) {
        status.Warning(Files(written.ZeroFilledFiles, " output file", " output files") +
                           (written.ZeroFilledFiles == 1 ? " was" : " were") +
                           " completed with zeros, the first: ",
                       layout::ShownPath(written.FirstZeroFilled));
    }
    for (std::size_t slot = 0; slot < totals.Reads.size(); ++slot) {
        const Totals::ArchiveReads& reads = totals.Reads[slot];
        if (reads.ReadErrors > 0) {
            status.Warning(jobs::CouldNotRead(slot, reads.FirstReadErrorAt, reads.FirstReadError) +
                           "; " +
                           (reads.ReadErrors == 1
                                ? std::string("a read of its records")
                                : std::to_string(reads.ReadErrors) + " reads of its records") +
                           " took zeros in place of its bytes");
        }
        if (reads.ShortReads > 0) {
            status.Warning(std::string(csc::ArchiveFileNames[slot]) + " ended before " +
                           std::to_string(reads.ShortReads) +
                           (reads.ShortReads == 1
                                ? " read was complete; missing bytes were taken as zeros"
                                : " reads were complete; missing bytes were taken as zeros"));
        }
    }
    // Files whose archive is not open cannot be taken out; slots 6 and 7 name no archive that
    // the game ships, so their files are told apart.
    std::uint64_t skipped = 0;
    std::string archives;
    for (std::size_t slot = 0; slot < csc::ShippedArchives; ++slot) {
        if (totals.Walk.Skipped[slot] > 0) {
            skipped += totals.Walk.Skipped[slot];
            archives += (archives.empty() ? "" : ", ") + std::string(csc::ArchiveFileNames[slot]);
        }
    }
    std::uint64_t nowhere = 0;
    for (std::size_t slot = csc::ShippedArchives; slot < totals.Walk.Skipped.size(); ++slot) {
        nowhere += totals.Walk.Skipped[slot];
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
    // A typo must not pass for "nothing there".
    for (const std::string& pattern : totals.Walk.Unmatched) {
        status.Warning("no file matches '" + status.TypedText(pattern) + "'");
    }
}

// The option form's last line of an extraction.
std::string Summary(const Totals& totals) {
    const extract::TreeReport& written = totals.Written;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", totals.Seconds);
    std::uint64_t skipped = 0;
    for (std::uint64_t count : totals.Walk.Skipped) {
        skipped += count;
    }
    std::string over;
    if (written.OverwrittenFiles > 0) {
        over = ", " + std::to_string(written.OverwrittenFiles) +
               (written.OverwrittenFiles == 1 ? " of them over an earlier file"
                                              : " of them over earlier files") +
               " of this run";
    }
    return Files(written.WrittenFiles) + " written (" + std::to_string(written.WrittenBytes) +
           " bytes)" + over + ", " + std::to_string(written.UnchangedFiles) + " unchanged, " +
           std::to_string(written.KeptFiles) + " kept, " + std::to_string(totals.Walk.LeftOut) +
           " left out, " + std::to_string(skipped) + " skipped, " +
           std::to_string(written.UnwrittenFiles) + " unwritten, in " + seconds + " s";
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

StatusSettings StatusSettingsFor(const Options& asked, const RunState& state) {
    bool resultsOnTerminal = asked.What == Action::List || asked.What == Action::Test;
    const console::Console& channel = asked.OptionForm ? state.Errors : state.Output;
    return StatusSettings{
        .Classic = !asked.OptionForm,
        .Quiet = asked.Quiet,
        .ItemsWhenRedirected = !asked.OptionForm,
        // Results and progress items on one terminal would run into each other.
        .ItemsOnTerminal =
            !(resultsOnTerminal && platform::SameTerminal(state.Output.Out, channel.Out)),
        .WholeRunItems = asked.OptionForm,
        .Doing = asked.What == Action::Mount    ? "Mounting"
                 : asked.What == Action::Serve  ? "Reading"
                 : asked.What == Action::List   ? "Listing"
                 : asked.What == Action::Test   ? "Checking"
                 : asked.What == Action::Stream ? "Streaming"
                                                : "Extracting"};
}

// What a job that goes on with zeros in place of bytes the system failed to read says of it.
jobs::OnUnread UnreadTold(Status& status, std::string_view outcome) {
    return [&status, outcome](const jobs::Unread& unread) {
        status.Warning(jobs::CouldNotRead(unread.File.Slot, unread.Offset, unread.Reason) + "; ",
                       layout::ShownPath(unread.File.Path), outcome);
    };
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
        settings.OnUnread = [&status](const extract::Unread& unread) {
            status.Warning(jobs::CouldNotRead(unread.Source, unread.Offset, unread.Reason) + "; ",
                           layout::ShownPath(unread.Path),
                           unread.Written ? " was completed with zeros" : " was left as it stood");
        };
    }
    return settings;
}

// The output folder, made with its parents where it is missing, and opened; the reason where it
// cannot be. In the option form a folder that cannot be written into is refused before any file is
// tried, however it was chosen; the classic run tries each file and names the first it could not
// write.
platform::ErrorCode OpenOutputFolder(const std::string& folder, bool mustBeWritable,
                                     platform::OutputRoot& root) {
    platform::ErrorCode error = platform::NoError;
    if (!folder.empty()) {
        error = platform::MakeFolders(folder);
    }
    if (error == platform::NoError) {
        error = platform::OpenOutputRoot(folder, root);
    }
    if (error == platform::NoError && mustBeWritable) {
        error = platform::CheckWritable(root);
    }
    return error;
}

// An interrupted run stops taking files, finishes those being written, and says how far it came.
void TellInterrupt(Status& status, std::uint64_t written) {
    status.Interrupted("Interrupted: " + Files(written, " output file", " output files") +
                       (written == 1 ? " was written" : " were written"));
}

// On a second run (an archive's folder stands in the output folder already), what each place of
// the tree ends with: a walk that only places the files, quietly, as the extraction then does, so
// that a file that a later file of the run replaces is compared with the bytes that will stand,
// and a tree where nothing changed is left alone, paths stored twice included. It costs a walk of
// the records (a listing's time), which a first run is spared.
std::unique_ptr<layout::Tree> WhatEachPlaceEndsWith(RunState& state, csc::Index& index,
                                                    const Options& asked,
                                                    const platform::OutputRoot& root) {
    bool stood = false;
    for (std::string_view folder : csc::ArchiveFolderNames) {
        folder.remove_suffix(1); // its separator
        stood = stood || platform::CheckFolderBelow(root, std::string(folder)) == platform::NoError;
    }
    if (!stood) {
        return nullptr;
    }
    auto finals = std::make_unique<layout::Tree>(index.Tables);
    jobs::Placing placing(*finals, index.Tables);
    Status silent(state.Output, state.Errors);
    silent.Configure({.Classic = !asked.OptionForm, .Quiet = true});
    // Where the archives stand and what the walk counts of them are the real walk's.
    struct Kept {
        std::uint64_t Position, ShortReads, ReadErrors, FirstReadErrorAt;
        platform::ErrorCode FirstReadError;
    };
    std::array<Kept, csc::ArchiveSlots> kept{};
    for (std::size_t slot = 0; slot < kept.size(); ++slot) {
        const csc::Archive& archive = index.Archives[slot];
        kept[slot] = {archive.Position, archive.ShortReads, archive.ReadErrors,
                      archive.FirstReadErrorAt, archive.FirstReadError};
    }
    WalkCounts counts;
    Walk(index, silent, WalkSettingsFor(asked), placing, counts);
    for (std::size_t slot = 0; slot < kept.size(); ++slot) {
        csc::Archive& archive = index.Archives[slot];
        archive.Position = kept[slot].Position;
        archive.ShortReads = kept[slot].ShortReads;
        archive.ReadErrors = kept[slot].ReadErrors;
        archive.FirstReadErrorAt = kept[slot].FirstReadErrorAt;
        archive.FirstReadError = kept[slot].FirstReadError;
    }
    finals->Finish();
    return finals;
}

void Extract(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults,
             platform::OutputRoot root) {
    Stopwatch stopwatch;
    Status& status = state.Status;
    std::unique_ptr<layout::Tree> finals = WhatEachPlaceEndsWith(state, index, asked, root);
    extract::NativeDisk disk(std::move(root));
    jobs::Extraction extraction(disk, index.Tables, TreeSettingsFor(asked, defaults, status));
    if (finals != nullptr) {
        std::array<const csc::ByteSource*, csc::ArchiveSlots> sources{};
        for (std::size_t slot = 0; slot < sources.size(); ++slot) {
            sources[slot] =
                csc::IsOpen(index.Archives[slot]) ? &index.Archives[slot].Source : nullptr;
        }
        extraction.KnowWhatEachPlaceEndsWith(*finals, sources);
    }
    WalkCounts counts;
    Walk(index, status, WalkSettingsFor(asked), extraction, counts);
    if (platform::Interrupted()) {
        return TellInterrupt(status, extraction.Abandon().WrittenFiles);
    }
    // Every file is out before the warnings are told and the exit code is decided.
    Totals totals = TotalsOf(index, std::move(counts));
    totals.Written = extraction.Finish();
    if (platform::Interrupted()) {
        return TellInterrupt(status, totals.Written.WrittenFiles); // during the last files
    }
    TellWarnings(status, totals, asked.OptionForm);
    if (asked.OptionForm) {
        totals.Seconds = stopwatch.Seconds();
        status.Result(Summary(totals));
    }
}

void ListTestOrStream(RunState& state, csc::Index& index, const Options& asked,
                      const Defaults& defaults) {
    Status& status = state.Status;
    WalkSettings walk = WalkSettingsFor(asked);
    WalkCounts counts;
    if (asked.What == Action::List) {
        jobs::Listing listing(state.Output, index.Tables, asked.Details, asked.Json, asked.Style,
                              UnreadTold(status, "'s details are not told"));
        Walk(index, status, walk, listing, counts);
        if (!platform::Interrupted()) {
            listing.Finish();
        }
    } else if (asked.What == Action::Stream) {
        jobs::Streaming streaming(state.Output, UnreadTold(status, " went on as zeros"));
        Walk(index, status, walk, streaming, counts);
    } else {
        jobs::Checking checking(state.Output, asked.Json, Threads(asked, defaults));
        Walk(index, status, walk, checking, counts);
        if (!platform::Interrupted()) {
            checking.Finish();
        }
        status.Damaged(checking.Damaged());
    }
    if (platform::Interrupted()) {
        return status.Interrupted("Interrupted");
    }
    TellWarnings(status, TotalsOf(index, std::move(counts)), true);
}

// In the option form, the one line of an error that ends the run before its work.
void Refuse(Status& status, const std::string& problem) {
    status.Error("cscunpack: " + problem);
}

// Places every file as a run with the same options would, for the mount and the page; false
// where an interrupt came first, which is told.
bool PlaceTree(Status& status, csc::Index& index, const Options& asked, jobs::Mounting& tree) {
    WalkCounts counts;
    Walk(index, status, WalkSettingsFor(asked), tree, counts);
    tree.Finish();
    if (platform::Interrupted()) {
        status.Interrupted("Interrupted");
        return false;
    }
    TellWarnings(status, TotalsOf(index, std::move(counts)), true);
    return true;
}

// Shows the tree a run with the same options writes, and ByTag/, at point (the mount folder,
// resolved) until it is unmounted.
void Mount(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults,
           const std::string& point) {
    Status& status = state.Status;
    const csc::Archive& indexArchive = index.Archives[csc::IndexArchive];
    jobs::Mounting mounting(index.Tables, platform::ModifiedTime(indexArchive.Source.File),
                            defaults.Threads > 0);
    if (!PlaceTree(status, index, asked, mounting)) {
        return;
    }
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
            return platform::Standing{.Stays = stood, .DetachedExitCode = status.ExitCodeNow()};
        },
        problem);
    if (error != platform::NoError) {
        return Refuse(
            status, "cannot mount at " + console::ShownText(state.Errors, asked.MountFolder) +
                        " (" + (problem.empty() ? platform::DescribeError(error) : problem) + ")");
    }
    if (stood) {
        // Unmounted by an interrupt or by the user: either way the prompt gets a line of its own.
        status.Closing("Unmounted " + console::ShownText(state.Errors, asked.MountFolder));
    }
}

// False where the tables cannot be read at all: the first read of the index archive failed.
bool ReadTables(Status& status, csc::Index& index) {
    status.Enter(Phase::IndexTables);
    csc::Archive& archive = index.Archives[csc::IndexArchive];
    for (csc::Table table : csc::TablesInOrder) {
        status.TableReading(table);
        csc::ReadTable(archive, table, index.Tables);
        if (archive.ReadErrors > 0 && archive.FirstReadErrorAt == 0) {
            return false;
        }
        status.TableRead();
    }
    status.PhaseDone();
    return true;
}

// 16 random bytes from the system's generator, in hexadecimal.
std::string Secret() {
    unsigned char bytes[16] = {};
    platform::SystemRandom(bytes, sizeof bytes);
    static const char Digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

// The address served, as a URL names it.
std::string ServedHost(const Options& asked) {
    bool ipv6 = asked.ServeAddress.find(':') != std::string::npos;
    return ipv6 ? "[" + asked.ServeAddress + "]" : asked.ServeAddress;
}

// Serves the page of the tree a run with the same options writes, at the address asked, until an
// interrupt comes: the tree is placed as the mount places it, and each file read from its archive
// as it is asked for.

void Serve(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults,
           platform::HttpListener& listener) {
    Status& status = state.Status;
    const csc::Archive& indexArchive = index.Archives[csc::IndexArchive];
    jobs::Mounting tree(index.Tables, platform::ModifiedTime(indexArchive.Source.File),
                        defaults.Threads > 0);
    if (!PlaceTree(status, index, asked, tree)) {
        return;
    }
    std::array<const csc::ByteSource*, csc::ArchiveSlots> archives{};
    std::array<platform::FileTime, csc::ArchiveSlots> modified{};
    for (std::size_t slot = 0; slot < archives.size(); ++slot) {
        if (csc::IsOpen(index.Archives[slot])) {
            archives[slot] = &index.Archives[slot].Source;
            modified[slot] = platform::ModifiedTime(index.Archives[slot].Source.File);
        }
    }
    // The handlers run on the server's threads; what they tell goes out one at a time.
    std::mutex telling;
    jobs::SiteSettings settings{
        .Token = Secret(),
        .Session = Secret(),
        .Port = 0,
        .Raw = asked.Raw,
        .Archives = asked.ArchiveFolder,
        .Include = asked.Include,
        .Exclude = asked.Exclude,
        .Selecting =
            [](const std::vector<std::string>& include, const std::vector<std::string>& exclude) {
                auto selector = std::make_shared<Selector>(Selection{include, exclude});
                return jobs::PathSelection(
                    [selector](std::string_view path) { return selector->Selected(path); });
            },
        .Warn =
            [&](std::string_view warning) {
                std::lock_guard lock(telling);
                status.Warning(warning);
                console::WriteOutEverything(state.Errors);
            }};
    std::string token = settings.Token;
    jobs::Site site(tree.Layout(), index.Tables, archives, modified, std::move(settings));
    site.Listening(listener.Port());
    std::string address =
        "http://" + ServedHost(asked) + ":" + std::to_string(listener.Port()) + "/";
    if (asked.ServeAddress != "127.0.0.1" && asked.ServeAddress != "::1") {
        status.Warning("the page is served to the network at " + address +
                       ": anyone who has this address and its token can read the files");
    }
    status.Result("Serving at " + address + "#token=" + token);
    console::WriteOutEverything(state.Output);
    console::WriteOutEverything(state.Errors);
    if (asked.OpenPage) {
        platform::OpenInBrowser(address + "#token=" + token);
    }
    platform::ServeHttp(
        listener, [&site](const platform::HttpRequest& request) { return site.Answer(request); });
    status.Closing("Stopped serving");
}

// The folder the archives were looked for in, as the user named it.
std::string ArchiveFolderShown(const RunState& state, const Options& asked) {
    return asked.ArchiveFolder.empty() ? std::string("the current folder")
                                       : console::ShownText(state.Errors, asked.ArchiveFolder);
}

void Run(RunState& state, csc::Index& index, const Options& asked, const Defaults& defaults) {
    Status& status = state.Status;
    if (asked.OptionForm && !asked.ArchiveFolder.empty()) {
        if (platform::ErrorCode error = platform::CheckFolder(asked.ArchiveFolder);
            error != platform::NoError) {
            return Refuse(status, "cannot read the archives folder " +
                                      ArchiveFolderShown(state, asked) + " (" +
                                      platform::DescribeError(error) + ")");
        }
    }
    if (asked.What == Action::Extract && !asked.OutputFolder.empty()) {
        // A folder to be made is made later; something in its way is said at once.
        platform::ErrorCode error = platform::CheckFolder(asked.OutputFolder);
        if (error != platform::NoError && !platform::IsNotFound(error)) {
            return Refuse(status, "cannot write into the output folder " +
                                      console::ShownText(state.Errors, asked.OutputFolder) + " (" +
                                      platform::DescribeError(error) + ")");
        }
    }
    // The mount folder is resolved once, before anything uses it, and everything that can keep
    // the mount from standing is found before the walk, which may take minutes.
    std::string mountPoint;
    if (asked.What == Action::Mount) {
        if (std::string why = platform::WhyNoMount(); !why.empty()) {
            return Refuse(status, why);
        }
        std::string problem;
        if (platform::ErrorCode error = platform::ResolveMountPoint(asked.MountFolder, mountPoint);
            error != platform::NoError) {
            problem = platform::DescribeError(error);
        } else {
            problem = platform::WhyCannotMountAt(mountPoint);
        }
        if (!problem.empty()) {
            return Refuse(status, "cannot mount at " +
                                      console::ShownText(state.Errors, asked.MountFolder) + " (" +
                                      console::ShownText(state.Errors, problem) + ")");
        }
    }
    // The port is taken before the walk, so that one in use is told at once.
    std::unique_ptr<platform::HttpListener> listener;
    if (asked.What == Action::Serve) {
        std::string problem;
        listener = platform::ListenHttp(
            platform::HttpSettings{.Address = asked.ServeAddress, .Port = asked.ServePort},
            problem);
        if (!listener) {
            return Refuse(status, "cannot serve at " + ServedHost(asked) + ":" +
                                      std::to_string(asked.ServePort) + " (" + problem + ")");
        }
    }
    if (asked.What == Action::Stream && state.Output.IsTerminal) {
        return Refuse(status, "--to-stdout writes the sounds' bytes, which a terminal cannot show; "
                              "send standard output to a file or a program");
    }
    status.Banner();
    DiscoverArchives(status, asked.ArchiveFolder, index.Archives);
    const csc::Archive& indexArchive = index.Archives[csc::IndexArchive];
    std::string name(csc::ArchiveFileNames[csc::IndexArchive]);
    if (!csc::IsOpen(indexArchive)) {
        // Nothing was unpacked: a script that goes on after a success must not go on.
        if (asked.OptionForm) {
            platform::ErrorCode error = indexArchive.Source.OpenError;
            return Refuse(status, platform::IsNotFound(error)
                                      ? "no " + name + " in " + ArchiveFolderShown(state, asked)
                                      : name + " in " + ArchiveFolderShown(state, asked) +
                                            " cannot be read (" + platform::DescribeError(error) +
                                            ")");
        }
        return status.Error("Error: " + name + " " + WhyNotOpen(indexArchive));
    }
    // The output folder is made only once the run is sure to have work for it.
    platform::OutputRoot root;
    if (asked.What == Action::Extract) {
        if (platform::ErrorCode error =
                OpenOutputFolder(asked.OutputFolder, asked.OptionForm, root);
            error != platform::NoError) {
            return Refuse(status,
                          "cannot write into " +
                              (asked.OutputFolder.empty()
                                   ? std::string("the current folder")
                                   : "the output folder " +
                                         console::ShownText(state.Errors, asked.OutputFolder)) +
                              " (" + platform::DescribeError(error) + ")");
        }
    }
    if (!ReadTables(status, index)) {
        std::string reason =
            platform::DescribeError(index.Archives[csc::IndexArchive].FirstReadError);
        return asked.OptionForm
                   ? Refuse(status, name + " cannot be read (" + reason + ")")
                   : status.Error("Error: " + name + " cannot be read (" + reason + ")");
    }
    if (asked.What == Action::Extract) {
        return Extract(state, index, asked, defaults, std::move(root));
    }
    if (asked.What == Action::Mount) {
        return Mount(state, index, asked, defaults, mountPoint);
    }
    if (asked.What == Action::Serve) {
        return Serve(state, index, asked, defaults, *listener);
    }
    ListTestOrStream(state, index, asked, defaults);
}

} // namespace

RunState::RunState(platform::FileHandle output, platform::FileHandle errors)
    : Output(console::OpenChannel(output)), Errors(console::OpenChannel(errors)),
      Status(Output, Errors) {}

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
    StatusSettings settings = StatusSettingsFor(asked, state);
    settings.Classic = classicConsole;
    state.Status.Configure(settings);
    if (!line.Problem.empty()) {
        state.Status.UsageError(line.Problem);
    } else if (asked.What == Action::Help) {
        for (const std::string& text : HelpText()) {
            state.Status.Result(text);
        }
    } else if (asked.What == Action::Version) {
        state.Status.Result("cscunpack " CSCUNPACK_VERSION);
    } else {
        csc::Index index;
        Run(state, index, asked, defaults);
        csc::CloseIndex(index);
    }
    int exitCode = state.Status.End();
    if (ShouldPauseAtEnd(platform::ConsoleOwnedAlone(), platform::InputIsTerminal(),
                         state.Output.IsTerminal, state.Errors.IsTerminal)) {
        state.Status.Pause();
    }
    return exitCode;
}

} // namespace run
