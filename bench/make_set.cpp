// The benchmark's archive sets and their check.
//
//   bench-make-set small FOLDER   65,535 tagged and 65,535 mission sounds of about 2 KiB each
//   bench-make-set large FOLDER   400 sounds of 1 MiB each
//   bench-make-set verify RUN_FOLDER MANIFEST
//   bench-make-set floor RUN_FOLDER MANIFEST   writes the manifest's tree from memory, nothing else
//   bench-make-set tool RUN_FOLDER WRITERS     runs the tool in RUN_FOLDER with that many writers
//   bench-make-set time RESULT COMMAND...      runs COMMAND and writes "wall user sys maxrss_kb"
//                                              to RESULT, the wall time to the microsecond
//
// The floor makes the folders and then writes every file, of its size, with as many threads as
// the tool has writers: what is left of a run when the archives cost nothing.
//
// Making a set also writes FOLDER/manifest.tsv: every file the tool is to write, with its size and
// a checksum of its bytes. verify compares a run's tree with it, so that a fast wrong answer
// cannot pass.

#include "archive_builder.h"
#include "csc/archives.h"
#include "extract/output_tree.h"
#include "run/run.h"
#include "sound/sound.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::uint64_t Checksum(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (unsigned char byte : bytes) {
        hash = (hash ^ byte) * 1099511628211ull;
    }
    return hash;
}

std::string Noise(std::uint64_t seed, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (std::size_t b = 0; b < 8 && i + b < size; ++b) {
            bytes[i + b] = static_cast<char>(state >> (8 * b));
        }
    }
    return bytes;
}

// One Ogg page of the stream, its checksum set.
std::string OggPage(std::uint8_t flags, std::uint32_t sequence, const std::string& body,
                    bool packetEnds) {
    std::string page = "OggS";
    page += '\0';
    page += static_cast<char>(flags);
    page.append(8, '\0'); // granule position
    builder::PutU32(page, 0x0C5C0C5C);
    builder::PutU32(page, sequence);
    builder::PutU32(page, 0); // the checksum, set below
    std::size_t full = body.size() / 255;
    std::size_t segments = full + (packetEnds ? 1 : 0);
    page += static_cast<char>(segments);
    page.append(full, '\xFF');
    if (packetEnds) {
        page += static_cast<char>(body.size() % 255);
    }
    page += body;
    std::uint32_t crc =
        sound::OggCrc({reinterpret_cast<const std::uint8_t*>(page.data()), page.size()});
    for (int i = 0; i < 4; ++i) {
        page[22 + i] = static_cast<char>(crc >> (8 * i));
    }
    return page;
}

// A file of size bytes that a test of it reads in full: Ogg pages whose first packet is a Vorbis
// identification header and whose bodies are noise, every checksum right.
std::string OggNoise(std::uint64_t seed, std::size_t size) {
    std::string identification = std::string("\x01vorbis") + std::string(4, '\0') + "\x01" +
                                 std::string("\x40\x1F\0\0", 4) + std::string(13, '\0') + "\x01";
    std::string ogg = OggPage(0x02, 0, identification, true);
    std::string noise = Noise(seed, size);
    std::uint32_t sequence = 1;
    bool packetOpen = false; // the page before left a packet to go on, as full pages do
    // Full pages while much is left, then one page that ends exactly at size: a body of L bytes
    // takes L + L / 255 + 28 bytes as a page.
    while (ogg.size() < size) {
        std::size_t left = size - ogg.size();
        std::size_t body = 0;
        bool last = false;
        if (left > 2 * 65307) {
            body = 255 * 255;
        } else {
            for (body = std::min<std::size_t>(left, 254 * 255); body > 0; --body) {
                if (body + body / 255 + 28 == left) {
                    last = true;
                    break;
                }
            }
            if (!last) {
                body = left / 2; // no single page fits exactly: two pages will
            }
        }
        bool ends = last || body % 255 != 0;
        std::uint8_t flags = (last ? 0x04 : 0x00) | (packetOpen ? 0x01 : 0x00);
        ogg += OggPage(flags, sequence++, noise.substr(ogg.size(), body), ends);
        packetOpen = !ends;
    }
    return ogg;
}

struct Workload {
    builder::ArchiveSetBuilder Set;
    std::map<std::string, std::string> Expected; // relative path, bytes
};

void AddSound(Workload& work, bool tagged, std::size_t i, std::size_t size,
              const std::string& folder, std::uint8_t tag, std::uint8_t subTag,
              const std::string& mission) {
    builder::StoredFile file;
    file.Name = (tagged ? "t_" : "m_") + std::to_string(i);
    file.Slot = static_cast<std::uint32_t>(i % 6);
    file.Content = OggNoise(i * 2 + (tagged ? 0 : 1), size);
    // The archive folders' names end with the program's separator.
    std::string_view archive = csc::ArchiveFolderNames[file.Slot];
    archive.remove_suffix(1);
    work.Expected[std::string(archive) + "/" + folder + "/" + file.Name + ".ogg"] = file.Content;
    if (tagged) {
        work.Set.AddTaggedSound({builder::TagRef(tag, subTag)}, {{std::move(file)}});
    } else {
        work.Set.AddMissionSound(mission, {{std::move(file)}});
    }
}

