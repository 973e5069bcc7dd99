// The output tree: whole runs written one file at a time and by a pool of writers, which nobody may
// tell apart on any input, and the tree's rules under failures put in between it and the disk.

#include "archive_builder.h"
#include "differential_sets.h"
#include "jobs/extraction.h"
#include "json_lines.h"
#include "run/run.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using builder::File;
namespace fs = std::filesystem;

namespace {

// A layout of its own for each tree a test makes, of files without sounds.
layout::Tree& NoLayout() {
    static const csc::IndexTables none;
    static std::vector<std::unique_ptr<layout::Tree>> layouts;
    layouts.push_back(std::make_unique<layout::Tree>(none));
    return *layouts.back();
}

// The real disk below a scratch folder, with a fault put in wherever Fault says: it is asked
// before each step with the step's name and the path concerned (a closed file's path for
// "close"), and whatever it returns other than NoError is that step's failure.
class FaultyDisk : public extract::Disk {
  public:
    explicit FaultyDisk(const fs::path& folder) : real_(testing_support::OutputRootAt(folder)) {}

    std::function<platform::ErrorCode(const std::string& step, const std::string& path)> Fault =
        [](const std::string&, const std::string&) { return platform::NoError; };

    platform::ErrorCode MakeFolder(const std::string& path, bool& madeNow) override {
        return Either("folder", path, [&] { return real_.MakeFolder(path, madeNow); });
    }
    platform::ErrorCode CreateNew(const std::string& path, platform::FileHandle& file) override {
        platform::ErrorCode error =
            Either("create", path, [&] { return real_.CreateNew(path, file); });
        if (error == platform::NoError) {
            std::lock_guard<std::mutex> held(lock_);
            paths_[file] = path;
        }
        return error;
    }
    // Whether files may be made without a name, as on Linux; otherwise they are made beside under
    // a name, as on Windows.
    bool Unnamed = true;

    platform::ErrorCode CreateUnnamed(const std::string& folder,
                                      platform::FileHandle& file) override {
        if (!Unnamed) {
            return platform::ErrorCode{EOPNOTSUPP};
        }
        platform::ErrorCode error =
            Either("create", folder + "/", [&] { return real_.CreateUnnamed(folder, file); });
        if (error == platform::NoError) {
            std::lock_guard<std::mutex> held(lock_);
            paths_[file] = folder + "/";
        }
        return error;
    }
    platform::ErrorCode Place(platform::FileHandle file, const std::string& beside,
                              const std::string& path) override {
        // Placing names the file beside and renames it: either step may fail.
        if (platform::ErrorCode fault = Fault("rename", path); fault != platform::NoError) {
            return fault;
        }
        return Either("place", path, [&] { return real_.Place(file, beside, path); });
    }
    platform::ErrorCode Write(platform::FileHandle file, const std::uint8_t* bytes,
                              std::size_t count) override {
        return Either("write", PathOf(file), [&] { return real_.Write(file, bytes, count); });
    }
    Copied Copy(const extract::ArchiveRange& range, platform::FileHandle file) override {
        Count("copy");
        if (platform::ErrorCode fault = Fault("copy", PathOf(file)); fault != platform::NoError) {
            return Copied{.Bytes = 0, .Refused = fault};
        }
        if (platform::ErrorCode fault = Fault("read", PathOf(file)); fault != platform::NoError) {
            return Copied{.Bytes = 0, .Unread = fault};
        }
        return real_.Copy(range, file);
    }
    platform::ErrorCode Extend(platform::FileHandle file, std::uint64_t size) override {
        return Either("extend", PathOf(file), [&] { return real_.Extend(file, size); });
    }
    platform::ErrorCode Sync(platform::FileHandle file) override {
        return Either("sync", PathOf(file), [&] { return real_.Sync(file); });
    }
    // Whether the output folder counts as held in memory, whatever it is.
    bool InMemory = false;
    bool Volatile() const override { return InMemory; }
    platform::ErrorCode OpenExisting(const std::string& path, platform::FileHandle& file,
                                     std::uint64_t& size) override {
        platform::ErrorCode error =
            Either("open", path, [&] { return real_.OpenExisting(path, file, size); });
        if (error == platform::NoError) {
            std::lock_guard<std::mutex> held(lock_);
            paths_[file] = path;
        }
        return error;
    }
    platform::Moved Read(platform::FileHandle file, std::uint64_t offset, std::uint8_t* bytes,
                         std::size_t count) override {
        Count("read");
        std::lock_guard<std::mutex> held(lock_);
        bytesRead_ += count;
        return real_.Read(file, offset, bytes, count);
    }
    platform::Stretch NextData(platform::FileHandle file, std::uint64_t offset,
                               std::uint64_t end) override {
        return real_.NextData(file, offset, end);
    }
    std::uint64_t BytesRead() {
        std::lock_guard<std::mutex> held(lock_);
        return bytesRead_;
    }
    // How often each step was taken.
    std::map<std::string, int> Steps() {
        std::lock_guard<std::mutex> held(lock_);
        return steps_;
    }
    platform::ErrorCode Close(platform::FileHandle file) override {
        // The file is closed either way, as a close that reports an error still closes.
        Count("close");
        platform::ErrorCode fault = Fault("close", PathOf(file));
        platform::ErrorCode error = real_.Close(file);
        return fault != platform::NoError ? fault : error;
    }
    platform::ErrorCode Rename(const std::string& from, const std::string& to) override {
        return Either("rename", to, [&] { return real_.Rename(from, to); });
    }
    platform::ErrorCode RenameOpen(platform::FileHandle file, const std::string& to) override {
        return Either("rename", to, [&] { return real_.RenameOpen(file, to); });
    }
    platform::ErrorCode Remove(const std::string& path) override { return real_.Remove(path); }
    platform::ErrorCode List(const std::string& folder, std::string_view prefix,
                             std::vector<std::string>& names) override {
        return real_.List(folder, prefix, names);
    }
    platform::ErrorCode CheckFolder(const std::string& path) override {
        return real_.CheckFolder(path);
    }

