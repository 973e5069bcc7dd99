// Whole runs in this process with files written one at a time and by a pool of writers: nobody may
// tell them apart, on any input.

#include "archive_builder.h"
#include "run/run.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

using builder::File;

namespace {

struct Outcome {
    int ExitCode = -1;
    std::string Console;
    std::map<std::string, std::string> Tree;
};

// Runs the tool in a fresh folder holding set; prepare may put things in the way first.
Outcome RunWith(unsigned writers, const builder::ArchiveSet& set, bool raw,
                const std::function<void(const std::filesystem::path&)>& prepare) {
    testing_support::TempFolder folder;
    builder::WriteArchiveSet(set, folder.Path());
    prepare(folder.Path());
    testing_support::TempFolder captured;
    Outcome outcome;
    {
        testing_support::InFolder inside(folder.Path());
        run::Run state;
        state.WriterThreads = writers;
        state.Console.Out = platform::CreateReplacing((captured.Path() / "out").string());
        state.Console.Capacity = console::RedirectedCapacity;
        outcome.ExitCode =
            run::RunProgram(state, raw ? std::optional<std::string>("-RAWExtract") : std::nullopt);
        platform::Close(state.Console.Out);
    }
    outcome.Console = testing_support::ReadFile(captured.Path() / "out");
    outcome.Tree = testing_support::Tree(folder.Path());
    return outcome;
}

} // namespace

TEST(Writers, APoolWritesWhatOneWriterWrites) {
    builder::ArchiveSetBuilder samePath; // the later file of one path is what remains
    samePath.AddTaggedSound({}, {{File("same", 3, "first"), File("same", 3, "second")}});
    samePath.AddTaggedSound({}, {{File("same", 3, "third")}});

    builder::ArchiveSetBuilder fileInTheWay; // a file where a later sound needs a folder
    fileInTheWay.AddMissionSound("M", {{File("x", 3, "file first")}});
    fileInTheWay.AddMissionSound("M/x.ogg", {{File("y", 3, "cannot be made")}});
    fileInTheWay.AddMissionSound("N/x.ogg", {{File("y", 3, "folder first")}});
    fileInTheWay.AddMissionSound("N", {{File("x", 3, "cannot be made")}});

    builder::ArchiveSetBuilder many; // enough files that the writers run side by side
    for (int sound = 0; sound < 40; ++sound) {
        std::vector<builder::StoredFile> files;
        for (int i = 0; i < 10; ++i) {
            files.push_back(File(std::string(1, 'f').append(std::to_string(i % 7)), 3 + sound % 3,
                                 std::string(1000 + sound * 37, static_cast<char>('a' + i))));
        }
        if (sound % 8 == 0) { // copied from the archive by the writers themselves
            files.push_back(File("big", 3, std::string(70000 + sound, 'B')));
        }
        builder::StoredFile cut = File("cut", 5, "past the end");
        cut.OggSize = 1 << 20;
        files.push_back(cut);
        many.AddMissionSound(std::string(1, 'M').append(std::to_string(sound % 5)), {files});
    }

    builder::ArchiveSet cutIndex = builder::SampleSet().Build();
    cutIndex.Archives[2]->resize(cutIndex.Archives[2]->size() * 2 / 3);

    auto nothing = [](const std::filesystem::path&) {};
    auto unwritable = [](const std::filesystem::path& folder) {
        testing_support::WriteFile(folder / "__SchemaMetaFile_DVD1.csc", "in the way");
    };
    const struct Case {
        const char* name;
        builder::ArchiveSet set;
        std::function<void(const std::filesystem::path&)> prepare;
    } cases[] = {
        {"sample", builder::SampleSet().Build(), nothing},
        {"sample, unwritable", builder::SampleSet().Build(), unwritable},
        {"same path", samePath.Build(), nothing},
        {"file in the way", fileInTheWay.Build(), nothing},
        {"many", many.Build(), nothing},
        {"many, unwritable", many.Build(), unwritable},
        {"cut index", cutIndex, nothing},
    };
    for (const Case& c : cases) {
        for (bool raw : {false, true}) {
            Outcome one = RunWith(0, c.set, raw, c.prepare);
            Outcome pool = RunWith(4, c.set, raw, c.prepare);
            EXPECT_EQ(pool.ExitCode, one.ExitCode) << c.name << (raw ? ", RAW" : "");
            EXPECT_EQ(pool.Console, one.Console) << c.name << (raw ? ", RAW" : "");
            EXPECT_EQ(pool.Tree, one.Tree) << c.name << (raw ? ", RAW" : "");
        }
    }
}

// An archive that shrinks after a file was claimed from it gives fewer bytes than claimed: the
// file still gets its size, zeros where the bytes are missing, and is counted as completed with
// zeros.
TEST(Writers, AFileCopiedShortOfItsClaimGetsAZeroTail) {
    testing_support::TempFolder folder;
    testing_support::WriteFile(folder.Path() / "archive", std::string(100000, 'a'));
    csc::ByteSource source = csc::FileSource((folder.Path() / "archive").string());
    std::filesystem::resize_file(folder.Path() / "archive", 70000);
    extract::FileJob job;
    job.Path = (folder.Path() / "out").string();
    job.Bytes = std::make_unique<std::uint8_t[]>(100000);
    job.Delivered = 100000;
    job.Size = 100000;
    job.Source = &source;
    extract::FileOutcome outcome = extract::WriteOutputFile(job);
    csc::Close(source);
    EXPECT_TRUE(outcome.Written);
    EXPECT_TRUE(outcome.ZeroTail);
    EXPECT_EQ(testing_support::ReadFile(folder.Path() / "out"),
              std::string(70000, 'a') + std::string(30000, '\0'));
}