Workload Make(bool small) {
    Workload work;
    const std::size_t tags = 64;
    for (std::size_t t = 0; t < tags; ++t) {
        work.Set.AddTag(std::string("Ttag").append(std::to_string(t)), {"a", "b", "c"});
    }
    const std::size_t count = small ? 65535 : 200;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t size = small ? 1536 + (i * 37) % 1024 : (1u << 20) + i % 7;
        // Tables list their sounds tag by tag and mission by mission, as a game's tables do; the
        // files of consecutive sounds still lie in different archives.
        std::size_t perTag = (count + tags - 1) / tags;
        auto tag = static_cast<std::uint8_t>(i / perTag);
        std::size_t group = (i % perTag) * 4 / perTag;
        auto subTag = static_cast<std::uint8_t>(group == 3 ? 255 : group);
        std::string folder =
            "TaggedSounds/tag" + std::to_string(tag) +
            (subTag == 255 ? "" : std::string(".") + static_cast<char>('a' + subTag));
        AddSound(work, true, i, size, folder, tag, subTag, "");
    }
    for (std::size_t j = 0; j < count; ++j) {
        std::size_t size = small ? 1536 + (j * 53) % 1024 : (1u << 20) + j % 5;
        std::string mission = "Mission" + std::to_string(j * 500 / count);
        AddSound(work, false, j, size, "MissionSounds/" + mission, 0, 0, mission);
    }
    return work;
}

int WriteSet(bool small, const fs::path& folder) {
    Workload work = Make(small);
    builder::WriteArchiveSet(work.Set.Build(), folder);
    std::ofstream manifest(folder / "manifest.tsv", std::ios::trunc);
    for (const auto& [path, bytes] : work.Expected) {
        manifest << path << '\t' << bytes.size() << '\t' << Checksum(bytes) << '\n';
    }
    return manifest ? 0 : 1;
}

int Verify(const fs::path& runFolder, const fs::path& manifestPath) {
    std::map<std::string, std::string> expected;
    std::ifstream manifest(manifestPath);
    std::string line;
    while (std::getline(manifest, line)) {
        std::size_t tab = line.find('\t');
        expected[line.substr(0, tab)] = line.substr(tab + 1);
    }
    std::size_t found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(runFolder)) {
        if (!entry.is_regular_file() || entry.path().parent_path() == runFolder) {
            continue;
        }
        std::string path = fs::relative(entry.path(), runFolder).generic_string();
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::string want =
            std::to_string(bytes.str().size()) + '\t' + std::to_string(Checksum(bytes.str()));
        auto it = expected.find(path);
        if (it == expected.end() || it->second != want) {
            std::fprintf(stderr, "unexpected file or contents: %s\n", path.c_str());
            return 1;
        }
        ++found;
    }
    if (found != expected.size()) {
        std::fprintf(stderr, "%zu of %zu expected files written\n", found, expected.size());
        return 1;
    }
    return 0;
}

int Floor(const fs::path& runFolder, const fs::path& manifestPath) {
    std::vector<std::pair<std::string, std::size_t>> files;
    std::ifstream manifest(manifestPath);
    std::string line;
    std::size_t largest = 0;
    while (std::getline(manifest, line)) {
        std::size_t tab = line.find('\t');
        std::size_t size = std::stoull(line.substr(tab + 1));
        files.emplace_back((runFolder / line.substr(0, tab)).string(), size);
        largest = std::max(largest, size);
    }
    std::set<fs::path> folders;
    for (const auto& [path, size] : files) {
        if (folders.insert(fs::path(path).parent_path()).second) {
            fs::create_directories(fs::path(path).parent_path());
        }
    }
    const std::string bytes(largest, 'f');
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> failed = false;
    auto writeFiles = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            int fd = ::open(files[i].first.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 || ::write(fd, bytes.data(), files[i].second) !=
                              static_cast<ssize_t>(files[i].second)) {
                failed = true;
            }
            if (fd >= 0) {
                ::close(fd);
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < std::max(1u, run::MachineThreads()); ++i) {
        threads.emplace_back(writeFiles);
    }
    writeFiles();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failed ? 1 : 0;
}

int Tool(const fs::path& runFolder, unsigned writers) {
    fs::current_path(runFolder);
    int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    run::RunState state(nowhere, nowhere); // the console text goes nowhere
    return run::RunProgram(state, {}, {.Threads = writers});
}

// GNU time gives the wall time in hundredths of a second, too coarse for runs of 0.07 s.
int Time(const char* result, char** command) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child == 0) {
        ::execvp(command[0], command);
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) {
        return 1;
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    std::ofstream(result, std::ios::trunc)
        << std::fixed << std::setprecision(3) << wall << ' ' << seconds(usage.ru_utime) << ' '
        << seconds(usage.ru_stime) << ' ' << usage.ru_maxrss << '\n';
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (argc == 3 && (mode == "small" || mode == "large")) {
        return WriteSet(mode == "small", argv[2]);
    }
    if (argc == 4 && mode == "verify") {
        return Verify(argv[2], argv[3]);
    }
    if (argc == 4 && mode == "floor") {
        return Floor(argv[2], argv[3]);
    }
    if (argc == 4 && mode == "tool") {
        return Tool(argv[2], static_cast<unsigned>(std::stoul(argv[3])));
    }
    if (argc >= 4 && mode == "time") {
        return Time(argv[2], argv + 3);
    }
    std::fprintf(stderr,
                 "usage: bench-make-set small|large FOLDER | verify RUN_FOLDER MANIFEST | "
                 "floor RUN_FOLDER MANIFEST | tool RUN_FOLDER WRITERS | time RESULT COMMAND...\n");
    return 2;
}