  private:
    void Count(const std::string& step) {
        std::lock_guard<std::mutex> held(lock_);
        ++steps_[step];
    }
    template <typename Step>
    platform::ErrorCode Either(const std::string& step, const std::string& path, Step real) {
        Count(step);
        platform::ErrorCode fault = Fault(step, path);
        return fault != platform::NoError ? fault : real();
    }
    std::string PathOf(platform::FileHandle file) {
        std::lock_guard<std::mutex> held(lock_);
        return paths_[file];
    }

    extract::NativeDisk real_;
    std::mutex lock_;
    std::map<platform::FileHandle, std::string> paths_;
    std::map<std::string, int> steps_;
    std::uint64_t bytesRead_ = 0;
};

// Bytes in memory served as a range of an archive, as a file that a writer copies.
class MemoryRange : public extract::RangeSource {
  public:
    explicit MemoryRange(std::string bytes) : bytes_(std::move(bytes)) {}
    platform::FileHandle File() const override { return platform::InvalidFile; }
    platform::Moved ReadAt(std::uint64_t offset, void* destination,
                           std::size_t count) const override {
        std::copy_n(bytes_.data() + offset, count, static_cast<char*>(destination));
        return platform::Moved{.Bytes = count, .Error = platform::NoError};
    }

  private:
    std::string bytes_;
};

extract::Entry Copied(const std::string& folder, const std::string& name, const MemoryRange& range,
                      std::size_t size) {
    return extract::Entry{
        .Path = layout::BuildOutputPath(folder, "", name),
        .Content = extract::ArchiveRange{.Source = &range,
                                         .Offset = 0,
                                         .Count = size,
                                         .Spare = std::make_unique<std::uint8_t[]>(size)},
        .Size = size};
}

extract::Entry InMemory(const std::string& folder, const std::string& name,
                        const std::string& bytes, std::uint64_t size = 0) {
    extract::BytesInMemory memory{std::make_unique<std::uint8_t[]>(bytes.size()), bytes.size()};
    std::copy(bytes.begin(), bytes.end(), memory.Bytes.get());
    return extract::Entry{.Path = layout::BuildOutputPath(folder, "", name),
                          .Content = std::move(memory),
                          .Size = size != 0 ? size : bytes.size()};
}

} // namespace

