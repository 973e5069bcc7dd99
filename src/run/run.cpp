#include "run/run.h"

#include "csc/index_tables.h"
#include "run/options.h"
#include "run/phases.h"

#include <algorithm>
#include <cstdio>

namespace run {
namespace {

void WriteBanner(console::Console& console) {
    console::WriteLine(console, "Corvane 2 CSC Archives Unpacker v" CSCUNPACK_VERSION
                                " by Kestrin [https://example.org/cscunpack]");
    console::WriteLine(console, "Supported: Corvane - Hollowline & Marrowgate - Duskfall");
    console::WriteLine(console, "Big Thanx to Tamsel from the CSC format notes for CSC spec");
    console::WriteLine(console);
}

void WriteHelp(console::Console& console) {
    const std::string_view lines[] = {
        "Usage: cscunpack [-RAWExtract]",
        "",
        "Unpacks the sound files (OGG and WAV) stored in the CSC archives of Corvane 2, byte for",
        "byte. Run it in the folder that holds the archives: SchemaMetafile_HardDrive.csc (the "
        "index,",
        "required) and SchemaMetaFile.csc, SchemaMetaFile_Memory.csc, SchemaMetaFile_DVD1.csc to",
        "SchemaMetaFile_DVD3.csc (each optional). The files go to a folder beside each archive:",
        "",
        "  cscunpack              follows the index's tag and mission tables:",
        "                           __<archive>/TaggedSounds/<tag>[.<sub-tag>]/<file>",
        "                           __<archive>/MissionSounds/<mission>/<file>",
        "  cscunpack -RAWExtract  reads the sound records back to back into numbered files:",
        "                           __<archive>/<number>_<file>",
        "  cscunpack --help       shows this text (also -h, -? and /?)",
        "  cscunpack --version    shows the version",
        "",
        "Existing files of the same names are replaced.",
        "",
        "Exit codes: 0 every file written; 1 written, with warnings; 2 index archive not found or",
        "unreadable; 130 interrupted; 203 memory ran out.",
    };
    for (std::string_view line : lines) {
        // The tree in the platform's own separators; "/?" stays as it is.
        std::string shown(line);
        if (line.find("__<") != std::string_view::npos) {
            std::replace(shown.begin(), shown.end(), '/', platform::ShownSeparator);
        }
        console::WriteLine(console, shown);
    }
}

void WriteFileCount(console::Console& console, std::uint64_t count) {
    console::WriteNumber(console, static_cast<std::int64_t>(count));
    console::Write(console, count == 1 ? " output file" : " output files");
}

// A run that met damaged archives or could not write its files says so, and does not end as if
// all had gone well.
int ReportTrouble(Run& run, const extract::TreeReport& written) {
    console::Console& console = run.Console;
    bool trouble = written.UnwrittenFiles > 0 || written.ZeroFilledFiles > 0;
    for (const csc::Archive& archive : run.Archives) {
        trouble = trouble || archive.ShortReads > 0;
    }
    if (!trouble) {
        return ExitClean;
    }
    if (console::LineOpen(console)) {
        console::WriteLine(console);
    }
    if (written.UnwrittenFiles > 0) {
        console::Write(console, "Warning: ");
        WriteFileCount(console, written.UnwrittenFiles);
        console::Write(console, " could not be written, the first: ");
        console::WriteName(console, extract::ShownPath(written.FirstUnwritten));
        console::Write(console, " (");
        console::Write(console, platform::DescribeError(written.FirstUnwrittenReason));
        console::WriteLine(console, ")");
    }
    if (written.ZeroFilledFiles > 0) {
        console::Write(console, "Warning: ");
        WriteFileCount(console, written.ZeroFilledFiles);
        console::Write(console, written.ZeroFilledFiles == 1 ? " was" : " were");
        console::Write(console, " completed with zeros, the first: ");
        console::WriteName(console, extract::ShownPath(written.FirstZeroFilled));
        console::WriteLine(console);
    }
    for (std::size_t slot = 0; slot < run.Archives.size(); ++slot) {
        if (run.Archives[slot].ShortReads == 0) {
            continue;
        }
        console::Write(console, "Warning: ");
        console::Write(console, ArchiveFileNames[slot]);
        console::Write(console, " ended before ");
        console::WriteNumber(console, static_cast<std::int64_t>(run.Archives[slot].ShortReads));
        console::WriteLine(console, " reads were complete; missing bytes were taken as zeros");
    }
    return ExitWithWarnings;
}

// An interrupted run stops taking files, finishes those being written, and says how far it came.
int ReportInterrupt(Run& run, const extract::TreeReport& written) {
    console::Console& console = run.Console;
    if (console::LineOpen(console)) {
        console::WriteLine(console);
    }
    console::Write(console, "Interrupted: ");
    WriteFileCount(console, written.WrittenFiles);
    console::WriteLine(console, written.WrittenFiles == 1 ? " was written" : " were written");
    return ExitInterrupted;
}

// Extracts in the mode asked for into the current folder, and tells the exit code.
int Extract(Run& run) {
    platform::ErrorCode error = platform::NoError;
    std::optional<platform::OutputRoot> root = platform::OpenOutputRoot("", error);
    extract::NativeDisk disk(std::move(*root));
    extract::Extraction extraction(run.Archives, ArchiveFolderNames, run.Extraction, disk);
    if (run.Extraction.RawExtract) {
        RunRawPhase(run, extraction);
    } else {
        RunNormalPhases(run, extraction);
    }
    if (platform::Interrupted()) {
        return ReportInterrupt(run, extraction.Abandon());
    }
    // Every file is out before the warnings are counted and the exit code is decided.
    return ReportTrouble(run, extraction.Finish());
}

} // namespace

int RunProgram(Run& run, const std::optional<std::string>& firstArgument) {
    console::Console& console = run.Console;
    run.CurrentStep = Step::StartUp;
    Request request = ChooseRequest(firstArgument);
    if (request == Request::Help || request == Request::Version) {
        if (request == Request::Help) {
            WriteHelp(console);
        } else {
            console::WriteLine(console, "cscunpack " CSCUNPACK_VERSION);
        }
        console::WriteOutEverything(console);
        return ExitClean;
    }
    WriteBanner(console);
    run.Extraction.RawExtract = request == Request::RawExtract;
    DiscoverArchives(console, run.Archives);

    int exitCode = ExitClean;
    const csc::Archive& index = run.Archives[IndexArchive];
    if (!csc::IsOpen(index)) {
        // Nothing was unpacked: a script that goes on after a success must not go on.
        console::Write(console, "Error: ");
        console::Write(console, ArchiveFileNames[IndexArchive]);
        console::WriteChar(console, ' ');
        WriteWhyNotOpen(console, index);
        console::WriteLine(console);
        exitCode = ExitIndexNotFound;
    } else {
        run.CurrentStep = Step::IndexTables;
        csc::ReadIndexTables(run.Archives[IndexArchive], console, run.Tables);
        exitCode = Extract(run);
    }
    CloseArchives(run.Archives);
    console::EndOpenLine(console); // the RAW mode's last item, so that no prompt lands on it
    console::WriteOutEverything(console);
    return exitCode;
}

int EndWithOutOfMemory(Run& run) {
    console::WriteOutEverything(run.Console);
    // Memory has run out: the line is made on the stack.
    char line[64];
    int length = std::snprintf(line, sizeof line, "Runtime error %3d at %08X\r\n", ExitOutOfMemory,
                               static_cast<unsigned>(run.CurrentStep));
    if (length > 0) {
        platform::Write(run.Console.Out, line, static_cast<std::size_t>(length));
    }
    return ExitOutOfMemory;
}

} // namespace run
