// Writes seed inputs for the fuzz targets: index archives of the sample set and of odd layouts.

#include "archive_builder.h"
#include "sample_set.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

void Seed(const std::filesystem::path& folder, const std::string& name,
          const builder::Bytes& bytes) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-corpus FOLDER\n");
        return 2;
    }
    std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    builder::Bytes sample = *builder::SampleSet().Build().Archives[2];
    Seed(folder, "sample", sample);
    Seed(folder, "sample-cut", sample.substr(0, sample.size() / 2));
    Seed(folder, "empty", builder::Bytes("0123456789abc\0\0\0\0\0", 18));

    builder::ArchiveSetBuilder odd;
    std::uint8_t tag = odd.AddTag("..", {"..", "x"});
    odd.AddTaggedSound({builder::TagRef(tag, 0)},
                       {{builder::File("..", 3, "dots"), builder::File("../../x", 2, "up")}});
    odd.AddTaggedSound({}, {{builder::File("a\\..\\..\\b", 3, "back")}});
    builder::StoredFile lying = builder::File("big", 3, "tiny");
    lying.OggSize = 0xFFFFFFF0;
    builder::StoredFile far = builder::File("far", 3, "far");
    far.DataLocation = builder::Location(3, 0x1FFFFF00);
    odd.AddMissionSound(std::string("nul\0name", 8), {{lying, far}});
    odd.Order = builder::RecordOrder::Reversed;
    Seed(folder, "odd", *odd.Build().Archives[2]);

    // Names that decide where files land, and in which order: a name holding a separator before
    // the mission that makes its folder, and names of separators, dots, spaces and mixed case.
    builder::ArchiveSetBuilder places;
    places.AddMissionSound("Mi", {{builder::File("a/b", 3, "B"), builder::File("x", 3, "X")}});
    places.AddMissionSound("Mi/a", {{builder::File("c", 3, "C")}});
    places.AddMissionSound("M", {{builder::File("a", 3, "file")}});
    places.AddMissionSound("M/a", {{builder::File("b", 3, "below")}});
    places.AddMissionSound("m", {{builder::File("A", 3, "case"), builder::File("a.", 3, "dot")}});
    places.AddMissionSound(" ./\\",
                           {{builder::File(". /a", 3, "dots"), builder::File("B", 3, "")}});
    Seed(folder, "places", *places.Build().Archives[2]);
    return 0;
}