// Whatever step fails, nothing is left of the file under its name or beside it, what stood there
// stays as it was, and the file is counted with that step's reason.
TEST(OutputTree, AFailedStepLeavesNothingAndIsCountedWithItsReason) {
    const struct Case {
        const char* step;
        bool standing; // something stood at the path before
        std::uint64_t size;
        bool unnamed; // the file is copied, and made without a name first where it replaces one
    } cases[] = {
        {"create", false, 0, false}, {"write", false, 0, false}, {"extend", false, 100, false},
        {"close", false, 0, false},  {"write", true, 0, false},  {"sync", true, 0, false},
        {"close", true, 0, false},   {"rename", true, 0, false}, {"create", true, 0, false},
        {"create", true, 0, true},   {"copy", true, 0, true},    {"sync", true, 0, true},
        {"place", true, 0, true},
    };
    const MemoryRange b("B");
    // An unnamed file is closed only once it is in place, whole and synced, where closing can no
    // longer lose what was written.
    for (const Case& c : cases) {
        testing_support::TempFolder folder;
        if (c.standing) {
            fs::create_directory(folder.Path() / "__B");
            testing_support::WriteFile(folder.Path() / "__B/b.ogg", "old");
        }
        FaultyDisk disk(folder.Path());
        disk.Unnamed = c.unnamed;
        disk.Fault = [&](const std::string& step, const std::string& path) {
            bool ofB = path.starts_with("__B/");
            return step == c.step && ofB ? platform::ErrorCode{EIO} : platform::NoError;
        };
        extract::OutputTree tree(disk, NoLayout(), {.Writers = 2});
        tree.Take(InMemory("__A\\", "a.ogg", "A"));
        tree.Take(c.unnamed ? Copied("__B\\", "b.ogg", b, 1)
                            : InMemory("__B\\", "b.ogg", "B", c.size));
        tree.Take(InMemory("__A\\", "c.ogg", "C"));
        extract::TreeReport report = tree.Finish();
        std::string name = std::string(c.step) + (c.standing ? ", over a file" : "") +
                           (c.unnamed ? ", unnamed" : ", named beside");
        EXPECT_EQ(report.WrittenFiles, 2u) << name;
        EXPECT_EQ(report.UnwrittenFiles, 1u) << name;
        EXPECT_EQ(report.FirstUnwritten.Text, "__B/b.ogg") << name;
        EXPECT_EQ(report.FirstUnwrittenReason, platform::ErrorCode{EIO}) << name;
        std::map<std::string, std::string> expected = {
            {"__A/", ""}, {"__A/a.ogg", "A"}, {"__A/c.ogg", "C"}, {"__B/", ""}};
        if (c.standing) {
            expected["__B/b.ogg"] = "old";
        }
        EXPECT_EQ(testing_support::Tree(folder.Path()), expected) << name;
    }
}

// Of files that failed, the one reported is the first taken, with its own reason, even when a later
// one failed before it and another after it.
TEST(OutputTree, TheFirstUnwrittenIsTheFirstTakenWithItsOwnReason) {
    testing_support::TempFolder folder;
    FaultyDisk disk(folder.Path());
    std::mutex lock;
    std::condition_variable changed;
    std::set<std::string> failed;
    // Each file fails once the one named has failed: the first taken fails last.
    const std::map<std::string, std::pair<std::string, platform::ErrorCode>> after = {
        {"__A/0", {"__A/1", EACCES}}, {"__A/1", {"", ENOSPC}}, {"__A/2", {"__A/0", EIO}}};
    disk.Fault = [&](const std::string& step, const std::string& path) -> platform::ErrorCode {
        if (step != "create") {
            return platform::NoError;
        }
        const std::string waitFor = after.at(path).first;
        const platform::ErrorCode error = after.at(path).second;
        std::unique_lock<std::mutex> held(lock);
        if (!waitFor.empty()) {
            changed.wait_for(held, std::chrono::seconds(5), [&] { return failed.count(waitFor); });
        }
        failed.insert(path);
        changed.notify_all();
        return error;
    };
    extract::OutputTree tree(disk, NoLayout(), {.Writers = 2, .Bounds = {.BatchTasks = 1}});
    for (const char* name : {"0", "1", "2"}) {
        tree.Take(InMemory("__A\\", name, name));
    }
    extract::TreeReport report = tree.Finish();
    EXPECT_EQ(report.UnwrittenFiles, 3u);
    EXPECT_EQ(report.FirstUnwritten.Text, "__A/0");
    EXPECT_EQ(report.FirstUnwrittenReason, platform::ErrorCode{EACCES});
}

