#include "differential_sets.h"

#include "sample_set.h"
#include "test_support.h"

namespace testing_support {
namespace {

using builder::File;
namespace fs = std::filesystem;

// Names made of the pieces that decide where a file lands: separators, dots, spaces and case.
std::string OddName(std::uint32_t& state) {
    static const char* const Pieces[] = {"a", "A", "/", "\\", ".", "..", " ", "b", "B."};
    std::string name;
    for (int i = 0; i < 1 + static_cast<int>(state % 4); ++i) {
        state = state * 1103515245u + 12345u;
        name += Pieces[(state >> 16) % std::size(Pieces)];
    }
    return name;
}

} // namespace

std::vector<DifferentialCase> DifferentialSets() {
    builder::ArchiveSetBuilder samePath; // the later file of one path is what remains
    samePath.AddTaggedSound({}, {{File("same", 3, "first"), File("same", 3, "second")}});
    samePath.AddTaggedSound({}, {{File("same", 3, "third")}});

    builder::ArchiveSetBuilder fileInTheWay; // a file where a later sound needs a folder
    fileInTheWay.AddMissionSound("M", {{File("x", 3, "file first")}});
    fileInTheWay.AddMissionSound("M/x.ogg", {{File("y", 3, "cannot be made")}});
    fileInTheWay.AddMissionSound("N/x.ogg", {{File("y", 3, "folder first")}});
    fileInTheWay.AddMissionSound("N", {{File("x", 3, "cannot be made")}});

    // A name holding a separator, then a mission whose folder is that name's first part: the
    // earlier file finds no folder, however quickly the later one makes it.
    builder::ArchiveSetBuilder separators;
    for (int i = 0; i < 60; ++i) {
        std::string mission = "Mi" + std::to_string(i);
        separators.AddMissionSound(mission, {{File("a/b", 3, "B"), File("x", 4, "X")}});
        separators.AddMissionSound(mission + "/a", {{File("c", 3, "C")}});
    }

    builder::ArchiveSetBuilder oddNames;
    std::uint32_t state = 7;
    for (int sound = 0; sound < 150; ++sound) {
        std::vector<builder::StoredFile> files;
        for (int i = 0; i < 3; ++i) {
            files.push_back(File(OddName(state), 3 + i % 2, std::string(100 + i, 'n')));
        }
        oddNames.AddMissionSound(OddName(state), {files});
    }

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

    // Sounds of several tags, one tag's files of one name in two archives, a name of one tag's
    // sound that a sound of another tag gives its file too, a tag below another, and a path whose
    // later file comes from a sound of other tags.
    builder::ArchiveSetBuilder tags;
    std::uint8_t amb = tags.AddTag("TAmb", {"rain"});
    std::uint8_t wind = tags.AddTag("TWind");
    std::uint8_t deep = tags.AddTag("TAmb/deep");
    tags.AddTaggedSound({builder::TagRef(amb, csc::NoSubTag)}, {{File("x", 3, "amb, DVD1")}});
    tags.AddTaggedSound({builder::TagRef(amb, csc::NoSubTag)}, {{File("x", 4, "amb, DVD2")}});
    tags.AddTaggedSound({builder::TagRef(wind, csc::NoSubTag), builder::TagRef(amb, csc::NoSubTag),
                         builder::TagRef(amb, 0), builder::TagRef(amb, csc::NoSubTag)},
                        {{File("x", 3, "wind, DVD1"), File("y", 5, "y")}});
    tags.AddTaggedSound({builder::TagRef(deep, csc::NoSubTag), builder::TagRef(wind, 7)},
                        {{File("z", 4, "deep")}});
    tags.AddTaggedSound({builder::TagRef(amb, 0), builder::TagRef(wind, csc::NoSubTag)},
                        {{File("r", 3, "rain and wind")}});
    tags.AddTaggedSound({builder::TagRef(amb, 0)}, {{File("r", 3, "rain alone")}});
    tags.AddTaggedSound({}, {{File("none", 3, "no tag")}});

    // Names of 255 bytes and more, and paths of 4,095 bytes and more below the output folder (the
    // mission's folders are 40 bytes on): a name or path one byte past the limit is not written,
    // nor anything below a folder that could not be made.
    builder::ArchiveSetBuilder longNames;
    longNames.AddMissionSound(std::string(256, 'm'), {{File("below", 3, "never")}});
    longNames.AddMissionSound(
        "M", {{File(std::string(251, 'f'), 3, "255"), File(std::string(252, 'f'), 3, "256")}});
    std::string levels;
    for (int level = 0; level < 15; ++level) {
        levels += std::string(252, static_cast<char>('a' + level)) + "/";
    }
    std::string name(251, 'n'); // 255 with ".ogg"
    longNames.AddMissionSound(levels + "four", {{File(name, 4, "4095")}});
    longNames.AddMissionSound(levels + "five5", {{File(name, 4, "4096"), File("short", 4, "S")}});

    builder::ArchiveSet cutIndex = builder::SampleSet().Build();
    cutIndex.Archives[2]->resize(cutIndex.Archives[2]->size() * 2 / 3);

    auto nothing = [](const fs::path&) {};
    auto unwritable = [](const fs::path& folder) {
        testing_support::WriteFile(folder / "__SchemaMetaFile_DVD1.csc", "in the way");
    };
    return {
        {"sample", builder::SampleSet().Build(), nothing},
        {"sample, unwritable", builder::SampleSet().Build(), unwritable, false},
        {"same path", samePath.Build(), nothing},
        {"file in the way", fileInTheWay.Build(), nothing},
        {"separators in names", separators.Build(), nothing},
        {"odd names", oddNames.Build(), nothing},
        {"many", many.Build(), nothing},
        {"many, unwritable", many.Build(), unwritable, false},
        {"tags", tags.Build(), nothing},
        {"long names", longNames.Build(), nothing},
        {"cut index", cutIndex, nothing},
    };
}

} // namespace testing_support
