#pragma once

#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

// The one place that knows about threads: a small pool of workers that run tasks handed over by one
// caller thread, in batches, with the cost and the number of the tasks in flight bounded. Finished
// tasks go back to the caller's thread, which settles them (done) and frees what they hold, so that
// nothing but the queues below is shared. With no workers, every task runs and is settled at once
// on the caller's thread.
//
// Memory that runs out on a worker ends the run as it does on the caller's thread: the task stops,
// no worker takes another, and the caller's next call into the pool throws std::bad_alloc. That is
// the one rule for every job that works through the pool.
namespace extract {

struct PoolBounds {
    // At most this much cost in flight (a task's cost is the memory it holds), but one task always
    // passes, however costly.
    std::uint64_t Cost = std::uint64_t{16} << 20;
    // Few enough tasks wait that their buffers are still in the processor's cache when a worker
    // takes them: on 131,070 files of 2 KiB, this cap made a run 6 % faster than the cost bound
    // alone, which let some 7,000 files wait.
    std::size_t Tasks = 1024;
    // Tasks are handed over and taken a few at a time, so that the lock and the wake-ups cost
    // little per task.
    std::size_t BatchTasks = 16;
    std::uint64_t BatchCost = 64u << 10;
};

// Workers need little stack; a small one keeps a pool from taking the address space of a process
// whose address space is limited. Sanitizers grow every frame.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t WorkerStackBytes = std::size_t{4} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr std::size_t WorkerStackBytes = std::size_t{4} << 20;
#else
inline constexpr std::size_t WorkerStackBytes = 256u << 10;
#endif
#else
inline constexpr std::size_t WorkerStackBytes = 256u << 10;
#endif

// As many workers as the machine has hardware threads, at most MostMachineWorkers; none (the
// caller's thread does every task) on a machine with one.
inline constexpr unsigned MostMachineWorkers = 8;
inline unsigned MachineWorkers() {
    unsigned hardware = std::thread::hardware_concurrency();
    return hardware <= 1 ? 0 : std::min(hardware, MostMachineWorkers);
}

template <typename Task> class BoundedPool {
  public:
    // work runs on a worker, outside the lock, and throws nothing but std::bad_alloc; done runs on
    // the caller's thread for every task that ran to its end, in the order they finished. A worker
    // that cannot be started leaves fewer, or none.
    BoundedPool(unsigned workers, PoolBounds bounds, std::function<void(Task&)> work,
                std::function<void(Task&)> done)
        : bounds_(bounds), work_(std::move(work)), done_(std::move(done)) {
        if (workers == 0) {
            return;
        }
        // Everything the queues will ever hold is allocated here, so that handing over and taking
        // tasks allocates nothing, under the lock or on a worker.
        queue_.resize(bounds_.Tasks + 1);
        finished_.reserve(bounds_.Tasks + 1);
        collected_.reserve(bounds_.Tasks + 1);
        outbox_.reserve(bounds_.BatchTasks);
        workers_.resize(workers);
        for (Worker& worker : workers_) {
            worker.Taken.reserve(bounds_.BatchTasks);
        }
        for (unsigned i = 0; i < workers; ++i) {
            workers_[i].Pool = this;
            if (platform::StartThread(workers_[i].Thread, &BoundedPool::RunWorker, &workers_[i],
                                      WorkerStackBytes) != platform::NoError) {
                workers_.resize(i);
                break;
            }
        }
    }

    // Finishes the tasks handed over, or, once Stop or Abandon was called, only those running.
    ~BoundedPool() {
        if (!workers_.empty()) {
            if (!stop_.load()) {
                HandOver();
            }
            {
                std::lock_guard<std::mutex> held(lock_);
                draining_ = true;
            }
            workArrived_.notify_all();
            for (Worker& worker : workers_) {
                platform::JoinThread(worker.Thread);
            }
            DropQueued();
            finished_.swap(collected_);
        }
        Collect();
    }
    BoundedPool(const BoundedPool&) = delete;
    BoundedPool& operator=(const BoundedPool&) = delete;

    unsigned Workers() const { return static_cast<unsigned>(workers_.size()); }

    // Waits, settling finished tasks, until a task of cost may be handed over; call before
    // obtaining what the task will hold, so that what the tasks in flight hold stays within the
    // bound.
    void WaitForRoom(std::uint64_t cost) {
        WaitUntil([&] { return RoomFor(cost); });
    }

    // Throws std::bad_alloc where memory ran out on a worker.
    void Submit(Task task, std::uint64_t cost) {
        if (workers_.empty()) {
            work_(task);
            done_(task);
            return;
        }
        ThrowIfOutOfMemory();
        outbox_.push_back(Slot{std::move(task), cost});
        outboxCost_ += cost;
        ++jobsInFlight_;
        costInFlight_ += cost;
        if (outbox_.size() >= bounds_.BatchTasks || outboxCost_ >= bounds_.BatchCost) {
            HandOver();
        }
    }

    // Waits, settling finished tasks, until ready() holds or no task is in flight any more. Throws
    // std::bad_alloc where memory ran out on a worker.
    template <typename Ready> void WaitUntil(Ready ready) {
        ThrowIfOutOfMemory();
        if (ready()) {
            return;
        }
        HandOver();
        while (!ready() && jobsInFlight_ > 0) {
            {
                std::unique_lock<std::mutex> held(lock_);
                callerWaiting_ = true;
                jobDone_.wait(held,
                              [&] { return !finished_.empty() || (Stopped() && queued_ > 0); });
                callerWaiting_ = false;
                if (Stopped()) {
                    DropQueued(); // no worker takes them any more
                }
                finished_.swap(collected_);
            }
            Collect();
        }
        ThrowIfOutOfMemory();
    }

    // Waits until every task handed over has run and been settled.
    void WaitUntilFinished() {
        WaitUntil([] { return false; });
    }

    // From work, on a worker: no worker takes another task; those running finish. The caller learns
    // of it through Stopped.
    void Stop() { stop_.store(true); }
    bool Stopped() const { return stop_.load(std::memory_order_relaxed); }

    // Drops every task not yet taken and waits for those running; they are settled as usual.
    void Abandon() {
        stop_.store(true);
        jobsInFlight_ -= outbox_.size();
        costInFlight_ -= outboxCost_;
        outbox_.clear();
        outboxCost_ = 0;
        {
            std::lock_guard<std::mutex> held(lock_);
            DropQueued();
        }
        workArrived_.notify_all();
        WaitUntilFinished();
    }

  private:
    // What is left of the tasks in flight is settled first, so that a task stopped halfway has
    // cleaned up after itself.
    void ThrowIfOutOfMemory() {
        if (!outOfMemory_.load()) {
            return;
        }
        outOfMemory_.store(false); // thrown once; the pool stays stopped
        HandOver();
        WaitUntil([] { return false; });
        throw std::bad_alloc();
    }

    struct Slot {
        Task Work{};
        std::uint64_t Cost = 0;
        bool Ran = false;
    };
    struct Worker {
        BoundedPool* Pool = nullptr;
        platform::Thread Thread;
        std::vector<Slot> Taken; // the batch being worked on; the worker's own
    };

    // Under lock_, or with no worker left: frees the queued tasks, which will never run.
    void DropQueued() {
        for (; queued_ > 0; --queued_) {
            costInFlight_ -= queue_[head_].Cost;
            queue_[head_] = Slot{};
            head_ = (head_ + 1) % queue_.size();
            --jobsInFlight_;
        }
    }

    bool RoomFor(std::uint64_t cost) const {
        return jobsInFlight_ == 0 ||
               (costInFlight_ + cost <= bounds_.Cost && jobsInFlight_ < bounds_.Tasks);
    }

    // Queues the outbox for the workers and takes back what they finished.
    void HandOver() {
        if (workers_.empty()) {
            return;
        }
        bool wake = false;
        {
            std::lock_guard<std::mutex> held(lock_);
            for (Slot& slot : outbox_) {
                queue_[(head_ + queued_) % queue_.size()] = std::move(slot);
                ++queued_;
            }
            wake = idle_ > 0 && !outbox_.empty();
            finished_.swap(collected_);
        }
        outbox_.clear();
        outboxCost_ = 0;
        if (wake) {
            workArrived_.notify_all();
        }
        Collect();
    }

    // Settles the finished tasks taken back, on the caller's thread, and frees what they hold.
    void Collect() {
        for (Slot& slot : collected_) {
            --jobsInFlight_;
            costInFlight_ -= slot.Cost;
            if (slot.Ran) {
                done_(slot.Work);
            }
        }
        collected_.clear();
    }

    static void RunWorker(void* raw) {
        Worker& worker = *static_cast<Worker*>(raw);
        worker.Pool->WorkerLoop(worker.Taken);
    }

    void WorkerLoop(std::vector<Slot>& taken) {
        std::unique_lock<std::mutex> held(lock_);
        while (true) {
            ++idle_;
            workArrived_.wait(held, [&] { return queued_ > 0 || draining_ || stop_.load(); });
            --idle_;
            if (queued_ == 0 || stop_.load()) {
                return;
            }
            std::uint64_t cost = 0;
            while (queued_ > 0 && taken.size() < bounds_.BatchTasks && cost < bounds_.BatchCost) {
                cost += queue_[head_].Cost;
                taken.push_back(std::move(queue_[head_]));
                head_ = (head_ + 1) % queue_.size();
                --queued_;
            }
            held.unlock();
            for (Slot& slot : taken) {
                if (stop_.load()) {
                    break; // the rest is dropped, as a queued task would be
                }
                try {
                    work_(slot.Work);
                    slot.Ran = true;
                } catch (const std::bad_alloc&) {
                    outOfMemory_.store(true);
                    stop_.store(true);
                }
            }
            held.lock();
            for (Slot& slot : taken) {
                finished_.push_back(std::move(slot));
            }
            taken.clear();
            if (callerWaiting_) {
                jobDone_.notify_one();
            }
        }
    }

    const PoolBounds bounds_;
    const std::function<void(Task&)> work_;
    const std::function<void(Task&)> done_;
    std::vector<Worker> workers_; // set up before the workers start, never resized after

    // The caller's own; no worker touches them.
    std::vector<Slot> outbox_;
    std::uint64_t outboxCost_ = 0;
    std::size_t jobsInFlight_ = 0; // handed in and not yet settled
    std::uint64_t costInFlight_ = 0;
    std::vector<Slot> collected_; // swapped with finished_ under the lock, then settled

    std::mutex lock_;
    // Under lock_: the ring of queued tasks, the tasks finished and not yet taken back, and who
    // waits.
    std::vector<Slot> queue_;
    std::size_t head_ = 0;
    std::size_t queued_ = 0;
    std::vector<Slot> finished_;
    unsigned idle_ = 0;
    bool callerWaiting_ = false;
    bool draining_ = false; // the caller has handed over its last task: workers stop once idle
    std::condition_variable workArrived_; // to the workers, under lock_
    std::condition_variable jobDone_;     // to the caller, under lock_
    // Read by everyone without lock_: once set, no worker takes another task.
    std::atomic<bool> stop_ = false;
    std::atomic<bool> outOfMemory_ = false; // a worker ran out; the caller throws
};

} // namespace extract