// A folder that cannot be made is the reason for the files below it, and is tried again for a later
// file; one that stands in a file's way is refused.
TEST(OutputTree, AFolderThatCannotBeMadeGivesItsReasonAndIsTriedAgain) {
    testing_support::TempFolder folder;
    FaultyDisk disk(folder.Path());
    bool readOnly = true;
    disk.Fault = [&](const std::string& step, const std::string& path) {
        bool faulty = step == "folder" && path == "__A/ro" && readOnly;
        return faulty ? platform::ErrorCode{EROFS} : platform::NoError;
    };
    testing_support::WriteFile(folder.Path() / "file", "a file in the way");
    extract::OutputTree tree(disk, NoLayout(), {.Writers = 2});
    tree.Take(InMemory("__A\\ro\\deep\\", "x.ogg", "X"));
    tree.Take(InMemory("file\\", "y.ogg", "Y"));
    tree.Take(InMemory("__A\\rw\\", "z.ogg", "Z"));
    extract::TreeReport report = tree.Finish();
    EXPECT_EQ(report.UnwrittenFiles, 2u);
    EXPECT_EQ(report.FirstUnwritten.Text, "__A/ro/deep/x.ogg");
    EXPECT_EQ(report.FirstUnwrittenReason, platform::ErrorCode{EROFS});
    readOnly = false;
    extract::OutputTree again(disk, NoLayout(), {.Writers = 2});
    again.Take(InMemory("__A\\ro\\deep\\", "x.ogg", "X"));
    EXPECT_EQ(again.Finish().UnwrittenFiles, 0u);
    EXPECT_EQ(testing_support::ReadFile(folder.Path() / "__A/ro/deep/x.ogg"), "X");
    EXPECT_EQ(testing_support::ReadFile(folder.Path() / "__A/rw/z.ogg"), "Z");
}

namespace {

// Limits the address space of the test process to what it uses now and spare more, while it lives.
class AddressSpaceLimit {
  public:
    explicit AddressSpaceLimit(std::uint64_t spare) {
        ::getrlimit(RLIMIT_AS, &before_);
        std::uint64_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limit = before_;
        limit.rlim_cur = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + spare;
        ::setrlimit(RLIMIT_AS, &limit);
    }
    ~AddressSpaceLimit() { ::setrlimit(RLIMIT_AS, &before_); }

  private:
    rlimit before_{};
};

} // namespace

