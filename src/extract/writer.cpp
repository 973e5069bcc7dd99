#include "extract/writer.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace extract {

struct WriterState {
    platform::NameRules Rules = platform::NativeNameRules;
    std::uint64_t BytesAllowed = DefaultBytesInFlight;

    std::mutex Lock;
    std::condition_variable WorkArrived; // to the writers
    std::condition_variable WorkDone;    // to the thread that hands files over
    struct Pending {
        std::uint64_t Order = 0;
        std::string Key;
        FileJob Job;
    };
    std::deque<Pending> Queue;
    // Buffers written out, handed back so that the thread that made them frees them: a buffer
    // unmapped on another thread costs every core a flush of its address cache.
    std::vector<std::unique_ptr<std::uint8_t[]>> Spent;
    unsigned IdleWriters = 0;
    bool CallerWaiting = false;
    std::unordered_map<std::string, unsigned> PathsInFlight; // by PathKey, queued or being written
    std::uint64_t BytesInFlight = 0;
    std::uint64_t Handed = 0;
    std::uint64_t Finished = 0;
    bool Stopping = false;
    bool OutOfMemory = false; // a writer could not allocate: the run ends as if the caller had not

    WriteReport Report;
    std::uint64_t FirstUnwrittenOrder = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t FirstZeroFilledOrder = std::numeric_limits<std::uint64_t>::max();

    std::vector<std::thread> Writers;
};

