#include "run/run.h"

#include "csc/index_tables.h"
#include "run/options.h"
#include "run/phases.h"

#include <cstdio>

namespace run {
namespace {

void WriteBanner(console::Console& console) {
    console::WriteLine(
        console, "Corvane 2 CSC Archives Unpacker v1.0 by Kestrin [https://example.org/cscunpack]");
    console::WriteLine(console, "Supported: Corvane - Hollowline & Marrowgate - Duskfall");
    console::WriteLine(console, "Big Thanx to Tamsel from the CSC format notes for CSC spec");
    console::WriteLine(console);
}

// A run that met damaged archives or could not write its files says so, and does not end as if
// all had gone well.
int ReportTrouble(Run& run, const extract::Extraction& extraction) {
    console::Console& console = run.Console;
    bool trouble = extraction.UnwrittenFiles > 0;
    for (const csc::Archive& archive : run.Archives) {
        trouble = trouble || archive.ShortReads > 0;
    }
    if (!trouble) {
        return ExitClean;
    }
    if (console::LineOpen(console)) {
        console::WriteLine(console);
    }
    if (extraction.UnwrittenFiles > 0) {
        console::Write(console, "Warning: ");
        console::WriteNumber(console, static_cast<std::int64_t>(extraction.UnwrittenFiles));
        console::Write(console, " output files could not be written, the first: ");
        console::WriteName(console, extraction.FirstUnwritten);
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

} // namespace

int RunProgram(Run& run, const std::optional<std::string>& firstArgument) {
    console::Console& console = run.Console;
    run.CurrentStep = Step::StartUp;
    WriteBanner(console);
    run.RawExtract = IsRawExtract(firstArgument);
    DiscoverArchives(console, run.Archives);

    int exitCode = ExitClean;
    if (!csc::IsOpen(run.Archives[IndexArchive])) {
        console::Write(console, "Error: ");
        console::Write(console, ArchiveFileNames[IndexArchive]);
        console::WriteLine(console, " not found");
    } else {
        run.CurrentStep = Step::IndexTables;
        csc::ReadIndexTables(run.Archives[IndexArchive], console, run.Tables);
        extract::Extraction extraction{.Archives = run.Archives,
                                       .FolderNames = ArchiveFolderNames,
                                       .RawExtract = run.RawExtract};
        if (run.RawExtract) {
            RunRawPhase(run, extraction);
        } else {
            RunNormalPhases(run, extraction);
        }
        exitCode = ReportTrouble(run, extraction);
    }
    CloseArchives(run.Archives);
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