// The files handed to the writers hold no more memory than the bound, one file always passing;
// where the address space is limited, no more than an eighth of what is left.
TEST(OutputTree, FilesInFlightStayWithinTheBound) {
    const struct Case {
        const char* name;
        std::uint64_t bound;
        std::uint64_t addressSpace; // 0: not limited
        std::size_t fileSize;
        int fit;
    } cases[] = {
        {"three of 30 KiB fit in 100 KiB", 100 << 10, 0, 30 << 10, 3},
        {"four of 1 MiB fit in an eighth of 40 MiB", 16 << 20, 40 << 20, 1 << 20, 4},
    };
    for (const Case& c : cases) {
        if (c.addressSpace != 0 && testing_support::UnderMemoryHungrySanitizer) {
            continue;
        }
        testing_support::TempFolder folder;
        FaultyDisk disk(folder.Path());
        std::mutex lock;
        std::condition_variable changed;
        bool released = false;
        disk.Fault = [&](const std::string& step, const std::string&) -> platform::ErrorCode {
            if (step == "write") {
                std::unique_lock<std::mutex> held(lock);
                changed.wait(held, [&] { return released; });
            }
            return platform::NoError;
        };
        std::optional<AddressSpaceLimit> limit;
        if (c.addressSpace != 0) {
            limit.emplace(c.addressSpace);
        }
        extract::OutputTree tree(disk, NoLayout(), {.Writers = 2, .Bounds = {.Cost = c.bound}});
        std::atomic<int> taken = 0;
        bool roomTooEarly = false; // room for a file beyond those that fit before any was written
        std::thread caller([&] {
            for (int i = 0; i < 20; ++i) {
                tree.MakeRoom(c.fileSize);
                {
                    std::lock_guard<std::mutex> held(lock);
                    roomTooEarly = roomTooEarly || (i >= c.fit && !released);
                }
                tree.Take(InMemory("__A\\", std::to_string(i), std::string(c.fileSize, 'x')));
                ++taken;
            }
        });
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (taken < c.fit && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(taken, c.fit) << c.name;
        {
            std::lock_guard<std::mutex> held(lock);
            released = true;
        }
        changed.notify_all();
        caller.join();
        EXPECT_FALSE(roomTooEarly) << c.name << ": more files taken while none was written";
        EXPECT_EQ(tree.Finish().WrittenFiles, 20u) << c.name;
    }
}

// Memory that runs out on a worker of any job ends the run as it would on the caller's thread: no
// worker takes another task, and the caller's next call into the pool throws.
TEST(Pool, MemoryRunningOutOnAWorkerThrowsOnTheCallersThread) {
    std::atomic<int> ran = 0;
    extract::BoundedPool<int> pool(
        2, {.BatchTasks = 1},
        [&](int& task) {
            ++ran;
            if (task == 3) {
                throw std::bad_alloc();
            }
        },
        [](int&) {});
    EXPECT_THROW(
        {
            // Far more tasks than may be in flight, so that the caller must wait for the workers
            // however slowly the failing one is scheduled.
            for (int task = 0; task < 100000; ++task) {
                pool.WaitForRoom(1);
                pool.Submit(task, 1);
            }
            pool.WaitUntilFinished();
        },
        std::bad_alloc);
    EXPECT_LT(ran.load(), 100000);
}

// Memory that runs out on a writer ends the run at once, as it would one file at a time, and
// nothing is left cut.
TEST(OutputTree, MemoryRunningOutOnAWriterEndsTheRunPromptly) {
    testing_support::TempFolder folder;
    FaultyDisk disk(folder.Path());
    std::atomic<int> takenWhenItFailed = -1;
    std::atomic<int> taken = 0;
    disk.Fault = [&](const std::string& step, const std::string& path) -> platform::ErrorCode {
        if (step == "create" && path == "__A/100") {
            takenWhenItFailed = taken.load();
            throw std::bad_alloc();
        }
        return platform::NoError;
    };
    extract::OutputTree tree(disk, NoLayout(), {.Writers = 2});
    int thrownAt = -1;
    try {
        for (int i = 0; i < 5000; ++i) {
            tree.MakeRoom(1000);
            tree.Take(InMemory("__A\\", std::to_string(i), std::string(1000, 'x')));
            ++taken;
        }
        tree.Finish();
    } catch (const std::bad_alloc&) {
        thrownAt = taken;
    }
    ASSERT_GE(takenWhenItFailed, 100);
    EXPECT_GE(thrownAt, takenWhenItFailed.load());
    // The caller goes on taking files only while the writer's exception unwinds: at most the
    // 1,024 files that may be in flight, however slowly it unwinds (under a sanitizer, say).
    EXPECT_LE(thrownAt, takenWhenItFailed + 1024) << "not at the end of the run";
    for (const auto& [path, bytes] : testing_support::Tree(folder.Path())) {
        EXPECT_TRUE(path == "__A/" || bytes.size() == 1000) << path;
    }
}

// A file whose bytes the archive no longer holds when its writer copies them (it shrank since it
// was opened) still gets its size, zeros where the bytes are missing, and counts as completed with
// zeros.
TEST(OutputTree, AFileCopiedShortOfItsClaimGetsAZeroTail) {
    testing_support::TempFolder folder;
    testing_support::WriteFile(folder.Path() / "archive", std::string(100000, 'a'));
    csc::ByteSource source = csc::FileSource((folder.Path() / "archive").string());
    fs::resize_file(folder.Path() / "archive", 70000);
    jobs::ArchiveRanges ranges;
    ranges.Serve(source);
    extract::NativeDisk disk(testing_support::OutputRootAt(folder.Path()));
    extract::OutputTree tree(disk, NoLayout(), {.Writers = 2});
    tree.Take(extract::Entry{
        .Path = layout::BuildOutputPath("__A\\", "", "out"),
        .Content = extract::ArchiveRange{.Source = &ranges,
                                         .Offset = 0,
                                         .Count = 100000,
                                         .Spare = std::make_unique<std::uint8_t[]>(100000)},
        .Size = 100000});
    extract::TreeReport report = tree.Finish();
    csc::Close(source);
    EXPECT_EQ(report.ZeroFilledFiles, 1u);
    EXPECT_EQ(testing_support::ReadFile(folder.Path() / "__A/out"),
              std::string(70000, 'a') + std::string(30000, '\0'));
}

// A file's bytes go from the archive to the output inside the system where it can, through the
// spare buffer where it cannot (an archive in memory); the archive's end ends the copy, and a
// refused write is told from it.
TEST(OutputTree, TheDiskCopiesARangeAndTellsAnEndFromARefusedWrite) {
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    testing_support::TempFolder folder;
    testing_support::WriteFile(folder.Path() / "archive", bytes);
    csc::ByteSource file = csc::FileSource((folder.Path() / "archive").string());
    csc::ByteSource memory =
        csc::MemorySource(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    extract::NativeDisk disk(testing_support::OutputRootAt(folder.Path()));
    const struct Case {
        std::uint64_t offset;
        std::size_t count;
        std::size_t copied;
    } cases[] = {{0, 200000, 200000}, {123457, 100000, 76543}, {200000, 5, 0}, {300000, 5, 0}};
    std::string out = (folder.Path() / "out").string();
    for (const csc::ByteSource* source : {&file, &memory}) {
        jobs::ArchiveRanges ranges;
        ranges.Serve(*source);
        for (const Case& c : cases) {
            platform::FileHandle output = testing_support::CreateForWriting(out);
            extract::ArchiveRange range{.Source = &ranges,
                                        .Offset = c.offset,
                                        .Count = c.count,
                                        .Spare = std::make_unique<std::uint8_t[]>(c.count)};
            extract::Disk::Copied copied = disk.Copy(range, output);
            platform::Close(output);
            EXPECT_EQ(copied.Bytes, c.copied) << c.offset;
            EXPECT_EQ(copied.Refused, platform::NoError);
            EXPECT_EQ(copied.Unread, platform::NoError);
            EXPECT_EQ(testing_support::ReadFile(out),
                      bytes.substr(std::min<std::uint64_t>(c.offset, bytes.size()), c.copied));
        }
        platform::FileHandle readOnly = platform::InvalidFile;
        ASSERT_EQ(platform::OpenForReading(out, readOnly), platform::NoError);
        extract::ArchiveRange range{.Source = &ranges,
                                    .Offset = 0,
                                    .Count = 10,
                                    .Spare = std::make_unique<std::uint8_t[]>(10)};
        EXPECT_NE(disk.Copy(range, readOnly).Refused, platform::NoError);
        platform::Close(readOnly);
    }
    csc::Close(file);
}

// A second run leaves a file that holds its bytes as it stands: it is opened and read, and
// nothing is created, written, synced or renamed. A file that differs is replaced, synced first
// unless the output folder is held in memory; a file in a folder this run made is written at
// once, without a look.
TEST(OutputTree, AFileThatHoldsItsBytesIsLeftAloneAndOnlyReplacementsAreSynced) {
    testing_support::TempFolder folder;
    MemoryRange large(std::string(100000, 'L'));
    auto write = [&](FaultyDisk& disk, const std::string& small, std::uint64_t smallSize) {
        extract::OutputTree tree(disk, NoLayout(), {.Writers = 2});
        tree.Take(InMemory("__A\\", "small", small, smallSize));
        tree.Take(Copied("__A\\", "large", large, 100000));
        return tree.Finish();
    };
    for (bool inMemory : {false, true}) {
        fs::remove_all(folder.Path() / "__A");
        FaultyDisk first(folder.Path());
        first.InMemory = inMemory;
        EXPECT_EQ(write(first, "small", 0).WrittenFiles, 2u);
        EXPECT_EQ(first.Steps(),
                  (std::map<std::string, int>{
                      {"folder", 1}, {"create", 2}, {"write", 1}, {"copy", 1}, {"close", 2}}))
            << "a new folder: written at once, no look, no sync";
        struct stat before {};
        ASSERT_EQ(::stat((folder.Path() / "__A/small").c_str(), &before), 0);

        FaultyDisk again(folder.Path());
        again.InMemory = inMemory;
        extract::TreeReport same = write(again, "small", 0);
        EXPECT_EQ(same.WrittenFiles, 0u);
        EXPECT_EQ(same.UnchangedFiles, 2u);
        std::map<std::string, int> steps = again.Steps();
        EXPECT_EQ(steps["open"], 2);
        EXPECT_EQ(steps["close"], 2);
        EXPECT_GE(steps["read"], 2);
        for (const char* step : {"create", "write", "copy", "sync", "rename", "place"}) {
            EXPECT_EQ(steps[step], 0) << step;
        }
        struct stat after {};
        ASSERT_EQ(::stat((folder.Path() / "__A/small").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "left as it stood";

        // The same bytes with a zero tail of a different length, then other bytes of one size.
        for (const auto& [bytes, size] :
             {std::pair<std::string, std::uint64_t>{"small", 8}, {"SMALL", 0}}) {
            FaultyDisk changed(folder.Path());
            changed.InMemory = inMemory;
            extract::TreeReport report = write(changed, bytes, size);
            EXPECT_EQ(report.WrittenFiles, 1u) << bytes;
            EXPECT_EQ(report.UnchangedFiles, 1u) << bytes;
            EXPECT_EQ(changed.Steps()["sync"], inMemory ? 0 : 1) << bytes;
            EXPECT_EQ(changed.Steps()["copy"], 0) << "the large file is left alone";
            std::string expectedBytes = bytes + std::string(size > 0 ? size - 5 : 0, '\0');
            EXPECT_EQ(testing_support::ReadFile(folder.Path() / "__A/small"), expectedBytes);
        }
    }

    // A zero tail of a gibibyte is a hole that a second run does not read; other bytes where the
    // tail goes (an archive that has shrunk since) make the file be written again, and a tail
    // written out as zeros (a file system without holes) still holds the file's bytes.
    fs::path tailed = folder.Path() / "__B/tail";
    auto writeTail = [&](std::uint64_t size, std::uint64_t& bytesRead) {
        FaultyDisk disk(folder.Path());
        extract::OutputTree tree(disk, NoLayout(), {});
        tree.Take(InMemory("__B\\", "tail", "head", size));
        extract::TreeReport report = tree.Finish();
        bytesRead = disk.BytesRead();
        return report;
    };
    std::uint64_t bytesRead = 0;
    EXPECT_EQ(writeTail(1ull << 30, bytesRead).WrittenFiles, 1u);
    EXPECT_EQ(writeTail(1ull << 30, bytesRead).UnchangedFiles, 1u);
    EXPECT_LT(bytesRead, 1u << 20);
    int file = ::open(tailed.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(file, "x", 1, 1 << 29), 1);
    ::close(file);
    EXPECT_EQ(writeTail(1ull << 30, bytesRead).WrittenFiles, 1u);
    file = ::open(tailed.c_str(), O_RDONLY);
    char byte = 'x';
    ASSERT_EQ(::pread(file, &byte, 1, 1 << 29), 1);
    ::close(file);
    EXPECT_EQ(byte, '\0');
    testing_support::WriteFile(tailed, std::string("head") + std::string(100000, '\0'));
    EXPECT_EQ(writeTail(100004, bytesRead).UnchangedFiles, 1u);
}