namespace {

bool IsSeparator(char character) {
    return character == '\\' || character == '/';
}

// The file a path names, as one string: both separators alike, doubled ones and "." components
// gone, no trailing separator, and on Windows, whose file systems ignore case, ASCII letters in
// lower case. Two paths of one key name the same file.
std::string PathKey(std::string_view path, platform::NameRules rules) {
    std::string key;
    key.reserve(path.size());
    std::size_t begin = 0;
    for (std::size_t end = 0; end <= path.size(); ++end) {
        if (end < path.size() && !IsSeparator(path[end])) {
            continue;
        }
        std::string_view component = path.substr(begin, end - begin);
        if (!component.empty() && component != ".") {
            if (!key.empty()) {
                key += '/';
            }
            for (char character : component) {
                if (rules == platform::NameRules::Windows && character >= 'A' && character <= 'Z') {
                    character = static_cast<char>(character - 'A' + 'a');
                }
                key += character;
            }
        }
        begin = end + 1;
    }
    return key;
}

void Record(WriterState& state, std::uint64_t order, const FileJob& job, bool written,
            platform::ErrorCode reason) {
    WriteReport& report = state.Report;
    if (!written) {
        ++report.UnwrittenFiles;
        if (order < state.FirstUnwrittenOrder) {
            state.FirstUnwrittenOrder = order;
            report.FirstUnwritten = job.Path;
            report.FirstUnwrittenReason = reason;
        }
    } else if (job.Delivered < job.Size) {
        ++report.ZeroFilledFiles;
        if (order < state.FirstZeroFilledOrder) {
            state.FirstZeroFilledOrder = order;
            report.FirstZeroFilled = job.Path;
        }
    }
}

// The bytes a file holds in memory until its buffer is freed: the buffer and the bookkeeping.
std::uint64_t Charge(const FileJob& job) {
    return job.Delivered + 256 + job.Path.size();
}

void WriteOne(WriterState& state, WriterState::Pending& pending,
              std::unique_lock<std::mutex>& held) {
    held.unlock();
    bool written = false;
    bool outOfMemory = false;
    platform::ErrorCode reason = platform::NoError;
    try {
        const FileJob& job = pending.Job;
        written = WriteOutputFile(job.Path, job.Bytes.get(), job.Delivered, job.Size, reason);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    held.lock();
    state.OutOfMemory = state.OutOfMemory || outOfMemory;
    if (!outOfMemory) {
        Record(state, pending.Order, pending.Job, written, reason);
    }
    state.Spent.push_back(std::move(pending.Job.Bytes));
    state.BytesInFlight -= Charge(pending.Job);
    auto path = state.PathsInFlight.find(pending.Key);
    if (--path->second == 0) {
        state.PathsInFlight.erase(path);
    }
    ++state.Finished;
}

// Frees the buffers the writers are done with, on the caller's thread, outside the lock.
void FreeSpent(WriterState& state, std::unique_lock<std::mutex>& held) {
    if (state.Spent.empty()) {
        return;
    }
    std::vector<std::unique_ptr<std::uint8_t[]>> spent;
    spent.swap(state.Spent);
    held.unlock();
    spent.clear();
    held.lock();
}

// Waits on the caller's side until done holds, freeing spent buffers meanwhile.
template <typename Done>
void CallerWait(WriterState& state, std::unique_lock<std::mutex>& held, Done done) {
    FreeSpent(state, held);
    while (!done()) {
        state.CallerWaiting = true;
        state.WorkDone.wait(held);
        state.CallerWaiting = false;
        FreeSpent(state, held);
    }
}

// A large file is written by the thread that read it, while its bytes are still in that core's
// cache: handing it to another core costs more than the other core saves. Measured on 1 MiB files,
// a writer thread took twice as long as the reading thread itself.
constexpr std::size_t WrittenInPlaceFrom = 256u << 10;

// Files are taken a few at a time, so that the lock and the wake-ups cost little per file.
constexpr std::size_t FilesTakenAtOnce = 16;

void WriterLoop(WriterState& state) {
    std::unique_lock<std::mutex> held(state.Lock);
    std::vector<WriterState::Pending> taken;
    while (true) {
        ++state.IdleWriters;
        state.WorkArrived.wait(held, [&] { return !state.Queue.empty() || state.Stopping; });
        --state.IdleWriters;
        if (state.Queue.empty()) {
            return;
        }
        std::uint64_t bytes = 0;
        while (!state.Queue.empty() && taken.size() < FilesTakenAtOnce && bytes < (64u << 10)) {
            bytes += state.Queue.front().Job.Delivered;
            taken.push_back(std::move(state.Queue.front()));
            state.Queue.pop_front();
        }
        for (WriterState::Pending& pending : taken) {
            WriteOne(state, pending, held);
        }
        taken.clear();
        if (state.CallerWaiting) {
            state.WorkDone.notify_all();
        }
    }
}

} // namespace

unsigned DefaultWriterThreads() {
    unsigned hardware = std::thread::hardware_concurrency();
    if (hardware <= 1) {
        return 0;
    }
    return hardware < MostWriterThreads ? hardware : MostWriterThreads;
}

OutputWriter::OutputWriter(unsigned threads, platform::NameRules rules, std::uint64_t bytesInFlight)
    : state_(std::make_unique<WriterState>()) {
    state_->Rules = rules;
    state_->BytesAllowed = bytesInFlight;
    for (unsigned i = 0; i < threads; ++i) {
        try {
            state_->Writers.emplace_back(WriterLoop, std::ref(*state_));
        } catch (const std::system_error&) {
            break; // fewer writers, or none: the caller's thread writes
        }
    }
}

OutputWriter::~OutputWriter() {
    {
        std::lock_guard<std::mutex> held(state_->Lock);
        state_->Stopping = true;
    }
    state_->WorkArrived.notify_all();
    for (std::thread& writer : state_->Writers) {
        writer.join();
    }
}

void OutputWriter::WaitForRoom(std::uint64_t size) {
    WriterState& state = *state_;
    std::unique_lock<std::mutex> held(state.Lock);
    CallerWait(state, held, [&] {
        return state.BytesInFlight == 0 || state.BytesInFlight + size <= state.BytesAllowed;
    });
}

void OutputWriter::WaitForPath(std::string_view path) {
    WriterState& state = *state_;
    std::string key = PathKey(path, state.Rules);
    std::unique_lock<std::mutex> held(state.Lock);
    CallerWait(state, held, [&] { return state.PathsInFlight.count(key) == 0; });
}

void OutputWriter::Submit(FileJob job) {
    WriterState& state = *state_;
    WriterState::Pending pending{.Order = 0, .Key = PathKey(job.Path, state.Rules), .Job = {}};
    std::unique_lock<std::mutex> held(state.Lock);
    // The earlier file of the same path is written first, so this one replaces it.
    CallerWait(state, held, [&] { return state.PathsInFlight.count(pending.Key) == 0; });
    pending.Order = state.Handed++;
    state.BytesInFlight += Charge(job);
    ++state.PathsInFlight[pending.Key];
    bool large = job.Delivered >= WrittenInPlaceFrom;
    pending.Job = std::move(job);
    if (state.Writers.empty() || large) {
        WriteOne(state, pending, held);
        FreeSpent(state, held);
        if (state.OutOfMemory) {
            throw std::bad_alloc(); // one at a time, the run ends at this file
        }
        return;
    }
    state.Queue.push_back(std::move(pending));
    bool wake = state.IdleWriters > 0;
    held.unlock();
    if (wake) {
        state.WorkArrived.notify_one();
    }
}

WriteReport OutputWriter::Finish() {
    WriterState& state = *state_;
    std::unique_lock<std::mutex> held(state.Lock);
    if (state.IdleWriters > 0) {
        state.WorkArrived.notify_all();
    }
    CallerWait(state, held, [&] { return state.Finished == state.Handed; });
    if (state.OutOfMemory) {
        throw std::bad_alloc();
    }
    return state.Report;
}

bool WriteOutputFile(const std::string& path, const std::uint8_t* bytes, std::size_t delivered,
                     std::uint64_t size, platform::ErrorCode& reason) {
    platform::FileHandle output = platform::CreateReplacing(path);
    if (output == platform::InvalidFile) {
        reason = platform::LastError();
        return false;
    }
    bool complete = platform::Write(output, bytes, delivered) == delivered;
    if (complete && size > delivered) {
        complete = platform::Extend(output, size);
    }
    if (!complete) {
        reason = platform::LastError();
    }
    if (!platform::Close(output) && complete) {
        complete = false;
        reason = platform::LastError();
    }
    if (!complete) {
        platform::RemoveFile(path);
    }
    return complete;
}

} // namespace extract
